#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace x = expected;
namespace fs = std::filesystem;

const Bytes kKey = "0123456789abcdef";
const std::string kDump1 = "30 31 32 33 34 35 36 37 ";
const std::string kDump2 = "38 39 61 62 63 64 65 66 ";

// Worked out apart from the tool: AES-128-CBC, zero IV, no padding, over the 272-byte block
// "notes.txt.AACS" + 258 zero bytes, key "0123456789abcdef".
const char kNotesNameBlock[] =
    "8c85517ceca523ec121265ae292ccfcd7188f3599efe0a1da61d4fe40826afd3"
    "b408eb7df7e1be9b184f5267e5e36846fd137321002fd28f8eb5646dd74aeb82"
    "81ffb156e8fd57fe3fb38a57593281fdfdec65fc060eb52a113c0af76151e5f5"
    "f3cb98a869c7cb6895d5b743c2196d4170d86688e3131c07b17485e10660dfaf"
    "7bb4aaf8780fc0636660ee12bafae0d64294dff8e20d8271c067f109ac69b76f"
    "07a05b40e7aa4c159b601e68b6acf28b40065a9ddeb7ba6c440da0186898b6f1"
    "9f01f9fb881f96a6d965c6477e0ced5d3ef00cdd0c6045d37d320332572a6c9a"
    "25aeb850bade772ca06a3686275846895af0defe395b531f77df14d14e2a7071"
    "877c8d6806b1709876499e1cb7dcdcd1";

// The same for "Readme.TXT.AACS" + 257 zero bytes under the key 000f10abff7e8091a0b0c0d0e0f00102.
const char kReadmeNameBlock[] =
    "828425bec240f565f9b5e73af1ce47a31c91615f14415d7be1161905132e3a3b"
    "9cd9ebe685e538a9421c25c590070f73eaa831d655c4f492fd1b20653c7edde3"
    "cb92aaafd6e58aba613dd656c2526e8165f3171602d3a676c319ad2aa2b30a30"
    "603e0984f8ced855f579acc21ac201bea6fb06f8f26384438a39337d7f592fea"
    "63897a28b73085b5d5e3e55420a1fb0ebd59b132798268ea66512ba29e230698"
    "4368290d736636f2b389f4f6a787827a9647bb93aac02d11cc76489430ce46ad"
    "9c801c604261b6e790734e96c84973c61f1663ca38994dbe03698bf0e67aef66"
    "4cd7290145e7662e2feb502960907b80279b73190fe8360db562d9a8738d3342"
    "5bb45aaceb5fef34f01d804ca6586c40";

TEST(NonProtected, ContainerMatchesBytesWorkedOutIndependently) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("notes.txt", "hello");
  w.MakeFolder("out");
  ToolRun run = w.Run({"-e", "-p", "notes.txt", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath("out/notes.txt") + x::NonProtectedEncapsulated(kDump1, kDump2));
  EXPECT_EQ(w.Read("out/notes.txt"),
            Bytes("AACS\x21\x00\x01\x00\x00\x00\x05", 11) + x::FromHex(kNotesNameBlock) + "hello");
}

TEST(NonProtected, KeyDumpDigitsAndCaseFoldedNameCheck) {
  Workspace w;
  w.Write("key", x::FromHex("000f10abff7e8091a0b0c0d0e0f00102"));
  w.Write("Readme.TXT", "");
  w.MakeFolder("out");
  w.MakeFolder("back");
  ToolRun run = w.Run({"-e", "-p", "Readme.TXT", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath("out/Readme.TXT") +
                         x::NonProtectedEncapsulated("0 f 10 ab ff 7e 80 91 ",
                                                     "a0 b0 c0 d0 e0 f0 1 2 "));
  EXPECT_EQ(w.Read("out/Readme.TXT"),
            Bytes("AACS\x21\x00\x01\x00\x00\x00\x00", 11) + x::FromHex(kReadmeNameBlock));
  // Under a name that differs only in the case of A to Z the name still matches.
  fs::rename(w.Path("out/Readme.TXT"), w.Path("out/readme.txt"));
  run = w.Run({"-d", "out/readme.txt", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/readme.txt") + x::NonProtectedDecapsulated(true));
  EXPECT_EQ(w.Read("back/readme.txt"), "");
  fs::rename(w.Path("out/readme.txt"), w.Path("out/README.TXT"));
  run = w.Run({"-d", "out/README.TXT", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/README.TXT") + x::NonProtectedDecapsulated(true));
}

class RoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(RoundTrip, RestoresTheContentAndMatchesTheName) {
  const std::size_t size = GetParam();
  Workspace w;
  w.Write("key", kKey);
  Bytes content = SampleContent(size, static_cast<std::uint32_t>(size) + 7);
  w.Write("in/data.bin", content);
  MakeDiscImage(w, "img");
  w.MakeFolder("back");
  ToolRun run = w.Run({"-e", "-d", "in/data.bin", "img", "key"});
  EXPECT_EQ(run.out,
            x::ResultPath("img/ADV_OBJ/data.bin") + x::NonProtectedEncapsulated(kDump1, kDump2));
  Bytes container = w.Read("img/ADV_OBJ/data.bin");
  ASSERT_EQ(container.size(), 283 + size);
  Bytes header = "AACS";
  header += Bytes("\x21\x00\x01", 3);
  for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((size >> shift) & 0xFF);
  EXPECT_EQ(container.substr(0, 11), header);
  EXPECT_EQ(container.substr(283), content);

  run = w.Run({"-d", "img/ADV_OBJ/data.bin", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/data.bin") + x::NonProtectedDecapsulated(true));
  EXPECT_EQ(w.Read("back/data.bin"), content);
  EXPECT_EQ(w.List(), (std::vector<std::string>{"back", "back/data.bin", "img", "img/AACS",
                                                 "img/AACS/CONTENT_HASH_TABLE2.AACS",
                                                 "img/ADV_OBJ", "img/ADV_OBJ/data.bin", "in",
                                                 "in/data.bin", "key"}));
}

INSTANTIATE_TEST_SUITE_P(NonProtected, RoundTrip,
                         ::testing::Values(std::size_t{0}, std::size_t{1}, std::size_t{15},
                                           std::size_t{16}, std::size_t{272},
                                           std::size_t{1000}, std::size_t{100000}));

TEST(NonProtected, SizeFieldIsBigEndian) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", SampleContent(1000));
  w.MakeFolder("out");
  w.Run({"-e", "-p", "a.txt", "out", "key"});
  EXPECT_EQ(w.Read("out/a.txt").substr(7, 4), Bytes("\x00\x00\x03\xE8", 4));
}

// Whatever makes the name check fail, the content is still restored in full.
TEST(NonProtected, RenamedContainerOrAnotherKeyIsRejected) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("other.key", "fedcba9876543210");
  Bytes content = SampleContent(777);
  w.Write("notes.txt", content);
  w.MakeFolder("out");
  w.MakeFolder("back");
  w.Run({"-e", "-p", "notes.txt", "out", "key"});

  ToolRun run = w.Run({"-d", "out/notes.txt", "back", "other.key"});
  EXPECT_EQ(run.out, x::ResultPath("back/notes.txt") + x::NonProtectedDecapsulated(false));
  EXPECT_EQ(w.Read("back/notes.txt"), content);

  for (std::string renamed : {"notes.tx", "notes.txt2", "notes_txt", "motes.txt"}) {
    fs::copy_file(w.Path("out/notes.txt"), w.Path("out/" + renamed));
    run = w.Run({"-d", "out/" + renamed, "back", "key"});
    EXPECT_EQ(run.out, x::ResultPath("back/" + renamed) + x::NonProtectedDecapsulated(false))
        << renamed;
    EXPECT_EQ(w.Read("back/" + renamed), content);
  }
}

TEST(NonProtected, CaseOfAccentedLettersIsNotFolded) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("caf\xE9.txt", "coffee");  // Windows-1252 e-acute
  w.MakeFolder("out");
  w.MakeFolder("back");
  w.Run({"-e", "-p", "caf\xE9.txt", "out", "key"});
  fs::copy_file(w.Path("out/caf\xE9.txt"), w.Path("out/CAF\xC9.TXT"));
  fs::copy_file(w.Path("out/caf\xE9.txt"), w.Path("out/CAF\xE9.TXT"));
  EXPECT_EQ(w.Run({"-d", "out/CAF\xC9.TXT", "back", "key"}).out,
            x::ResultPath("back/CAF\xC9.TXT") + x::NonProtectedDecapsulated(false));
  EXPECT_EQ(w.Run({"-d", "out/CAF\xE9.TXT", "back", "key"}).out,
            x::ResultPath("back/CAF\xE9.TXT") + x::NonProtectedDecapsulated(true));
}

TEST(NonProtected, RestoredFileIsTheContainerPastItsFixedPart) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("back");
  // Not made by the tool: an arbitrary name block and a size field that disagrees.
  Bytes container = Bytes("AACS\x21\x00\x01\x00\x00\x00\x01", 11) + SampleContent(272, 3) +
                    SampleContent(4096, 4);
  w.Write("c.bin", container);
  ToolRun run = w.Run({"-d", "c.bin", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/c.bin") + x::NonProtectedDecapsulated(false));
  EXPECT_EQ(w.Read("back/c.bin"), container.substr(283));

  Bytes bare = Bytes("AACS\x21\x00\x01\x00\x00\x00\x09", 11) + SampleContent(272, 5);
  w.Write("bare.bin", bare);
  w.Run({"-d", "bare.bin", "back", "key"});
  EXPECT_EQ(w.Read("back/bare.bin"), "");
}

TEST(NonProtected, HandMadeContainerWithTheRightNameBlockMatches) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("back");
  w.Write("notes.txt", Bytes("AACS\x21\x00\x01\x00\x00\x00\x05", 11) +
                           x::FromHex(kNotesNameBlock) + "hello");
  ToolRun run = w.Run({"-d", "notes.txt", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/notes.txt") + x::NonProtectedDecapsulated(true));
  EXPECT_EQ(w.Read("back/notes.txt"), "hello");
}

TEST(NonProtected, LongestNameFillsTheNameBlock) {
  // 255 bytes is the longest name this file system takes; the name block then holds
  // 255 + 5 name bytes and 12 zero bytes, and the round trip still matches.
  Workspace w;
  w.Write("key", kKey);
  std::string name(251, 'n');
  name += ".txt";
  w.Write(name, "long");
  w.MakeFolder("o");
  w.MakeFolder("b");
  w.Run({"-e", "-p", name, "o", "key"});
  ToolRun run = w.Run({"-d", "o/" + name, "b", "key"});
  EXPECT_EQ(run.out, x::ResultPath("b/" + name) + x::NonProtectedDecapsulated(true));
  EXPECT_EQ(w.Read("b/" + name), "long");
}

}  // namespace
}  // namespace velador::testing

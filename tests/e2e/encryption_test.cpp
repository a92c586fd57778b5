// Encryption containers (type code 0x01) through the built tool: round trips, the exact bytes
// of one container, and the verdicts of damaged, renamed or wrongly keyed containers.

#include <gtest/gtest.h>

#include <string>

#include "e2e/type_reports.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

using namespace reports;

struct RoundTripCase {
  std::size_t size;
  bool forDisc;
};

class EncryptionRoundTrip : public ::testing::TestWithParam<RoundTripCase> {};

TEST_P(EncryptionRoundTrip, RestoresTheInputAndReportsExactly) {
  const RoundTripCase c = GetParam();
  Workspace w;
  w.Write("key.bin", kKey);
  const Bytes content = SampleContent(c.size, static_cast<std::uint32_t>(c.size) + 7);
  w.Write("src/pic.png", content);
  std::string container;
  if (c.forDisc) {
    MakeDiscImage(w, "img");
    container = "img/ADV_OBJ/pic.png";
  } else {
    w.MakeFolder("out");
    container = "out/pic.png";
  }
  w.MakeFolder("back");

  ToolRun run = w.Run({"-e", c.forDisc ? "-d" : "-p", "src/pic.png",
                       c.forDisc ? "img" : "out", "key.bin"});
  EXPECT_EQ(run.out, EncryptionEncapsulation(container, kKey));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  const Bytes bytes = w.Read(container);
  ASSERT_EQ(bytes.size(), 283 + c.size);
  EXPECT_EQ(bytes.substr(0, 11), Header(0x01, 0x01, static_cast<std::uint32_t>(c.size)));
  const std::size_t tail = c.size % 16;
  EXPECT_EQ(bytes.substr(bytes.size() - tail), content.substr(c.size - tail));
  if (c.size >= 16) {
    // The enciphered part must not hold the content in clear.
    EXPECT_NE(bytes.substr(283, 16), content.substr(0, 16));
  }

  run = w.Run({"-d", container, "back", "key.bin"});
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/pic.png", kKey, true));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(w.Read("back/pic.png") == content);
  ExpectNoLeftovers(w);
}

std::vector<RoundTripCase> RoundTripCases() {
  std::vector<RoundTripCase> cases;
  for (std::size_t size : {0u, 1u, 15u, 16u, 17u, 21u, 272u, 1000u, 1048581u}) {
    cases.push_back({size, true});
    cases.push_back({size, false});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(EncryptionSizes, EncryptionRoundTrip, ::testing::ValuesIn(RoundTripCases()),
                         [](const ::testing::TestParamInfo<RoundTripCase>& info) {
                           return std::to_string(info.param.size) +
                                  (info.param.forDisc ? "Disc" : "Storage");
                         });

// a.png holding "Hello, velador!\nABCDE" under kKey, worked out with an independent AES-128-CBC
// (all-zero IV, no padding) over the name block and the first 16 content bytes.
const char* const kSmallContainerHex =
    "4141435301000100000015"
    "e70305aba63510a482df2b71f4d0ec44ba9538390653248da4a446af6d8940f14a320e73f61ffe55f52052a44b"
    "0f06c583811ce6d4c1004d5c44204db8c67132c313020f35a1dbc44b78c5fa8e6c79d078fa54c94dc685a2344c"
    "0b64177b0910ec84f0190982c43d24874ded1174e36b63994d9beb9fee0dd507f82140ab710f0678e241911186"
    "dc32ee7ae46c59f8577b1f3b02a8523c31cba09f953cec9dc0b22e5f3a4e141e61475f68a9344c08d2ca1b0fa5"
    "d7c424c32498a7ec9d0e4f9f6786292ae71c9b91092edca445265068653d7c694af0e75f9dded9b3dd3170664b"
    "b5984f0baf2ac6a311773dcd65f65f600c32cb1e61c59af3a5e0f5d47c83f3ab42b39f851b497477dae6a6dd95"
    "3885c8dbfb4a92044873694ae175a0f0ef58"
    "4142434445";
const Bytes kSmallContent = "Hello, velador!\nABCDE";

class EncryptionContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    w.Write("key.bin", kKey);
    w.Write("other.bin", kOtherKey);
    w.Write("src/a.png", kSmallContent);
    w.MakeFolder("out");
    w.MakeFolder("back");
    ToolRun run = w.Run({"-e", "-p", "src/a.png", "out", "key.bin"});
    ASSERT_EQ(run.out, EncryptionEncapsulation("out/a.png", kKey));
  }

  // Puts `bytes` at out/`name` and decapsulates it into back/.
  ToolRun Decapsulate(const std::string& name, const Bytes& bytes,
                      const std::string& keyFile = "key.bin") {
    w.Write("out/" + name, bytes);
    return w.Run({"-d", "out/" + name, "back", keyFile});
  }

  Workspace w;
};

TEST_F(EncryptionContainer, HoldsTheIndependentlyComputedBytes) {
  EXPECT_EQ(w.Read("out/a.png"), FromHex(kSmallContainerHex));
}

TEST_F(EncryptionContainer, AnotherKeyGarblesTheEncipheredPartOnly) {
  ToolRun run = Decapsulate("a.png", w.Read("out/a.png"), "other.bin");
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/a.png", kOtherKey, false));
  const Bytes restored = w.Read("back/a.png");
  ASSERT_EQ(restored.size(), kSmallContent.size());
  EXPECT_NE(restored.substr(0, 16), kSmallContent.substr(0, 16));
  EXPECT_EQ(restored.substr(16), "ABCDE");
}

TEST_F(EncryptionContainer, RenamedContainerFailsTheNameCheck) {
  ToolRun run = Decapsulate("b.png", w.Read("out/a.png"));
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/b.png", kKey, false));
  EXPECT_EQ(w.Read("back/b.png"), kSmallContent);
}

TEST_F(EncryptionContainer, NameDifferingInLetterCaseOnlyMatches) {
  ToolRun run = Decapsulate("A.PNG", w.Read("out/a.png"));
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/A.PNG", kKey, true));
  EXPECT_EQ(w.Read("back/A.PNG"), kSmallContent);
}

TEST_F(EncryptionContainer, ChangedContentByteChangesTheContentButNotTheVerdict) {
  Bytes bytes = w.Read("out/a.png");
  bytes[283 + 3] = static_cast<char>(bytes[283 + 3] ^ 0x01);
  ToolRun run = Decapsulate("a.png", bytes);
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/a.png", kKey, true));
  const Bytes restored = w.Read("back/a.png");
  ASSERT_EQ(restored.size(), kSmallContent.size());
  EXPECT_NE(restored.substr(0, 16), kSmallContent.substr(0, 16));
  EXPECT_EQ(restored.substr(16), "ABCDE");
}

TEST_F(EncryptionContainer, ChangedClearTailByteShowsInTheRestoredFileOnly) {
  Bytes bytes = w.Read("out/a.png");
  bytes[bytes.size() - 2] = 'x';
  ToolRun run = Decapsulate("a.png", bytes);
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/a.png", kKey, true));
  EXPECT_EQ(w.Read("back/a.png"), "Hello, velador!\nABCxE");
}

TEST_F(EncryptionContainer, ChangedNameBlockByteFailsTheNameCheck) {
  Bytes bytes = w.Read("out/a.png");
  bytes[11] = static_cast<char>(bytes[11] ^ 0x80);
  ToolRun run = Decapsulate("a.png", bytes);
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/a.png", kKey, false));
}

TEST_F(EncryptionContainer, SizeFieldIsNotWhatLocatesTheContent) {
  Bytes bytes = w.Read("out/a.png");
  bytes.replace(7, 4, Number(3));
  ToolRun run = Decapsulate("a.png", bytes);
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/a.png", kKey, true));
  EXPECT_EQ(w.Read("back/a.png"), kSmallContent);
}

TEST_F(EncryptionContainer, LongerEarlierResultIsReplacedWhole) {
  w.Write("back/a.png", Bytes(5000, 'z'));
  ToolRun run = Decapsulate("a.png", w.Read("out/a.png"));
  EXPECT_EQ(run.out, EncryptionDecapsulation("back/a.png", kKey, true));
  EXPECT_EQ(w.Read("back/a.png"), kSmallContent);
  ExpectNoLeftovers(w);
}

TEST_F(EncryptionContainer, TooShortContainerIsRefusedBeforeTheOperation) {
  ToolRun run = Decapsulate("short.png", w.Read("out/a.png").substr(0, 282));
  EXPECT_EQ(run.out, kTooShort);
  EXPECT_EQ(run.status, 0);
  EXPECT_FALSE(w.Exists("back/short.png"));
  ExpectNoLeftovers(w);
}

TEST(EncryptionFiles, UsersFilesWithTheOldTemporaryNamesStayUntouched) {
  Workspace w;
  w.Write("key.bin", kKey);
  w.Write("temp_aacs.tmp", "mine");
  w.Write("temp_hash_aacs.tmp", "mine too");
  w.Write("src/a.png", kSmallContent);
  w.MakeFolder("out");
  w.MakeFolder("back");
  w.Run({"-e", "-p", "src/a.png", "out", "key.bin"});
  w.Run({"-d", "out/a.png", "back", "key.bin"});
  EXPECT_EQ(w.Read("temp_aacs.tmp"), "mine");
  EXPECT_EQ(w.Read("temp_hash_aacs.tmp"), "mine too");
  EXPECT_EQ(w.List(), (std::vector<std::string>{"back", "back/a.png", "key.bin", "out",
                                                "out/a.png", "src", "src/a.png", "temp_aacs.tmp",
                                                "temp_hash_aacs.tmp"}));
}

}  // namespace
}  // namespace velador::testing

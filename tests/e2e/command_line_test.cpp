#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace x = expected;

const Bytes kKey = "0123456789abcdef";
const std::string kKeyDump1 = "30 31 32 33 34 35 36 37 ";
const std::string kKeyDump2 = "38 39 61 62 63 64 65 66 ";

// Argument errors: each command prints these bytes and nothing else, and writes no file.
struct ArgumentCase {
  const char* label;
  std::vector<std::string> arguments;
  std::string out;
};

class ArgumentError : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentError, PrintsItsMessageAndStops) {
  Workspace w;
  w.Write("in.txt", "content");
  w.Write("key", kKey);
  w.MakeFolder("out");
  ToolRun run = w.Run(GetParam().arguments);
  EXPECT_EQ(run.out, GetParam().out);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(w.List(), (std::vector<std::string>{"in.txt", "key", "out"}));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, ArgumentError,
    ::testing::Values(
        ArgumentCase{"QuestionMarkAlone", {"?"}, x::kTwoWordLine},
        ArgumentCase{"TwoWordsNoQuestion", {"-e"}, x::kTwoWordLine},
        ArgumentCase{"TwoWordsDecapsulate", {"-d"}, x::kTwoWordLine},
        ArgumentCase{"TwoWordsEmpty", {""}, x::kTwoWordLine},
        ArgumentCase{"BadFirstThenBadSecond", {"-x", "a", "b", "c", "d"},
                     x::kFirstWord + x::kSecondWord},
        ArgumentCase{"BadFirstGoodSecond", {"-x", "-p", "in.txt", "out", "key"}, x::kFirstWord},
        ArgumentCase{"OneCharacterFirstWord", {"e", "-p", "in.txt", "out", "key"}, x::kFirstWord},
        ArgumentCase{"DestinationForgotten", {"-e", "in.txt", "out", "key"}, x::kSecondWord},
        ArgumentCase{"DestinationUnknown", {"-e", "-x", "in.txt", "out", "key"}, x::kSecondWord},
        ArgumentCase{"DestinationOneCharacter", {"-e", "p", "in.txt", "out"}, x::kSecondWord},
        ArgumentCase{"InputTooLong", {"-e", "-p", std::string(272, 'i'), "out", "key"},
                     x::kPathTooLong},
        ArgumentCase{"OutputTooLong", {"-e", "-p", "in.txt", std::string(272, 'o'), "key"},
                     x::kPathTooLong},
        ArgumentCase{"KeyPathTooLong", {"-e", "-p", "in.txt", "out", std::string(272, 'k')},
                     x::kPathTooLong},
        ArgumentCase{"DecapsulationInputTooLong", {"-d", std::string(300, 'i'), "out"},
                     x::kPathTooLong}),
    [](const auto& info) { return std::string(info.param.label); });

// Options are told by their second character alone, folded to lower case.
struct OptionCase {
  const char* label;
  std::string first;
  std::string second;
  std::string result;
};

class OptionSpelling : public ::testing::TestWithParam<OptionCase> {};

TEST_P(OptionSpelling, Encapsulates) {
  Workspace w;
  MakeDiscImage(w, "out");
  w.Write("in.txt", "content");
  w.Write("key", kKey);
  ToolRun run = w.Run({GetParam().first, GetParam().second, "in.txt", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath(GetParam().result) +
                         x::NonProtectedEncapsulated(kKeyDump1, kKeyDump2));
  EXPECT_TRUE(w.Exists(GetParam().result));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLine, OptionSpelling,
    ::testing::Values(OptionCase{"UpperCase", "-E", "-P", "out/in.txt"},
                      OptionCase{"Slashes", "/e", "/d", "out/ADV_OBJ/in.txt"},
                      OptionCase{"AnyFirstCharacter", "xe", "+p", "out/in.txt"},
                      OptionCase{"LongWords", "-encapsulate", "-disc", "out/ADV_OBJ/in.txt"},
                      OptionCase{"LongPersistent", "-E", "-Persistent", "out/in.txt"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(CommandLine, DecapsulationTakesNoDestinationWord) {
  Workspace w;
  w.Write("in.txt", "content");
  w.Write("key", kKey);
  w.MakeFolder("out");
  w.MakeFolder("back");
  w.Run({"-e", "-p", "in.txt", "out", "key"});
  ToolRun run = w.Run({"/D", "out/in.txt", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/in.txt") + x::NonProtectedDecapsulated(true));
  EXPECT_EQ(w.Read("back/in.txt"), "content");
}

TEST(CommandLine, MissingKeyArgumentTriesTheFileNamedZero) {
  Workspace w;
  w.Write("in.txt", "content");
  w.MakeFolder("out");
  EXPECT_EQ(w.Run({"-e", "-p", "in.txt", "out"}).out, x::kKeyFile);
  EXPECT_FALSE(w.Exists("out/in.txt"));

  w.Write("0", "ABCDEFGHIJKLMNOP");
  ToolRun run = w.Run({"-e", "-p", "in.txt", "out"});
  EXPECT_EQ(run.out, x::ResultPath("out/in.txt") +
                         x::NonProtectedEncapsulated("41 42 43 44 45 46 47 48 ",
                                                     "49 4a 4b 4c 4d 4e 4f 50 "));
}

TEST(CommandLine, EmptyKeyArgumentIsAKeyFileThatDoesNotOpen) {
  Workspace w;
  w.Write("in.txt", "content");
  w.Write("0", kKey);  // the fallback name must not be used for an empty argument
  w.MakeFolder("out");
  EXPECT_EQ(w.Run({"-e", "-p", "in.txt", "out", ""}).out, x::kKeyFile);
  EXPECT_FALSE(w.Exists("out/in.txt"));
}

TEST(CommandLine, MissingKeyFileAfterMissingInput) {
  Workspace w;
  w.MakeFolder("out");
  EXPECT_EQ(w.Run({"-e", "-p", "nothing.txt", "out"}).out, x::kInputNotFound + x::kKeyFile);
  EXPECT_EQ(w.Run({"-d", "nothing.txt", "out", "nokey"}).out, x::kInputNotFound + x::kKeyFile);
  w.Write("key", kKey);
  EXPECT_EQ(w.Run({"-d", "nothing.txt", "out", "key"}).out, x::kInputNotFound);
}

TEST(CommandLine, HashTypeNeedsNoKeyFile) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("menu.xml", "<menu/>");
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{"-e", "-d", "menu.xml", "img"},
        std::vector<std::string>{"-e", "-d", "menu.xml", "img", "no-such-key"}}) {
    w.Write("img/AACS/CONTENT_HASH_TABLE2.AACS", Bytes(40060, '\0'));
    std::remove(w.Path("img/ADV_OBJ/menu.xml").c_str());
    ToolRun run = w.Run(arguments);
    EXPECT_EQ(run.out.rfind(x::ResultPath("img/ADV_OBJ/menu.xml") + x::kAnnounceHash, 0), 0u)
        << run.out;
    EXPECT_EQ(run.out.find("clau per xifrar"), std::string::npos);
    EXPECT_TRUE(w.Exists("img/ADV_OBJ/menu.xml"));
  }
}

TEST(CommandLine, EncryptedTypeWithoutKeyFileStopsAtTheKey) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("a.png", "picture");
  EXPECT_EQ(w.Run({"-e", "-d", "a.png", "img"}).out, x::kKeyFile);
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/a.png"));
}

TEST(CommandLine, KeyIsTheFirstSixteenBytesOfTheKeyFile) {
  Workspace w;
  w.Write("in.txt", "content");
  w.Write("long.key", kKey + "and more bytes that are ignored");
  w.MakeFolder("out");
  ToolRun run = w.Run({"-e", "-p", "in.txt", "out", "long.key"});
  EXPECT_EQ(run.out, x::ResultPath("out/in.txt") +
                         x::NonProtectedEncapsulated(kKeyDump1, kKeyDump2));
}

TEST(CommandLine, ShortKeyFileIsPaddedWithZeroBytes) {
  Workspace w;
  w.Write("in.txt", "content");
  w.Write("short.key", "abc");
  w.Write("padded.key", Bytes("abc") + Bytes(13, '\0'));
  w.MakeFolder("short");
  w.MakeFolder("padded");
  ToolRun run = w.Run({"-e", "-p", "in.txt", "short", "short.key"});
  EXPECT_EQ(run.out, x::ResultPath("short/in.txt") +
                         x::NonProtectedEncapsulated("61 62 63 0 0 0 0 0 ", "0 0 0 0 0 0 0 0 "));
  w.Run({"-e", "-p", "in.txt", "padded", "padded.key"});
  EXPECT_EQ(w.Read("short/in.txt"), w.Read("padded/in.txt"));

  w.Write("empty.key", "");
  w.MakeFolder("empty");
  run = w.Run({"-e", "-p", "in.txt", "empty", "empty.key"});
  EXPECT_EQ(run.out, x::ResultPath("empty/in.txt") +
                         x::NonProtectedEncapsulated("0 0 0 0 0 0 0 0 ", "0 0 0 0 0 0 0 0 "));
}

TEST(CommandLine, PathOfExactly271BytesIsAccepted) {
  Workspace w;
  w.Write("key", kKey);
  // A missing input of 271 bytes gets as far as the classification.
  EXPECT_EQ(w.Run({"-e", "-p", std::string(271, 'i'), "out", "key"}).out, x::kInputNotFound);
  EXPECT_EQ(w.Run({"-e", "-p", "missing", "out", std::string(271, 'k')}).out,
            x::kInputNotFound + x::kKeyFile);
}

TEST(CommandLine, NothingOnStandardErrorAndStatusZero) {
  Workspace w;
  for (std::vector<std::string> arguments :
       {std::vector<std::string>{"?"}, std::vector<std::string>{"-x", "a", "b"},
        std::vector<std::string>{"-d", "missing", "out"}}) {
    ToolRun run = w.Run(arguments);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0);
  }
}

}  // namespace
}  // namespace velador::testing

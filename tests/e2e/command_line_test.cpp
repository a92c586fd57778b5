// The help, every command-line form and every argument error, and where the key comes from.

#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

class CommandLine : public ToolTest {};

struct RefusalCase {
  const char* label;
  std::vector<std::string> arguments;
  std::vector<std::string> out;  // expected texts, printed one after the other
};

class CommandLineRefusal : public ToolTestWithParam<RefusalCase> {};

// Each prints exactly these bytes and writes nothing.
TEST_P(CommandLineRefusal, PrintsExactlyThisAndWritesNothing) {
  if (GetParam().arguments.empty())
    SKIP_UNDER_WINE("on Windows the help of a start without arguments ends in the \"Pause\"");
  w.Write("in.txt", "content");
  std::string out;
  for (const std::string& name : GetParam().out) out += Expected(name);
  ExpectRefusal(GetParam().arguments, out);
}

INSTANTIATE_TEST_SUITE_P(
    All, CommandLineRefusal,
    ::testing::Values(
        RefusalCase{"HelpNoArguments", {}, {"help"}}, RefusalCase{"HelpSlash", {"/?"}, {"help"}},
        RefusalCase{"HelpAnyFirstCharacter", {"x?extra"}, {"help"}},
        RefusalCase{"HelpTooFewToEncapsulate", {"-e", "-d", "in"}, {"help"}},
        RefusalCase{"HelpSevenWords", {"-e", "-p", "a", "b", "c", "d"}, {"help"}},
        RefusalCase{"HelpTooFewToDecapsulate", {"-d", "in"}, {"help"}},
        RefusalCase{"HelpSixWordsDecapsulating", {"-d", "-d", "in", "out", "key"}, {"help"}},
        RefusalCase{"HelpAfterFirstWordError", {"-x", "a", "b"}, {"refusal/first_word", "help"}},
        RefusalCase{"QuestionMarkAlone", {"?"}, {"refusal/two_words"}},
        RefusalCase{"TwoWords", {"-e"}, {"refusal/two_words"}},
        RefusalCase{"TwoWordsEmpty", {""}, {"refusal/two_words"}},
        RefusalCase{"BadFirstThenBadSecond",
                    {"-x", "a", "b", "c", "d"},
                    {"refusal/first_word", "refusal/second_word"}},
        RefusalCase{"BadFirstWord", {"e", "-p", "in.txt", "out", "key"}, {"refusal/first_word"}},
        RefusalCase{
            "DestinationForgotten", {"-e", "in.txt", "out", "key"}, {"refusal/second_word"}},
        RefusalCase{
            "DestinationOneCharacter", {"-e", "p", "in.txt", "out"}, {"refusal/second_word"}},
        RefusalCase{"InputTooLong",
                    {"-e", "-p", std::string(272, 'i'), "out", "key"},
                    {"refusal/path_too_long"}},
        RefusalCase{"OutputTooLong",
                    {"-e", "-p", "in.txt", std::string(272, 'o'), "key"},
                    {"refusal/path_too_long"}},
        RefusalCase{"KeyPathTooLong",
                    {"-e", "-p", "in.txt", "out", std::string(272, 'k')},
                    {"refusal/path_too_long"}},
        RefusalCase{"DecapsulationInputTooLong",
                    {"-d", std::string(300, 'i'), "out"},
                    {"refusal/path_too_long"}},
        // 271 bytes pass the length check and reach the classification.
        RefusalCase{"InputOf271",
                    {"-e", "-p", std::string(271, 'i'), "out", "key"},
                    {"refusal/input_not_found"}},
        RefusalCase{"KeyPathOf271",
                    {"-e", "-p", "missing", "out", std::string(271, 'k')},
                    {"refusal/input_not_found", "refusal/key_file"}},
        RefusalCase{"EmptyInput", {"-e", "-p", "", "out", "key"}, {"refusal/input_not_found"}},
        RefusalCase{
            "EmptyInputDecapsulating", {"-d", "", "out", "key"}, {"refusal/input_not_found"}},
        RefusalCase{"NoKeyFileNamedZero", {"-e", "-p", "in.txt", "out"}, {"refusal/key_file"}},
        RefusalCase{"MissingInputAndKey",
                    {"-d", "nothing", "out", "nokey"},
                    {"refusal/input_not_found", "refusal/key_file"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLine, EmptyKeyArgumentDoesNotFallBackToTheFileNamedZero) {
  w.Write("in.txt", "content");
  w.Write("0", kKey);
  w.Write("a.png", "picture");
  ExpectRefusal({"-e", "-p", "in.txt", "out", ""}, Refusal("key_file"));
  std::remove(w.Path("0").c_str());  // an encrypted type needs its key file
  ExpectRefusal({"-e", "-d", "a.png", "img"}, Refusal("key_file"));
}

// Only a regular file is read as the key: a pipe would keep the run waiting for a writer.
TEST_F(CommandLine, KeyFileThatIsNoRegularFileIsRefusedAtOnce) {
  w.Write("in.txt", "content");
  ASSERT_EQ(mkfifo(w.Path("fifo").c_str(), 0600), 0);
  w.MakeFolder("folder");
  ExpectRefusal({"-e", "-p", "in.txt", "out", "fifo"}, Refusal("key_file"));
  ExpectRefusal({"-e", "-p", "in.txt", "out", "folder"}, Refusal("key_file"));
}

// Options are told by their second character alone, folded to lower case.
struct FormCase {
  const char* label;
  std::vector<std::string> arguments;
  std::string result;
  Bytes keyFile;  // written to "k" and to "0"
  Bytes key;      // the key the tool must use
};

class CommandLineForm : public ToolTestWithParam<FormCase> {};

TEST_P(CommandLineForm, EncapsulatesWithTheRightKey) {
  const FormCase& c = GetParam();
  w.Write("in.txt", "content");
  w.Write("k", c.keyFile);
  w.Write("0", c.keyFile);
  EXPECT_EQ(Out(c.arguments), NonProtectedEncapsulation(c.result, c.key));
  EXPECT_EQ(w.Read(c.result).substr(283), "content");
}

const Bytes kAbcPadded = Bytes("abc") + Bytes(13, '\0');

INSTANTIATE_TEST_SUITE_P(
    All, CommandLineForm,
    ::testing::Values(
        FormCase{"UpperCaseOptions", {"-E", "-P", "in.txt", "out", "k"}, "out/in.txt", kKey, kKey},
        FormCase{
            "SlashOptions", {"/e", "/d", "in.txt", "img", "k"}, "img/ADV_OBJ/in.txt", kKey, kKey},
        FormCase{"AnyFirstCharacter",
                 {"xe", "+Persistent", "in.txt", "out", "k"},
                 "out/in.txt",
                 kKey,
                 kKey},
        FormCase{"WholeWords",
                 {"-encapsulate", "-disc", "in.txt", "img", "k"},
                 "img/ADV_OBJ/in.txt",
                 kKey,
                 kKey},
        // The key is the first 16 bytes of its file, padded with zero bytes when shorter.
        FormCase{"LongKeyFile",
                 {"-e", "-p", "in.txt", "out", "k"},
                 "out/in.txt",
                 kKey + "more bytes",
                 kKey},
        FormCase{
            "ShortKeyFile", {"-e", "-p", "in.txt", "out", "k"}, "out/in.txt", "abc", kAbcPadded},
        FormCase{
            "EmptyKeyFile", {"-e", "-p", "in.txt", "out", "k"}, "out/in.txt", "", Bytes(16, '\0')},
        // Without a key argument the file named "0" is the key file.
        FormCase{
            "KeyFileNamedZero", {"-e", "-p", "in.txt", "out"}, "out/in.txt", kOtherKey, kOtherKey}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(CommandLine, ShortKeyGivesTheSameContainerAsItsZeroPaddedForm) {
  w.Write("in.txt", "content");
  w.Write("short", "abc");
  w.Write("padded", kAbcPadded);
  w.MakeFolder("out2");
  Out({"-e", "-p", "in.txt", "out", "short"});
  Out({"-e", "-p", "in.txt", "out2", "padded"});
  EXPECT_EQ(w.Read("out/in.txt"), w.Read("out2/in.txt"));
}

TEST_F(CommandLine, DecapsulationTakesNoDestinationWord) {
  w.Write("in.txt", "content");
  Out({"-e", "-p", "in.txt", "out", "key"});
  EXPECT_EQ(Out({"/D", "out/in.txt", "back", "key"}),
            NonProtectedDecapsulation("back/in.txt", true));
  EXPECT_EQ(w.Read("back/in.txt"), "content");
}

TEST_F(CommandLine, HashTypeNeedsNoKeyFile) {
  w.Write("menu.xml", "<menu/>");
  EXPECT_EQ(
      Out({"-e", "-d", "menu.xml", "img", "no-such-key"})
          .rfind(Start("img/ADV_OBJ/menu.xml", "hash") + Expected("fragment/encapsulated"), 0),
      0u);
}

}  // namespace
}  // namespace velador::testing

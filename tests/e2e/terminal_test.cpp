// At a terminal: texts readable as UTF-8 where the locale asks for it and their own bytes
// otherwise, paths always as given, and the progress line of a long run on standard error,
// gone before the report and never touching standard output.

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/tool_test.h"
#include "support/terminal_run.h"

namespace velador::testing {
namespace {

using namespace expected;

// The UTF-8 form of a text whose bytes past ASCII are all Latin-1 letters (0xA0 to 0xFF), as
// every expected text's are. Written out here rather than taken from the tool.
Bytes Latin1AsUtf8(const Bytes& text) {
  Bytes utf8;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8 += c;
    } else {
      utf8 += static_cast<char>(0xC0 | (byte >> 6));
      utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return utf8;
}

const std::string kPathOneTooLong(272, 'i');

struct TextCase {
  const char* label;
  std::vector<std::string> arguments;
  const char* expected;  // the expected text's name
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.label; }

class TerminalTexts : public ToolTestWithParam<TextCase> {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE("a POSIX pseudo-terminal and locale (a Windows console takes code page 1252)");
  }
  TerminalTexts() {
    w.Write("huge.bin", "");
    std::filesystem::resize_file(w.Path("huge.bin"), (std::uint64_t{1} << 32) + 1);  // sparse
  }

  // What the run shows on standard output, on the terminal or redirected to a file.
  Bytes Shown(const std::string& locale, OnTerminal onTerminal = OnTerminal::kOutputAndError) {
    TerminalRun run(w, GetParam().arguments, locale, onTerminal);
    const ToolRun result = run.Finish();
    EXPECT_EQ(result.status, 0);
    return onTerminal == OnTerminal::kNothing ? result.out : run.Terminal();
  }
};

TEST_P(TerminalTexts, AreUtf8InAUtf8Locale) {
  if (!HasUtf8Locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string text = Expected(GetParam().expected);
  ASSERT_NE(Latin1AsUtf8(text), text) << "the text has no accented letter to convert";
  EXPECT_EQ(Shown("C.UTF-8"), Latin1AsUtf8(text));
}

TEST_P(TerminalTexts, KeepTheirOwnBytesInTheCLocale) {
  EXPECT_EQ(Shown("C"), Expected(GetParam().expected));
}

// Files and pipes get the texts' own bytes whatever the locale.
TEST_P(TerminalTexts, KeepTheirOwnBytesRedirectedInAUtf8Locale) {
  EXPECT_EQ(Shown("C.UTF-8", OnTerminal::kNothing), Expected(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(All, TerminalTexts,
                         ::testing::Values(TextCase{"Help", {"/?"}, "help"},
                                           TextCase{"PathTooLong",
                                                    {"-e", "-p", kPathOneTooLong, "out", "key"},
                                                    "refusal/path_too_long"},
                                           TextCase{"InputTooLarge",
                                                    {"-e", "-p", "huge.bin", "out", "key"},
                                                    "refusal/too_large"}),
                         [](const auto& info) { return std::string(info.param.label); });

class Terminal : public ToolTest {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE("a POSIX pseudo-terminal and locale (a Windows console takes code page 1252)");
  }
  Bytes OnTerminal(const std::vector<std::string>& arguments) {
    TerminalRun run(w, arguments, "C.UTF-8", OnTerminal::kOutputAndError);
    EXPECT_EQ(run.Finish().status, 0);
    return run.Terminal();
  }
};

// A path is the user's own bytes (UTF-8 here, typed at this terminal): converting it as if it
// were a text would spell "café" as "cafÃ©".
TEST_F(Terminal, PathsKeepTheirOwnBytesInAUtf8Locale) {
  if (!HasUtf8Locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string cafe = "caf\xC3\xA9";
  w.Write(cafe + ".txt", "content");
  EXPECT_EQ(OnTerminal({"-e", "-p", cafe + ".txt", "out", "key"}),
            NonProtectedEncapsulation("out/" + cafe + ".txt", kKey));
  w.MakeFolder(cafe + "/ADV_OBJ");
  w.Write("menu.xml", "<menu/>");
  EXPECT_EQ(OnTerminal({"-e", "-d", "menu.xml", cafe}),
            Refusal("no_table", cafe + "/AACS/CONTENT_HASH_TABLE2.AACS"));
}

// velador-image's texts follow the locale into a pipe or a file too, so that grep and less read
// them as the terminal does, beside the UTF-8 names they print; velador keeps its own bytes
// there (above), and --json is UTF-8 in any locale.
TEST_F(Terminal, ImageTextsAreUtf8InAPipeInAUtf8Locale) {
  if (!HasUtf8Locale()) GTEST_SKIP() << "no C.UTF-8 locale";
  const std::string cafe = "caf\xC3\xA9.xml";
  w.Write("src/" + cafe, "<menu/>");
  const std::vector<std::string> dry = {"build", "src", "img", "--dry-run"};
  const ToolRun plain = w.Run(dry, Program::kImage);
  const ToolRun missing = w.Run({"check", "nowhere"}, Program::kImage);
  const ToolRun json = w.Run({"build", "src", "img", "--dry-run", "--json"}, Program::kImage);
  w.UseLocale("C.UTF-8");
  const ToolRun utf8 = w.Run(dry, Program::kImage);
  EXPECT_NE(plain.out.find("l\xEDnia"), std::string::npos) << plain.out;
  EXPECT_NE(plain.out.find(cafe), std::string::npos) << "a name keeps its bytes";
  // Every text byte past ASCII in plain's lines is a Latin-1 letter, the name aside.
  std::string expected = plain.out;
  const std::size_t at = expected.find(cafe);
  expected =
      Latin1AsUtf8(expected.substr(0, at)) + cafe + Latin1AsUtf8(expected.substr(at + cafe.size()));
  EXPECT_EQ(utf8.out, expected);
  EXPECT_EQ(w.Run({"check", "nowhere"}, Program::kImage).err, Latin1AsUtf8(missing.err));
  EXPECT_EQ(w.Run({"build", "src", "img", "--dry-run", "--json"}, Program::kImage).out, json.out);
}

// A Hash encapsulation reads its whole input, then waits for the disc image's table, which the
// test holds locked: the run lasts until the test lets it go, however fast the machine is.
class TerminalProgress : public ToolTest {
 protected:
  void SetUp() override {
    SKIP_UNDER_WINE("a POSIX pseudo-terminal and locale (a Windows console takes code page 1252)");
  }
  static constexpr std::uint64_t kInputLength = std::uint64_t{64} << 20;

  TerminalProgress() {
    w.Write("big.xml", "");
    std::filesystem::resize_file(w.Path("big.xml"), kInputLength);  // sparse: quick to make
  }

  const std::vector<std::string> kArguments{"-e", "-d", "big.xml", "img"};
};

TEST_F(TerminalProgress, LongRunShowsItOnTheTerminalThenErasesIt) {
  FileLock table(w.Path(kTablePath));
  TerminalRun run(w, kArguments, "C", OnTerminal::kError);
  ASSERT_TRUE(run.WaitFor("100%")) << run.Terminal();
  table.Release();
  const ToolRun result = run.Finish();
  const Bytes& line = run.Terminal();
  EXPECT_NE(line.find("64.0 MiB / 64.0 MiB"), Bytes::npos) << line;
  EXPECT_NE(line.find("/s"), Bytes::npos) << line;
  // It ends erased: a carriage return, blanks over the whole line, a carriage return.
  ASSERT_GE(line.size(), 3u);
  const std::size_t eraseStart = line.rfind('\r', line.size() - 2);
  ASSERT_NE(eraseStart, Bytes::npos);
  EXPECT_EQ(line.back(), '\r');
  EXPECT_EQ(line.substr(eraseStart + 1, line.size() - eraseStart - 2),
            Bytes(line.size() - eraseStart - 2, ' '));
  EXPECT_EQ(result.status, 0);

  // The same long run, redirected: standard error stays empty and standard output is the same.
  FileLock again(w.Path(kTablePath));
  TerminalRun redirected(w, kArguments, "C", OnTerminal::kNothing);
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // past the line's delay
  again.Release();
  const ToolRun plain = redirected.Finish();
  EXPECT_EQ(plain.err, "");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(result.out, plain.out);
  EXPECT_NE(plain.out.find("Hash obtingut"), Bytes::npos) << plain.out;
}

}  // namespace
}  // namespace velador::testing

// The console's two encodings: the texts' own bytes, or UTF-8 for a terminal that reads it; a
// path's bytes are never converted.

#include "app/console.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace velador {
namespace {

using namespace std::string_view_literals;

struct Utf8Case {
  const char* label;
  std::string text;  // Windows-1252
  std::string utf8;
};
void PrintTo(const Utf8Case& c, std::ostream* os) { *os << c.label; }

class ConsoleUtf8 : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(ConsoleUtf8, WritesTheTextAsUtf8) {
  std::ostringstream out;
  Console(out, TextEncoding::kUtf8).Text(GetParam().text);
  EXPECT_EQ(out.str(), GetParam().utf8);
}

INSTANTIATE_TEST_SUITE_P(
    All, ConsoleUtf8,
    ::testing::Values(Utf8Case{"Ascii", "ERROR: (ajuda: velador /?) ~",
                               "ERROR: (ajuda: velador /?) ~"},
                      Utf8Case{"AccentedLetters", "\xE0\xE9\xF3\xC0\xC9",
                               "\xC3\xA0\xC3\xA9\xC3\xB3\xC3\x80\xC3\x89"},
                      Utf8Case{"EndsOfTheLatinRange", "\xA0\xFF", "\xC2\xA0\xC3\xBF"},
                      // 0x80 to 0x9F are printable in Windows-1252, mostly outside Latin-1.
                      Utf8Case{"Euro", "\x80", "\xE2\x82\xAC"},
                      Utf8Case{"QuotesAndDashes", "\x93\x94\x96\x97",
                               "\xE2\x80\x9C\xE2\x80\x9D\xE2\x80\x93\xE2\x80\x94"},
                      Utf8Case{"TwoByteOnes", "\x8A\x9E\x9F", "\xC5\xA0\xC5\xBE\xC5\xB8"},
                      Utf8Case{"UndefinedBytes", "\x81\x8D\x8F\x90\x9D",
                               "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
                      Utf8Case{"AcrossALineEnd", "m\xE0\nx\xE9", "m\xC3\xA0\nx\xC3\xA9"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(ConsoleWindows1252, WritesEveryByteAsItIs) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  std::ostringstream out;
  Console(out).Text(all);
  EXPECT_EQ(out.str(), all);
}

TEST(ConsolePath, KeepsItsBytesInEitherEncoding) {
  const std::string path = "caf\xC3\xA9/\xE9.txt";
  for (TextEncoding encoding : {TextEncoding::kWindows1252, TextEncoding::kUtf8}) {
    std::ostringstream out;
    Console(out, encoding).Path(path);
    EXPECT_EQ(out.str(), path);
  }
}

TEST(ConsoleErrorBlock, ConvertsItsTextsButNotItsPath) {
  std::ostringstream out;
  Console(out, TextEncoding::kUtf8).ErrorBlock({"\xE9s"sv, {"  ruta: \xE0"sv, "\xC3\xA9"sv}});
  EXPECT_EQ(out.str(), "\n\xC3\xA9s\n  ruta: \xC3\xA0\xC3\xA9\n\n\n\n");
}

// A name's control characters are shown escaped, in either encoding; every other byte, "\"
// and Windows-1252 letters among them, is written as it is.
TEST(ConsoleName, EscapesControlCharactersOnly) {
  const struct {
    const char* label;
    std::string name;
    std::string shown;
  } cases[] = {
      {"plain", "img/ADV_OBJ/menu.xml", "img/ADV_OBJ/menu.xml"},
      {"windows path", "C:\\disc\\ADV_OBJ", "C:\\disc\\ADV_OBJ"},
      {"own bytes", "caf\xE9 \xC3\xA9", "caf\xE9 \xC3\xA9"},
      {"line ends and tab", "a\nb\rc\td", "a\\nb\\rc\\td"},
      {"other controls", std::string("\0\x1b\x1f\x7f", 4), "\\x00\\x1b\\x1f\\x7f"},
      {"at both ends", "\nx\n", "\\nx\\n"},
  };
  for (const auto& c : cases) {
    for (const TextEncoding encoding : {TextEncoding::kWindows1252, TextEncoding::kUtf8}) {
      std::ostringstream out;
      Console(out, encoding).Name(c.name);
      EXPECT_EQ(out.str(), c.shown) << c.label;
    }
  }
}

}  // namespace
}  // namespace velador

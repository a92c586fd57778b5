#include "encapsulation/console.h"

#include <gtest/gtest.h>

#include <sstream>

namespace velador {
namespace {

TEST(Console, HexValuesHaveNoLeadingZerosAndOneBlankAfterEach) {
  std::ostringstream out;
  Console console(out);
  const std::uint8_t bytes[] = {0x00, 0x0F, 0x10, 0xAB, 0x0A, 0xF0, 0xFF};
  console.HexValues(bytes, sizeof bytes);
  EXPECT_EQ(out.str(), "0 f 10 ab a f0 ff ");
}

TEST(Console, ByteDumpIsTwoIndentedLinesOfEight) {
  std::ostringstream out;
  Console console(out);
  std::uint8_t bytes[16];
  for (int i = 0; i < 16; ++i) bytes[i] = static_cast<std::uint8_t>(i * 17);
  console.ByteDump(bytes, 3);
  EXPECT_EQ(out.str(), "\n   0 11 22 33 44 55 66 77 \n   88 99 aa bb cc dd ee ff ");
}

TEST(Console, ErrorBlockFraming) {
  std::ostringstream out;
  Console console(out);
  console.ErrorBlock({"first", "second"});
  EXPECT_EQ(out.str(), "\nfirst\nsecond\n\n\n\n");
}

TEST(Console, TextKeepsBytesAndItsLineBreaks) {
  std::ostringstream out;
  Console console(out);
  console.Text("a\xE0\n\nb");
  console.Decimal(4294967295u);
  EXPECT_EQ(out.str(), "a\xE0\n\nb4294967295");
}

}  // namespace
}  // namespace velador

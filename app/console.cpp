#include "app/console.h"

#include <string>

namespace velador {

void Console::Text(std::string_view text) {
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    out_.write(text.data() + start, static_cast<std::streamsize>(end - start));
    LineEnds();
    start = end + 1;
  }
  out_.write(text.data() + start, static_cast<std::streamsize>(text.size() - start));
}

void Console::LineEnds(int count) {
  for (int i = 0; i < count; ++i) {
    out_.put('\n');
    out_.flush();
  }
}

void Console::Flush() {
  out_.flush();
}

void Console::ErrorBlock(std::initializer_list<std::string_view> lines) {
  LineEnds();
  for (std::string_view line : lines) {
    Text(line);
    LineEnds();
  }
  LineEnds(3);
}

void Console::HexValues(const std::uint8_t* bytes, std::size_t count) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < count; ++i) {
    if (bytes[i] >= 0x10) out_.put(kDigits[bytes[i] >> 4]);
    out_.put(kDigits[bytes[i] & 0x0F]);
    out_.put(' ');
  }
}

void Console::ByteDump(const std::uint8_t* bytes, int indent) {
  const std::string blanks(static_cast<std::size_t>(indent), ' ');
  for (int half = 0; half < 2; ++half) {
    LineEnds();
    Text(blanks);
    HexValues(bytes + 8 * half, 8);
  }
}

void Console::Decimal(std::uint64_t value) {
  Text(std::to_string(value));
}

}  // namespace velador

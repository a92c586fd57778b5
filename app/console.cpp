#include "app/console.h"

#include <array>
#include <string>

namespace velador {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

// The characters of the bytes 0x80 to 0x9F; from 0xA0 on, each byte is the code point of its
// own value, and below 0x80 it is ASCII.
constexpr std::array<char16_t, 32> kHighCharacters = {
    0x20AC,       kReplacement, 0x201A, 0x0192, 0x201E, 0x2026,       0x2020, 0x2021,
    0x02C6,       0x2030,       0x0160, 0x2039, 0x0152, kReplacement, 0x017D, kReplacement,
    kReplacement, 0x2018,       0x2019, 0x201C, 0x201D, 0x2022,       0x2013, 0x2014,
    0x02DC,       0x2122,       0x0161, 0x203A, 0x0153, kReplacement, 0x017E, 0x0178,
};

char16_t CharacterOf(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHighCharacters[byte - 0x80] : char16_t{byte};
}

// Every character of Windows-1252 lies in the Basic Multilingual Plane: one to three bytes.
void AppendUtf8(char16_t character, std::string& utf8) {
  auto put = [&](unsigned value) { utf8.push_back(static_cast<char>(value)); };
  if (character < 0x80) {
    put(character);
  } else if (character < 0x800) {
    put(0xC0u | (character >> 6));
    put(0x80u | (character & 0x3Fu));
  } else {
    put(0xE0u | (character >> 12));
    put(0x80u | ((character >> 6) & 0x3Fu));
    put(0x80u | (character & 0x3Fu));
  }
}

void AppendWindows1252AsUtf8(std::string_view text, std::string& utf8) {
  for (char byte : text) AppendUtf8(CharacterOf(static_cast<unsigned char>(byte)), utf8);
}

}  // namespace

bool IsUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80       ? 1
                               : lead >> 5 == 6  ? 2
                               : lead >> 4 == 14 ? 3
                               : lead >> 3 == 30 ? 4
                                                 : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if (next >> 6 != 2) return false;
      code = code << 6 | (next & 0x3Fu);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

std::string Windows1252ToUtf8(std::string_view text) {
  std::string utf8;
  AppendWindows1252AsUtf8(text, utf8);
  return utf8;
}

void Console::TextPiece(std::string_view piece) {
  if (encoding_ == TextEncoding::kUtf8) {
    converted_.clear();
    AppendWindows1252AsUtf8(piece, converted_);
    piece = converted_;
  }
  out_.write(piece.data(), static_cast<std::streamsize>(piece.size()));
}

void Console::Text(std::string_view text) {
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string_view::npos;
       end = text.find('\n', start)) {
    TextPiece(text.substr(start, end - start));
    LineEnds();
    start = end + 1;
  }
  TextPiece(text.substr(start));
}

std::string_view Console::AsNamed(std::string_view name, std::string& converted) const {
  if (names_ == NameBytes::kAsGiven || IsUtf8(name)) return name;
  converted = Windows1252ToUtf8(name);
  return converted;
}

void Console::Path(std::string_view path) {
  std::string converted;
  path = AsNamed(path, converted);
  out_.write(path.data(), static_cast<std::streamsize>(path.size()));
}

void Console::Name(std::string_view given) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string converted;
  const std::string_view name = AsNamed(given, converted);
  std::size_t start = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    if (byte >= 0x20 && byte != 0x7F) continue;
    Path(name.substr(start, i - start));
    start = i + 1;
    switch (byte) {
      case '\n':
        out_ << "\\n";
        break;
      case '\r':
        out_ << "\\r";
        break;
      case '\t':
        out_ << "\\t";
        break;
      default:
        out_ << "\\x" << kDigits[byte >> 4] << kDigits[byte & 0x0F];
    }
  }
  Path(name.substr(start));
}

void Console::LineEnds(int count) {
  for (int i = 0; i < count; ++i) {
    out_.put('\n');
    out_.flush();
  }
}

void Console::Flush() { out_.flush(); }

void Console::ErrorBlock(std::initializer_list<BlockLine> lines) {
  LineEnds();
  for (const BlockLine& line : lines) {
    Text(line.text);
    Path(line.path);
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

void Console::Decimal(std::uint64_t value) { Text(std::to_string(value)); }

}  // namespace velador

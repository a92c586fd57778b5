#pragma once

// Byte helpers shared by the tests: hexadecimal text, big-endian numbers and the pieces of a
// container, written out by hand so that a fault in the tool's own format code cannot hide.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velador::testing {

using Bytes = std::string;  // file contents and console output are compared as raw bytes

// "00ff10" -> the bytes 0x00 0xff 0x10, into a string or a vector of bytes.
template <class Out = Bytes>
Out FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("not a hex digit");
  };
  Out bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2)
    bytes.push_back(static_cast<typename Out::value_type>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  return bytes;
}

inline const std::uint8_t* Raw(const Bytes& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// A 32-bit number, most significant byte first.
inline Bytes Number(std::uint32_t value) {
  Bytes n;
  for (int shift = 24; shift >= 0; shift -= 8) n += static_cast<char>(value >> shift);
  return n;
}

// Magic, type code, a zero byte, the key flag (0 for Hash only) and the content size.
inline Bytes Header(std::uint8_t typeCode, std::uint32_t size) {
  return "AACS" + Bytes{static_cast<char>(typeCode), '\0', typeCode == 0x12 ? '\0' : '\x01'} +
         Number(size);
}

// The name block in clear: the name, ".AACS", zero bytes up to 272.
inline Bytes NameBlock(const std::string& name) {
  Bytes block = name + ".AACS";
  block.resize(272, '\0');
  return block;
}

// Each byte in lower-case hexadecimal without leading zeros, followed by one blank.
inline std::string HexValues(const Bytes& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string text;
  for (unsigned char b : bytes) {
    if (b >= 16) text += digits[b >> 4];
    text += digits[b & 15];
    text += ' ';
  }
  return text;
}

}  // namespace velador::testing

#pragma once

// The AES S-box as a table computed at compile time from its definition (FIPS-197: the inverse
// in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1, then the affine map), for the tests' reference
// model and for holding the library's S-box circuit against it. The library itself keeps no
// table: a lookup indexed by key or data would not be constant-time.

#include <array>
#include <cstdint>

namespace velador::test {

using ByteTable = std::array<std::uint8_t, 256>;

constexpr std::uint8_t Xtime(std::uint8_t a) {
  return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0x00));
}

constexpr std::uint8_t Multiply(std::uint8_t a, std::uint8_t b) {
  std::uint8_t product = 0;
  while (b != 0) {
    if (b & 1) product ^= a;
    a = Xtime(a);
    b >>= 1;
  }
  return product;
}

constexpr std::uint8_t RotateByteLeft(std::uint8_t b, int n) {
  return static_cast<std::uint8_t>((b << n) | (b >> (8 - n)));
}

// S[x] = affine(x^-1), with 0 mapped to 0 before the affine step; the inverse is taken
// through the powers of the generator 3.
constexpr ByteTable MakeSbox() {
  ByteTable power{}, logOf{};
  std::uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = p;
    logOf[p] = static_cast<std::uint8_t>(i);
    p = Multiply(p, 3);
  }
  ByteTable s{};
  for (int x = 0; x < 256; ++x) {
    const std::uint8_t inv = x == 0 ? 0 : power[(255 - logOf[x]) % 255];
    s[x] = static_cast<std::uint8_t>(inv ^ RotateByteLeft(inv, 1) ^ RotateByteLeft(inv, 2) ^
                                     RotateByteLeft(inv, 3) ^ RotateByteLeft(inv, 4) ^ 0x63);
  }
  return s;
}

inline constexpr ByteTable kSbox = MakeSbox();

constexpr ByteTable MakeInverseSbox() {
  ByteTable si{};
  for (int x = 0; x < 256; ++x) si[kSbox[x]] = static_cast<std::uint8_t>(x);
  return si;
}

inline constexpr ByteTable kInverseSbox = MakeInverseSbox();

}  // namespace velador::test

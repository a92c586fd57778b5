#pragma once

// Constant tables of AesCipher, computed at compile time from the S-box definition and the
// GF(2^8) rules of FIPS-197, so no hand-typed table can hide a wrong entry. The tests hold
// them against published values. Internal to crypto/: other layers use AesCipher only.

#include <array>
#include <cstdint>

namespace velador::aes_tables {

using ByteTable = std::array<std::uint8_t, 256>;
using WordTable = std::array<std::uint32_t, 256>;

// Multiplication by x in GF(2^8) modulo x^8 + x^4 + x^3 + x + 1.
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

// S[x] = affine(x^-1), with 0 mapped to 0 before the affine step. The inverse is taken
// through the powers of the generator 3, which keeps compile-time work to a few thousand
// steps.
constexpr ByteTable MakeSbox() {
  std::array<std::uint8_t, 256> power{};  // power[i] = 3^i
  std::array<std::uint8_t, 256> logOf{};
  std::uint8_t p = 1;
  for (int i = 0; i < 255; ++i) {
    power[i] = p;
    logOf[p] = static_cast<std::uint8_t>(i);
    p = Multiply(p, 3);
  }
  ByteTable s{};
  for (int x = 0; x < 256; ++x) {
    std::uint8_t inv = x == 0 ? 0 : power[(255 - logOf[x]) % 255];
    s[x] = static_cast<std::uint8_t>(inv ^ RotateByteLeft(inv, 1) ^ RotateByteLeft(inv, 2) ^
                                     RotateByteLeft(inv, 3) ^ RotateByteLeft(inv, 4) ^ 0x63);
  }
  return s;
}

inline constexpr ByteTable S = MakeSbox();

constexpr ByteTable MakeInverseSbox() {
  ByteTable si{};
  for (int x = 0; x < 256; ++x) si[S[x]] = static_cast<std::uint8_t>(x);
  return si;
}

inline constexpr ByteTable Si = MakeInverseSbox();

constexpr std::uint32_t Word(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3) {
  return (std::uint32_t{b0} << 24) | (std::uint32_t{b1} << 16) | (std::uint32_t{b2} << 8) | b3;
}

constexpr std::uint32_t RotateRight(std::uint32_t w, int n) { return (w >> n) | (w << (32 - n)); }

// Each column word lists its bytes most significant first; rotating right by 8·k gives the
// table for state row k, so one lookup does SubBytes, ShiftRows' placement and MixColumns.
enum class Column { Encrypt, Decrypt, InvMix };

constexpr WordTable MakeColumnTable(Column kind, int rotation) {
  WordTable t{};
  for (int x = 0; x < 256; ++x) {
    std::uint32_t w = 0;
    if (kind == Column::Encrypt) {
      std::uint8_t s = S[x];
      w = Word(Multiply(s, 2), s, s, Multiply(s, 3));
    } else {
      std::uint8_t v = kind == Column::Decrypt ? Si[x] : static_cast<std::uint8_t>(x);
      w = Word(Multiply(v, 0x0e), Multiply(v, 0x09), Multiply(v, 0x0d), Multiply(v, 0x0b));
    }
    t[x] = rotation == 0 ? w : RotateRight(w, rotation);
  }
  return t;
}

inline constexpr WordTable T1 = MakeColumnTable(Column::Encrypt, 0);
inline constexpr WordTable T2 = MakeColumnTable(Column::Encrypt, 8);
inline constexpr WordTable T3 = MakeColumnTable(Column::Encrypt, 16);
inline constexpr WordTable T4 = MakeColumnTable(Column::Encrypt, 24);
inline constexpr WordTable T5 = MakeColumnTable(Column::Decrypt, 0);
inline constexpr WordTable T6 = MakeColumnTable(Column::Decrypt, 8);
inline constexpr WordTable T7 = MakeColumnTable(Column::Decrypt, 16);
inline constexpr WordTable T8 = MakeColumnTable(Column::Decrypt, 24);
inline constexpr WordTable U1 = MakeColumnTable(Column::InvMix, 0);
inline constexpr WordTable U2 = MakeColumnTable(Column::InvMix, 8);
inline constexpr WordTable U3 = MakeColumnTable(Column::InvMix, 16);
inline constexpr WordTable U4 = MakeColumnTable(Column::InvMix, 24);

// Successive powers of x. Key 16 with block 32 is the hungriest schedule: 29 entries.
constexpr std::array<std::uint8_t, 30> MakeRcon() {
  std::array<std::uint8_t, 30> r{};
  std::uint8_t v = 1;
  for (auto& entry : r) {
    entry = v;
    v = Xtime(v);
  }
  return r;
}

inline constexpr std::array<std::uint8_t, 30> rcon = MakeRcon();

// ShiftRows offsets [width class][row][0 enciphering, 1 deciphering]; width class 0 is 4
// columns, 1 is 6, 2 is 8. The deciphering offset is always BC minus the enciphering one.
inline constexpr std::uint8_t shifts[3][4][2] = {
    {{0, 0}, {1, 3}, {2, 2}, {3, 1}},
    {{0, 0}, {1, 5}, {2, 4}, {3, 3}},
    {{0, 0}, {1, 7}, {3, 5}, {4, 4}},
};

}  // namespace velador::aes_tables

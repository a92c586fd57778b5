// The key schedule and the general engine of the portable path: bytes in their natural order,
// SubBytes through the circuit on 32-bit slices, ShiftRows as a fixed permutation, MixColumns
// with multiplications by x that select 0x1b by a mask.

#include <bit>
#include <cstring>

#include "aes_portable.h"
#include "aes_sbox_circuit.h"
#include "aes_word_slices.h"

namespace velador::aes_portable {

namespace {

inline std::uint8_t Xtime(std::uint8_t a) {
  return static_cast<std::uint8_t>((a << 1) ^ (0x1b & (0 - (a >> 7))));
}

// Up to 32 bytes as eight 32-bit slices: bit i of slice j is bit j of byte i.
struct ByteSlices {
  std::uint32_t s[8];
};

// The 8x8 bit transposition of each word, then an exchange of bytes across the words that
// leaves slices j and j + 4 in word j mod 4.
void GatherSlices(std::uint64_t w[4]) {
  for (int k = 0; k < 4; ++k) w[k] = word_slices::TransposeBits8x8(w[k]);
  word_slices::SwapBitsAcross<8>(w[0], w[1], 0x00FF00FF00FF00FF);
  word_slices::SwapBitsAcross<8>(w[2], w[3], 0x00FF00FF00FF00FF);
  word_slices::SwapBitsAcross<16>(w[0], w[2], 0x0000FFFF0000FFFF);
  word_slices::SwapBitsAcross<16>(w[1], w[3], 0x0000FFFF0000FFFF);
}

// The inverse of GatherSlices: each exchange undoes itself, taken in the reverse order.
void ScatterSlices(std::uint64_t w[4]) {
  word_slices::SwapBitsAcross<16>(w[1], w[3], 0x0000FFFF0000FFFF);
  word_slices::SwapBitsAcross<16>(w[0], w[2], 0x0000FFFF0000FFFF);
  word_slices::SwapBitsAcross<8>(w[2], w[3], 0x00FF00FF00FF00FF);
  word_slices::SwapBitsAcross<8>(w[0], w[1], 0x00FF00FF00FF00FF);
  for (int k = 0; k < 4; ++k) w[k] = word_slices::TransposeBits8x8(w[k]);
}

ByteSlices ToSlices(const std::uint8_t* bytes, int count) {
  std::uint8_t padded[32] = {};
  std::memcpy(padded, bytes, static_cast<std::size_t>(count));
  std::uint64_t w[4];
  for (int k = 0; k < 4; ++k) w[k] = word_slices::Load64(padded + 8 * k);
  GatherSlices(w);
  ByteSlices slices;
  for (int j = 0; j < 8; ++j) slices.s[j] = static_cast<std::uint32_t>(w[j % 4] >> (32 * (j / 4)));
  return slices;
}

void FromSlices(const ByteSlices& slices, std::uint8_t* bytes, int count) {
  std::uint64_t w[4];
  for (int k = 0; k < 4; ++k) w[k] = slices.s[k] | std::uint64_t{slices.s[k + 4]} << 32;
  ScatterSlices(w);
  std::uint8_t padded[32];
  for (int k = 0; k < 4; ++k) word_slices::Store64(padded + 8 * k, w[k]);
  std::memcpy(bytes, padded, static_cast<std::size_t>(count));
}

void InvSubBytes(std::uint8_t* bytes, int count) {
  ByteSlices slices = ToSlices(bytes, count);
  aes_sbox::XorConstant(slices.s, 0x63);
  aes_sbox::InvSubBytesLinear(slices.s);
  FromSlices(slices, bytes, count);
}

// ShiftRows for 4, 6 and 8 columns as permutations of the state's bytes: after[i] =
// before[from[i]]. Row r moves left by 1, 2, 3 columns (by 1, 3, 4 with 8 columns); the
// inverse moves it back.
struct BytePermutation {
  std::uint8_t from[kMaxBlockLength];
};

constexpr BytePermutation ShiftRowsPermutation(int columns, bool inverse) {
  const int offsets[4] = {0, 1, columns == 8 ? 3 : 2, columns == 8 ? 4 : 3};
  BytePermutation p{};
  for (int c = 0; c < columns; ++c) {
    for (int r = 0; r < 4; ++r) {
      const int shift = inverse ? columns - offsets[r] : offsets[r];
      p.from[4 * c + r] = static_cast<std::uint8_t>(4 * ((c + shift) % columns) + r);
    }
  }
  return p;
}

// [columns / 2 - 2][inverse]: 4, 6 and 8 columns.
constexpr BytePermutation kShiftRows[3][2] = {
    {ShiftRowsPermutation(4, false), ShiftRowsPermutation(4, true)},
    {ShiftRowsPermutation(6, false), ShiftRowsPermutation(6, true)},
    {ShiftRowsPermutation(8, false), ShiftRowsPermutation(8, true)}};

void ShiftRows(std::uint8_t* state, int columns, bool inverse) {
  const BytePermutation& p = kShiftRows[columns / 2 - 2][inverse ? 1 : 0];
  std::uint8_t before[kMaxBlockLength];
  std::memcpy(before, state, sizeof before);
  for (int i = 0; i < 4 * columns; ++i) state[i] = before[p.from[i]];
}

// A column as a word: row r in bits 8r to 8r + 7, on any host.
inline std::uint32_t LoadColumn(const std::uint8_t* p) {
  std::uint32_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) {
    w = (w >> 24) | ((w >> 8) & 0xff00) | ((w << 8) & 0xff0000) | (w << 24);
  }
  return w;
}

inline void StoreColumn(std::uint8_t* p, std::uint32_t w) {
  if constexpr (std::endian::native == std::endian::big) {
    w = (w >> 24) | ((w >> 8) & 0xff00) | ((w << 8) & 0xff0000) | (w << 24);
  }
  std::memcpy(p, &w, sizeof w);
}

// Row r of the result is row r + n of the column (mod 4).
inline std::uint32_t RotateRows(std::uint32_t w, int n) {
  return (w >> (8 * n)) | (w << (32 - 8 * n));
}

// Each of the four bytes multiplied by x.
inline std::uint32_t Xtime4(std::uint32_t w) {
  return ((w & 0x7f7f7f7f) << 1) ^ (((w >> 7) & 0x01010101) * 0x1b);
}

// 2a0 + 3a1 + a2 + a3 = 2(a0 + a1) + a1 + (a2 + a3), for every row at once.
inline std::uint32_t MixColumn(std::uint32_t a) {
  const std::uint32_t next = RotateRows(a, 1), sum = a ^ next;
  return Xtime4(sum) ^ next ^ RotateRows(sum, 2);
}

void MixColumns(std::uint8_t* state, int columns) {
  for (int c = 0; c < columns; ++c)
    StoreColumn(state + 4 * c, MixColumn(LoadColumn(state + 4 * c)));
}

// InvMixColumns is MixColumns after multiplying each column by 4x^2 + 5: a_r + 4(a_r + a_{r+2}).
void InvMixColumns(std::uint8_t* state, int columns) {
  for (int c = 0; c < columns; ++c) {
    const std::uint32_t a = LoadColumn(state + 4 * c);
    StoreColumn(state + 4 * c, MixColumn(a ^ Xtime4(Xtime4(a ^ RotateRows(a, 2)))));
  }
}

// Over all 32 bytes of the state: what it holds past the block's length never reaches the
// block.
void AddRoundKey(std::uint8_t* state, const std::uint8_t* roundKey) {
  for (int k = 0; k < kMaxBlockLength; k += 8) {
    word_slices::Store64(state + k,
                         word_slices::Load64(state + k) ^ word_slices::Load64(roundKey + k));
  }
}

// Overwrites `count` bytes in a way the compiler may not drop as a dead store.
void Clear(std::uint8_t* bytes, std::size_t count) {
  volatile std::uint8_t* target = bytes;
  for (std::size_t i = 0; i < count; ++i) target[i] = 0;
}

}  // namespace

void SubBytes(std::uint8_t* bytes, int count) {
  ByteSlices slices = ToSlices(bytes, count);
  aes_sbox::SubBytesLinear(slices.s);
  aes_sbox::XorConstant(slices.s, 0x63);
  FromSlices(slices, bytes, count);
}

void ExpandKey(const std::uint8_t* key, int keyLength, int blockLength, int rounds,
               ByteRoundKeys& roundKeys) {
  const int nk = keyLength / 4, nb = blockLength / 4, total = nb * (rounds + 1);
  std::uint8_t words[(kMaxRounds + 1) * kMaxBlockLength / 4][4];
  std::memcpy(words, key, static_cast<std::size_t>(keyLength));
  std::uint8_t rcon = 1;
  for (int i = nk; i < total; ++i) {
    std::uint8_t t[4];
    std::memcpy(t, words[i - 1], 4);
    if (i % nk == 0) {
      const std::uint8_t first = t[0];
      t[0] = t[1];
      t[1] = t[2];
      t[2] = t[3];
      t[3] = first;
      SubBytes(t, 4);
      t[0] ^= rcon;
      rcon = Xtime(rcon);
    } else if (nk > 6 && i % nk == 4) {
      SubBytes(t, 4);
    }
    for (int b = 0; b < 4; ++b) words[i][b] = words[i - nk][b] ^ t[b];
  }
  for (int r = 0; r <= rounds; ++r) {
    std::memcpy(roundKeys[r], words[r * nb], static_cast<std::size_t>(blockLength));
  }
  Clear(&words[0][0], sizeof words);
}

void EncryptGeneral(const ByteRoundKeys& roundKeys, int rounds, int blockLength,
                    const std::uint8_t* in, std::uint8_t* out) {
  const int columns = blockLength / 4;
  std::uint8_t state[kMaxBlockLength] = {};
  std::memcpy(state, in, static_cast<std::size_t>(blockLength));
  AddRoundKey(state, roundKeys[0]);
  for (int r = 1; r <= rounds; ++r) {
    SubBytes(state, blockLength);
    ShiftRows(state, columns, false);
    if (r < rounds) MixColumns(state, columns);
    AddRoundKey(state, roundKeys[r]);
  }
  std::memcpy(out, state, static_cast<std::size_t>(blockLength));
}

void DecryptGeneral(const ByteRoundKeys& roundKeys, int rounds, int blockLength,
                    const std::uint8_t* in, std::uint8_t* out) {
  const int columns = blockLength / 4;
  std::uint8_t state[kMaxBlockLength] = {};
  std::memcpy(state, in, static_cast<std::size_t>(blockLength));
  AddRoundKey(state, roundKeys[rounds]);
  for (int r = rounds - 1; r >= 0; --r) {
    ShiftRows(state, columns, true);
    InvSubBytes(state, blockLength);
    AddRoundKey(state, roundKeys[r]);
    if (r > 0) InvMixColumns(state, columns);
  }
  std::memcpy(out, state, static_cast<std::size_t>(blockLength));
}

}  // namespace velador::aes_portable

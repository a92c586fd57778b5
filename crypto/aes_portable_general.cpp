// The key schedule and the general engine of the portable path: bytes in their natural order,
// SubBytes through the circuit on 32-bit slices, ShiftRows as a fixed permutation, MixColumns
// with multiplications by x that select 0x1b by a mask.

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

ByteSlices ToSlices(const std::uint8_t* bytes, int count) {
  std::uint8_t padded[32] = {};
  std::memcpy(padded, bytes, static_cast<std::size_t>(count));
  std::uint64_t words[4];
  for (int w = 0; w < 4; ++w)
    words[w] = word_slices::TransposeBits8x8(word_slices::Load64(padded + 8 * w));
  ByteSlices slices;
  for (int j = 0; j < 8; ++j) {
    std::uint32_t slice = 0;
    for (int w = 0; w < 4; ++w)
      slice |= static_cast<std::uint32_t>((words[w] >> (8 * j)) & 0xff) << (8 * w);
    slices.s[j] = slice;
  }
  return slices;
}

void FromSlices(const ByteSlices& slices, std::uint8_t* bytes, int count) {
  std::uint8_t padded[32];
  for (int w = 0; w < 4; ++w) {
    std::uint64_t word = 0;
    for (int j = 0; j < 8; ++j) word |= std::uint64_t{(slices.s[j] >> (8 * w)) & 0xff} << (8 * j);
    word_slices::Store64(padded + 8 * w, word_slices::TransposeBits8x8(word));
  }
  std::memcpy(bytes, padded, static_cast<std::size_t>(count));
}

void InvSubBytes(std::uint8_t* bytes, int count) {
  ByteSlices slices = ToSlices(bytes, count);
  aes_sbox::XorConstant(slices.s, 0x63);
  aes_sbox::InvSubBytesLinear(slices.s);
  FromSlices(slices, bytes, count);
}

// Row offsets of ShiftRows for 4, 6 and 8 columns.
struct RowOffsets {
  int row[4];
};

RowOffsets OffsetsFor(int columns) {
  return columns == 8 ? RowOffsets{{0, 1, 3, 4}} : RowOffsets{{0, 1, 2, 3}};
}

// Row r moves left by `sign` * offset[r] columns (sign 1 enciphering, -1 deciphering).
void ShiftRows(std::uint8_t* state, int columns, int sign) {
  const RowOffsets offsets = OffsetsFor(columns);
  std::uint8_t before[kMaxBlockLength];
  std::memcpy(before, state, static_cast<std::size_t>(4 * columns));
  for (int c = 0; c < columns; ++c) {
    for (int r = 1; r < 4; ++r) {
      const int from = ((c + sign * offsets.row[r]) % columns + columns) % columns;
      state[4 * c + r] = before[4 * from + r];
    }
  }
}

void MixColumns(std::uint8_t* state, int columns) {
  for (int c = 0; c < columns; ++c) {
    std::uint8_t* a = state + 4 * c;
    const std::uint8_t all = a[0] ^ a[1] ^ a[2] ^ a[3];
    const std::uint8_t a0 = a[0];
    a[0] ^= all ^ Xtime(a[0] ^ a[1]);
    a[1] ^= all ^ Xtime(a[1] ^ a[2]);
    a[2] ^= all ^ Xtime(a[2] ^ a[3]);
    a[3] ^= all ^ Xtime(a[3] ^ a0);
  }
}

// InvMixColumns is MixColumns after multiplying each column by 4x^2 + 5.
void InvMixColumns(std::uint8_t* state, int columns) {
  for (int c = 0; c < columns; ++c) {
    std::uint8_t* a = state + 4 * c;
    const std::uint8_t u = Xtime(Xtime(a[0] ^ a[2]));
    const std::uint8_t v = Xtime(Xtime(a[1] ^ a[3]));
    a[0] ^= u;
    a[1] ^= v;
    a[2] ^= u;
    a[3] ^= v;
  }
  MixColumns(state, columns);
}

void AddRoundKey(std::uint8_t* state, const std::uint8_t* roundKey, int length) {
  for (int i = 0; i < length; ++i) state[i] ^= roundKey[i];
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
  std::uint8_t state[kMaxBlockLength];
  std::memcpy(state, in, static_cast<std::size_t>(blockLength));
  AddRoundKey(state, roundKeys[0], blockLength);
  for (int r = 1; r <= rounds; ++r) {
    SubBytes(state, blockLength);
    ShiftRows(state, columns, 1);
    if (r < rounds) MixColumns(state, columns);
    AddRoundKey(state, roundKeys[r], blockLength);
  }
  std::memcpy(out, state, static_cast<std::size_t>(blockLength));
}

void DecryptGeneral(const ByteRoundKeys& roundKeys, int rounds, int blockLength,
                    const std::uint8_t* in, std::uint8_t* out) {
  const int columns = blockLength / 4;
  std::uint8_t state[kMaxBlockLength];
  std::memcpy(state, in, static_cast<std::size_t>(blockLength));
  AddRoundKey(state, roundKeys[rounds], blockLength);
  for (int r = rounds - 1; r >= 0; --r) {
    ShiftRows(state, columns, -1);
    InvSubBytes(state, blockLength);
    AddRoundKey(state, roundKeys[r], blockLength);
    if (r > 0) InvMixColumns(state, columns);
  }
  std::memcpy(out, state, static_cast<std::size_t>(blockLength));
}

}  // namespace velador::aes_portable

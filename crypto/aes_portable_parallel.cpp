// The parallel engine of the portable path: eight 16-byte blocks on eight slices, each slice a
// pair of 64-bit words (blocks 0 to 3 in the first, 4 to 7 in the second).
//
// Layout of each word: slice j holds bit j of every byte; the byte in row r and column c of
// block b sits at bit 16r + 4c + b. Each row is a 16-bit field and each column a nibble of it,
// so reading row r + j of column c + s in place of row r of column c is a rotation of the
// fields by j followed by a rotation by 4s within each field: on 128-bit registers, one
// shuffle of 16-bit lanes and one rotation of them.
//
// As in the serial engine, ShiftRows is never applied between rounds: after k rounds the state
// held is the true state with row r turned right by k·r columns (mod 4), round k's MixColumns
// reads row r + 1 of column c + k for column c, the keys are turned to match when they are made,
// and one turn of the rows at the end puts the blocks back in order. Deciphering runs the same
// way with the turns the other way round.

#include <cstring>
#include <initializer_list>

#include "aes_portable.h"
#include "aes_sbox_circuit.h"
#include "aes_word_slices.h"

namespace velador::aes_portable {

namespace {

using word_slices::Spread;
using word_slices::SwapBits;
using word_slices::SwapBitsAcross;
using word_slices::WordPair;

struct State {
  WordPair s[8];
};

// Where word k of a group of four blocks comes from: bytes 8h to 8h + 7 of block b, k = b + 4h.
constexpr int Offset(int k) { return 16 * (k & 3) + 8 * (k >> 2); }

// Transposing the 8x8 bit matrices across the words (word-number bit t against bit t of the bit
// number within a byte) puts bit j of every byte in word j, at bit k + 8i for byte i of the
// half-block (i = 4 (c mod 2) + r). The bit numbers then read, from the lowest: b (2 bits), h,
// r (2 bits), c mod 2; three exchanges of bit-number bits bring them to b, c mod 2, h, r.
void TransposeAcrossWords(WordPair w[8]) {
  for (int k = 0; k < 8; k += 2) SwapBitsAcross<1>(w[k], w[k + 1], 0x5555555555555555);
  for (int k : {0, 1, 4, 5}) SwapBitsAcross<2>(w[k], w[k + 2], 0x3333333333333333);
  for (int k = 0; k < 4; ++k) SwapBitsAcross<4>(w[k], w[k + 4], 0x0F0F0F0F0F0F0F0F);
}

inline WordPair ToLayout(WordPair x) {
  x = SwapBits<28>(x, 0x00000000F0F0F0F0);     // bit-number bits 2 and 5
  x = SwapBits<24>(x, 0x00000000FF00FF00);     // 3 and 5
  return SwapBits<16>(x, 0x00000000FFFF0000);  // 4 and 5
}

inline WordPair FromLayout(WordPair x) {
  x = SwapBits<16>(x, 0x00000000FFFF0000);
  x = SwapBits<24>(x, 0x00000000FF00FF00);
  return SwapBits<28>(x, 0x00000000F0F0F0F0);
}

State Load(const std::uint8_t* in) {
  State state;
  for (int k = 0; k < 8; ++k) {
    state.s[k] = word_slices::MakePair(word_slices::Load64(in + Offset(k)),
                                       word_slices::Load64(in + 64 + Offset(k)));
  }
  TransposeAcrossWords(state.s);
  for (auto& slice : state.s) slice = ToLayout(slice);
  return state;
}

void Store(State state, std::uint8_t* out) {
  for (auto& slice : state.s) slice = FromLayout(slice);
  TransposeAcrossWords(state.s);
  for (int k = 0; k < 8; ++k) {
    word_slices::Store64(out + Offset(k), word_slices::Lane(state.s[k], 0));
    word_slices::Store64(out + 64 + Offset(k), word_slices::Lane(state.s[k], 1));
  }
}

// Adds a round key laid out by LayOut: each slice for both words.
inline void AddKey(State& state, const std::uint64_t* key) {
  for (int j = 0; j < 8; ++j) {
    WordPair k;
    std::memcpy(&k, key + 2 * j, sizeof k);
    state.s[j] ^= k;
  }
}

// x with row r + Rows of column c + Columns (both mod 4) in place of row r of column c: the
// rows are the words' 16-bit fields, the columns the nibbles within each.
template <int Rows, int Columns>
inline WordPair Moved(WordPair x) {
  if constexpr (Rows != 0) x = word_slices::RotateFieldsRight<Rows>(x);
  if constexpr (Columns != 0) x = word_slices::RotateWithinFields<4 * Columns>(x);
  return x;
}

inline void Xtime(const WordPair in[8], WordPair out[8]) {
  out[0] = in[7];
  out[1] = in[0] ^ in[7];
  out[2] = in[1];
  out[3] = in[2] ^ in[7];
  out[4] = in[3] ^ in[7];
  out[5] = in[4];
  out[6] = in[5];
  out[7] = in[6];
}

// MixColumns of a state whose rows are turned by Turn (see the serial engine).
template <int Turn>
inline void MixColumns(State& state) {
  WordPair next[8], sum[8], sumDoubled[8];
  for (int j = 0; j < 8; ++j) {
    next[j] = Moved<1, Turn>(state.s[j]);
    sum[j] = state.s[j] ^ next[j];
  }
  Xtime(sum, sumDoubled);
  for (int j = 0; j < 8; ++j) {
    state.s[j] = sumDoubled[j] ^ next[j] ^ Moved<2, 2 * Turn % 4>(sum[j]);
  }
}

// InvMixColumns is MixColumns after multiplying each column by 4x^2 + 5:
// a_r + 4(a_r + a_{r+2}).
template <int Turn>
inline void InvMixColumns(State& state) {
  WordPair sum[8], twice[8], fourTimes[8];
  for (int j = 0; j < 8; ++j) sum[j] = state.s[j] ^ Moved<2, 2 * Turn % 4>(state.s[j]);
  Xtime(sum, twice);
  Xtime(twice, fourTimes);
  for (int j = 0; j < 8; ++j) state.s[j] ^= fourTimes[j];
  MixColumns<Turn>(state);
}

void MixColumnsTurned(State& state, int turn) {
  word_slices::WithTurn(turn, [&](auto fixed) { MixColumns<decltype(fixed)::value>(state); });
}

void InvMixColumnsTurned(State& state, int turn) {
  word_slices::WithTurn(turn, [&](auto fixed) { InvMixColumns<decltype(fixed)::value>(state); });
}

// Turns row r left by `turn`·r columns. Only turns of 0 and 2 occur (10, 12 and 14 rounds).
void TurnRows(State& state, int turn) {
  if (turn % 4 == 0) return;
  const WordPair rows02 = Spread<WordPair>(0x0000FFFF0000FFFF);
  for (auto& slice : state.s) slice = (slice & rows02) | (Moved<0, 2>(slice) & ~rows02);
}

void TurnBytes(const std::uint8_t* block, int turn, std::uint8_t* out) {
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) out[4 * c + r] = block[4 * ((c + turn * r) % 4) + r];
  }
}

// One round key for all eight blocks: `key` (16 bytes) with `constant` added to every byte,
// turned by `turn`; out[2j] and out[2j + 1] are slice j's two words.
void LayOut(const std::uint8_t* key, std::uint8_t constant, int turn, std::uint64_t out[16]) {
  std::uint8_t withConstant[16];
  for (int i = 0; i < 16; ++i) withConstant[i] = static_cast<std::uint8_t>(key[i] ^ constant);
  std::uint8_t eightTimes[kParallelBytes];
  TurnBytes(withConstant, turn % 4, eightTimes);
  for (int b = 1; b < 8; ++b) std::memcpy(eightTimes + 16 * b, eightTimes, 16);
  const State state = Load(eightTimes);
  for (int j = 0; j < 8; ++j) std::memcpy(out + 2 * j, &state.s[j], 16);
}

}  // namespace

void MakeParallelKeys(const ByteRoundKeys& roundKeys, int rounds, PairedRoundKeys& encryption,
                      PairedRoundKeys& decryption) {
  // Enciphering, round r meets a state turned by r, and from round 1 on its key carries the
  // S-box's constant.
  for (int r = 0; r <= rounds; ++r) {
    LayOut(roundKeys[r], r > 0 ? 0x63 : 0, 4 - r % 4, encryption[r]);
  }
  // Deciphering, step i adds round key rounds - i to a state turned back by i; every step but
  // the last is followed by the inverse S-box, whose constant the key carries.
  for (int i = 0; i <= rounds; ++i) {
    LayOut(roundKeys[rounds - i], i < rounds ? 0x63 : 0, i, decryption[i]);
  }
}

void EncryptParallel(const PairedRoundKeys& keys, int rounds, const std::uint8_t* in,
                     std::uint8_t* out) {
  State state = Load(in);
  AddKey(state, keys[0]);
  for (int r = 1; r < rounds; ++r) {
    aes_sbox::SubBytesLinear(state.s);
    MixColumnsTurned(state, r);
    AddKey(state, keys[r]);
  }
  aes_sbox::SubBytesLinear(state.s);
  AddKey(state, keys[rounds]);
  TurnRows(state, rounds);
  Store(state, out);
}

void DecryptParallel(const PairedRoundKeys& keys, int rounds, const std::uint8_t* in,
                     std::uint8_t* out) {
  State state = Load(in);
  AddKey(state, keys[0]);
  aes_sbox::InvSubBytesLinear(state.s);
  for (int i = 1; i < rounds; ++i) {
    AddKey(state, keys[i]);
    InvMixColumnsTurned(state, 4 - i % 4);
    aes_sbox::InvSubBytesLinear(state.s);
  }
  AddKey(state, keys[rounds]);
  TurnRows(state, 4 - rounds % 4);
  Store(state, out);
}

}  // namespace velador::aes_portable

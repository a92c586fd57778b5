// The serial engine of the portable path: one 16-byte block on eight 64-bit slices.
//
// Layout: slice j holds bit j of every byte; the byte in row r and column c sits at bit
// 16c + r and again at 16c + r + 4, + 8 and + 12, so each column's four rows fill its 16 bits
// four times over. With the repeats, reading row r + j of column c + s in place of row r of
// column c is one rotation of the word, right by 16s + j: it leaves the top j bits of each
// column stale, which Refresh repairs from the lowest four every few rounds.
//
// ShiftRows is never applied between rounds. After k rounds the state held is the true state
// with row r turned right by k·r columns (mod 4), so round k's MixColumns takes row r + 1 of
// column c + k where the true one takes column c, and round k's key is turned the same way when
// the keys are made. One turn of the rows at the end puts the block back in order.

#include "aes_portable.h"
#include "aes_sbox_circuit.h"
#include "aes_word_slices.h"

namespace velador::aes_portable {

namespace {

using word_slices::RotateRight;

constexpr std::uint64_t kLowRows = 0x000F000F000F000F;  // one copy of each column's rows
constexpr std::uint64_t kEvenRows = 0x5555555555555555;

struct State {
  std::uint64_t s[8];
};

State Load(const std::uint8_t* in) {
  const std::uint64_t low = word_slices::TransposeBits8x8(word_slices::Load64(in));
  const std::uint64_t high = word_slices::TransposeBits8x8(word_slices::Load64(in + 8));
  State state;
  for (int j = 0; j < 8; ++j) {
    // Columns 0 and 1 from `low`, 2 and 3 from `high`, four rows each.
    std::uint64_t x = ((low >> (8 * j)) & 0xff) | (((high >> (8 * j)) & 0xff) << 32);
    x = (x | (x << 12)) & kLowRows;
    state.s[j] = x * 0x1111;
  }
  return state;
}

void Store(const State& state, std::uint8_t* out) {
  std::uint64_t low = 0, high = 0;
  for (int j = 0; j < 8; ++j) {
    std::uint64_t x = state.s[j] & kLowRows;
    x |= x >> 12;
    low |= (x & 0xff) << (8 * j);
    high |= ((x >> 32) & 0xff) << (8 * j);
  }
  word_slices::Store64(out, word_slices::TransposeBits8x8(low));
  word_slices::Store64(out + 8, word_slices::TransposeBits8x8(high));
}

inline void Xor(State& state, const std::uint64_t* other) {
  for (int j = 0; j < 8; ++j) state.s[j] ^= other[j];
}

// Every row copy made again from the lowest one.
inline void Refresh(State& state) {
  for (auto& slice : state.s) slice = (slice & kLowRows) * 0x1111;
}

// Multiplication by x of every byte: bit j takes bit j - 1, and x^8 folds back as 0x1b.
inline void Xtime(const std::uint64_t in[8], std::uint64_t out[8]) {
  out[0] = in[7];
  out[1] = in[0] ^ in[7];
  out[2] = in[1];
  out[3] = in[2] ^ in[7];
  out[4] = in[3] ^ in[7];
  out[5] = in[4];
  out[6] = in[5];
  out[7] = in[6];
}

// MixColumns of a state whose rows are turned by Turn: row r + 1 of column c + Turn, row r + 2
// of column c + 2·Turn and so on stand in for column c. Leaves the top three bits of each
// column stale.
template <int Turn>
inline void MixColumns(State& state) {
  constexpr int kNext = 1 + 16 * (Turn % 4);
  constexpr int kSecondNext = 2 + 16 * (2 * Turn % 4);
  std::uint64_t next[8], sum[8], sumDoubled[8];
  for (int j = 0; j < 8; ++j) {
    next[j] = RotateRight<kNext>(state.s[j]);
    sum[j] = state.s[j] ^ next[j];
  }
  Xtime(sum, sumDoubled);
  // 2a0 + 3a1 + a2 + a3 = 2(a0 + a1) + a1 + (a2 + a3), and a2 + a3 is the sum two rows on.
  for (int j = 0; j < 8; ++j) {
    state.s[j] = sumDoubled[j] ^ next[j] ^ RotateRight<kSecondNext>(sum[j]);
  }
}

void MixColumnsTurned(State& state, int turn) {
  word_slices::WithTurn(turn, [&](auto fixed) { MixColumns<decltype(fixed)::value>(state); });
}

// Turns row r left by `turn`·r columns: what ShiftRows applied `turn` times does. Only turns
// of 0 and 2 occur (10, 12 and 14 rounds).
void TurnRows(State& state, int turn) {
  if (turn % 4 == 0) return;
  for (auto& slice : state.s) slice = (slice & kEvenRows) | (RotateRight<32>(slice) & ~kEvenRows);
}

// The cipher from the state after round key 0 to the ciphertext.
void Rounds(const SlicedRoundKeys& keys, int rounds, State& state) {
  Refresh(state);
  for (int r = 1; r < rounds; ++r) {
    aes_sbox::SubBytesLinear(state.s);
    MixColumnsTurned(state, r);
    Xor(state, keys[r]);
    // Four MixColumns leave 4 of the 16 bits of each column good, what a fifth needs to start.
    if (r % 4 == 0) Refresh(state);
  }
  aes_sbox::SubBytesLinear(state.s);
  Xor(state, keys[rounds]);
  TurnRows(state, rounds);
}

// The 16 bytes of `block` with row r turned left by `turn`·r columns (mod 4).
void TurnBytes(const std::uint8_t* block, int turn, std::uint8_t* out) {
  for (int c = 0; c < 4; ++c) {
    for (int r = 0; r < 4; ++r) out[4 * c + r] = block[4 * ((c + turn * r) % 4) + r];
  }
}

}  // namespace

void MakeSerialKeys(const ByteRoundKeys& roundKeys, int rounds, SlicedRoundKeys& keys) {
  for (int r = 0; r <= rounds; ++r) {
    // Round r's key meets a state turned by r (turned back: by 4 - r mod 4); from round 1 on
    // it also carries the S-box's constant, which the circuit leaves out.
    std::uint8_t withConstant[16];
    for (int i = 0; i < 16; ++i) {
      withConstant[i] = static_cast<std::uint8_t>(roundKeys[r][i] ^ (r > 0 ? 0x63 : 0));
    }
    std::uint8_t turned[16];
    TurnBytes(withConstant, (4 - r % 4) % 4, turned);
    const State state = Load(turned);
    for (int j = 0; j < 8; ++j) keys[r][j] = state.s[j];
  }
}

void EncryptSerialBlock(const SlicedRoundKeys& keys, int rounds, const std::uint8_t* in,
                        std::uint8_t* out) {
  State state = Load(in);
  Xor(state, keys[0]);
  Rounds(keys, rounds, state);
  Store(state, out);
}

void EncryptSerialChain(const SlicedRoundKeys& keys, int rounds, bool cfb, std::uint8_t* chain,
                        const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks) {
  State value = Load(chain);
  for (std::uint64_t k = 0; k < blocks; ++k, in += 16, out += 16) {
    const State plain = Load(in);
    if (cfb) {
      Xor(value, keys[0]);
      Rounds(keys, rounds, value);
      Xor(value, plain.s);
    } else {
      Xor(value, plain.s);
      Xor(value, keys[0]);
      Rounds(keys, rounds, value);
    }
    Store(value, out);
  }
  Store(value, chain);
}

}  // namespace velador::aes_portable

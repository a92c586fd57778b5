#pragma once

// Bit moves on 64-bit words shared by the portable AES engines: loads and stores in a fixed
// byte order, rotations by constant amounts and bit transpositions, on single words and on
// pairs of words. Every shift amount and mask is a constant: nothing here depends on the
// values moved. Internal to crypto/.

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace velador::word_slices {

// Two 64-bit words that every operator acts on side by side. With GCC and clang it is a vector
// type, so that one instruction handles both where the processor has 128-bit registers (SSE2
// on every x86-64, NEON on every ARM64); other compilers get the same operations on a plain
// pair.
#if defined(__GNUC__) || defined(__clang__)
typedef std::uint64_t WordPair __attribute__((vector_size(16)));
inline WordPair MakePair(std::uint64_t a, std::uint64_t b) { return WordPair{a, b}; }
inline std::uint64_t Lane(const WordPair& p, int i) { return p[i]; }
#else
struct WordPair {
  std::uint64_t lane[2];
};
inline WordPair MakePair(std::uint64_t a, std::uint64_t b) { return WordPair{{a, b}}; }
inline std::uint64_t Lane(const WordPair& p, int i) { return p.lane[i]; }
inline WordPair operator^(WordPair a, WordPair b) {
  return {{a.lane[0] ^ b.lane[0], a.lane[1] ^ b.lane[1]}};
}
inline WordPair operator&(WordPair a, WordPair b) {
  return {{a.lane[0] & b.lane[0], a.lane[1] & b.lane[1]}};
}
inline WordPair operator|(WordPair a, WordPair b) {
  return {{a.lane[0] | b.lane[0], a.lane[1] | b.lane[1]}};
}
inline WordPair operator~(WordPair a) { return {{~a.lane[0], ~a.lane[1]}}; }
inline WordPair operator>>(WordPair a, int n) { return {{a.lane[0] >> n, a.lane[1] >> n}}; }
inline WordPair operator<<(WordPair a, int n) { return {{a.lane[0] << n, a.lane[1] << n}}; }
inline WordPair operator&(WordPair a, std::uint64_t m) { return {{a.lane[0] & m, a.lane[1] & m}}; }
inline WordPair& operator^=(WordPair& a, WordPair b) { return a = a ^ b; }
#endif

// `mask` in both words of a pair, or as it is for a single word.
template <class W>
inline W Spread(std::uint64_t mask) {
  if constexpr (sizeof(W) == sizeof(std::uint64_t)) {
    return mask;
  } else {
    return MakePair(mask, mask);
  }
}

inline std::uint64_t ReverseBytes(std::uint64_t w) {
  std::uint64_t r = 0;
  for (int i = 0; i < 8; ++i) r |= ((w >> (8 * i)) & 0xff) << (56 - 8 * i);
  return r;
}

// Byte i of p[0, 8) becomes bits 8i to 8i + 7 of the word, on any host.
inline std::uint64_t Load64(const std::uint8_t* p) {
  std::uint64_t w;
  std::memcpy(&w, p, sizeof w);
  if constexpr (std::endian::native == std::endian::big) w = ReverseBytes(w);
  return w;
}

inline void Store64(std::uint8_t* p, std::uint64_t w) {
  if constexpr (std::endian::native == std::endian::big) w = ReverseBytes(w);
  std::memcpy(p, &w, sizeof w);
}

// Bit i of the result is bit i + N (mod 64) of x (of each word of a pair).
template <int N, class W>
inline W RotateRight(W x) {
  static_assert(N > 0 && N < 64);
  return (x >> N) | (x << (64 - N));
}

// Exchanges bit p and bit p + Shift of x for every p in `mask` (bit p + Shift must lie outside
// it): one step of a bit permutation.
template <int Shift, class W>
inline W SwapBits(W x, std::uint64_t mask) {
  const W t = ((x >> Shift) ^ x) & Spread<W>(mask);
  return x ^ t ^ (t << Shift);
}

// The 8x8 bit matrix whose row i is byte i, transposed: bit j of byte i becomes bit i of byte j.
inline std::uint64_t TransposeBits8x8(std::uint64_t x) {
  x = SwapBits<7>(x, 0x00AA00AA00AA00AA);
  x = SwapBits<14>(x, 0x0000CCCC0000CCCC);
  return SwapBits<28>(x, 0x00000000F0F0F0F0);
}

// Field f (bits 16f to 16f + 15) of each word of the result is field f + Fields (mod 4) of x.
template <int Fields>
inline WordPair RotateFieldsRight(WordPair x) {
  static_assert(Fields > 0 && Fields < 4);
#if defined(__GNUC__) || defined(__clang__)
  if constexpr (std::endian::native == std::endian::little) {
    // A permutation of 16-bit lanes: one shuffle where the processor has one.
    typedef std::uint16_t Lanes16 __attribute__((vector_size(16)));
    const Lanes16 v = (Lanes16)x;
    return (WordPair)__builtin_shufflevector(v, v, Fields % 4, (1 + Fields) % 4, (2 + Fields) % 4,
                                             (3 + Fields) % 4, 4 + Fields % 4, 4 + (1 + Fields) % 4,
                                             4 + (2 + Fields) % 4, 4 + (3 + Fields) % 4);
  }
#endif
  return RotateRight<16 * Fields>(x);
}

// Each 16-bit field of each word of x rotated right by Bits.
template <int Bits>
inline WordPair RotateWithinFields(WordPair x) {
  static_assert(Bits > 0 && Bits < 16);
#if defined(__GNUC__) || defined(__clang__)
  typedef std::uint16_t Lanes16 __attribute__((vector_size(16)));
  const Lanes16 v = (Lanes16)x;
  return (WordPair)((v >> Bits) | (v << (16 - Bits)));
#else
  constexpr std::uint64_t kLow = 0x0001000100010001 * ((1u << (16 - Bits)) - 1);
  return ((x >> Bits) & kLow) | ((x << (16 - Bits)) & ~kLow);
#endif
}

// Exchanges bit p + Shift of a with bit p of b for every p in `mask`: one step of a bit
// permutation across two words.
template <int Shift, class W>
inline void SwapBitsAcross(W& a, W& b, std::uint64_t mask) {
  const W t = ((a >> Shift) ^ b) & Spread<W>(mask);
  b ^= t;
  a ^= t << Shift;
}

// Calls `f` with std::integral_constant<int, turn mod 4>: a step written for a fixed turn (a
// template) run for the turn a round has reached.
template <class F>
void WithTurn(int turn, F&& f) {
  switch (turn % 4) {
    case 0:
      return f(std::integral_constant<int, 0>{});
    case 1:
      return f(std::integral_constant<int, 1>{});
    case 2:
      return f(std::integral_constant<int, 2>{});
    default:
      return f(std::integral_constant<int, 3>{});
  }
}

}  // namespace velador::word_slices

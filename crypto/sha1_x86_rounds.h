#pragma once

// The SHA-1 rounds on the processor's SHA instructions (x86-64), shared by the compressors of
// sha1_hardware.cpp and by the pass of aes_hardware.cpp that hashes what it enciphers. Internal
// to crypto/.

#include <cstdint>

#include "dispatch.h"

#if VELADOR_CRYPTO_X86_64
#include <immintrin.h>

#include <utility>

#define VELADOR_TARGET_SHA __attribute__((target("sha,sse4.1")))

namespace velador::sha1_x86 {

// Reverses all 16 bytes: big-endian message words, the first one in the top lane.
VELADOR_TARGET_SHA inline __m128i ByteOrder() {
  return _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
}

// Rounds 4G to 4G + 3. The instructions keep a, b, c, d in one register (a in the top lane) and
// take e added to the four message words; `e` holds, on entry, the a, b, c, d from before the
// previous four rounds, from which sha1nexte derives this group's e. The message words of
// groups 4 to 19 are built in a ring of four registers, each in three steps spread over the
// three groups before its use.
template <int G>
VELADOR_TARGET_SHA inline void FourRounds(__m128i& abcd, __m128i& e, __m128i (&w)[4]) {
  const __m128i before = abcd;
  if constexpr (G == 0) {
    e = _mm_add_epi32(e, w[0]);
  } else {
    e = _mm_sha1nexte_epu32(e, w[G % 4]);
  }
  abcd = _mm_sha1rnds4_epu32(abcd, e, G / 5);
  constexpr int next = G + 1, second = G + 2, third = G + 3;
  if constexpr (next >= 4 && next < 20) w[next % 4] = _mm_sha1msg2_epu32(w[next % 4], w[G % 4]);
  if constexpr (second >= 4 && second < 20) w[second % 4] = _mm_xor_si128(w[second % 4], w[G % 4]);
  if constexpr (third >= 4 && third < 20) w[third % 4] = _mm_sha1msg1_epu32(w[third % 4], w[G % 4]);
  e = before;
}

template <int... G>
VELADOR_TARGET_SHA inline void EightyRounds(__m128i& abcd, __m128i& e, __m128i (&w)[4],
                                            std::integer_sequence<int, G...>) {
  (FourRounds<G>(abcd, e, w), ...);
}

// One 64-byte block in the compression function: Start loads its message words and keeps the
// chaining value it starts from, the twenty groups of FourRounds run, and Finish adds that
// value back.
struct Block {
  __m128i abcd, e, w[4], abcdIn, eIn;

  VELADOR_TARGET_SHA void Start(__m128i chainAbcd, __m128i chainE, const std::uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 16 * i)),
                              ByteOrder());
    }
    abcd = abcdIn = chainAbcd;
    e = eIn = chainE;
  }

  VELADOR_TARGET_SHA void Finish(__m128i& chainAbcd, __m128i& chainE) const {
    chainE = _mm_sha1nexte_epu32(e, eIn);
    chainAbcd = _mm_add_epi32(abcd, abcdIn);
  }
};

// The chaining value every message starts from, as the registers hold it.
VELADOR_TARGET_SHA inline __m128i InitialAbcd() {
  return _mm_set_epi32(0x67452301, static_cast<int>(0xefcdab89), static_cast<int>(0x98badcfe),
                       0x10325476);
}
VELADOR_TARGET_SHA inline __m128i InitialE() {
  return _mm_set_epi32(static_cast<int>(0xc3d2e1f0), 0, 0, 0);
}

// The 20-byte digest of a chaining value held in the registers.
VELADOR_TARGET_SHA inline void PutDigest(__m128i abcd, __m128i e, std::uint8_t* digest) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(digest), _mm_shuffle_epi8(abcd, ByteOrder()));
  const auto last = static_cast<std::uint32_t>(_mm_extract_epi32(e, 3));
  for (int i = 0; i < 4; ++i) digest[16 + i] = static_cast<std::uint8_t>(last >> (24 - 8 * i));
}

}  // namespace velador::sha1_x86

#endif  // VELADOR_CRYPTO_X86_64

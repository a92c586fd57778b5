// The SHA-1 compression function on the processor's SHA instructions (x86-64).

#include "sha1_compress.h"

#if VELADOR_CRYPTO_X86_64
#include <immintrin.h>

#include <utility>

#define VELADOR_TARGET_SHA __attribute__((target("sha,sse4.1")))
#endif

namespace velador::sha1 {

#if VELADOR_CRYPTO_X86_64

namespace {

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

VELADOR_TARGET_SHA void CompressInstructions(std::uint32_t state[5], const std::uint8_t* blocks,
                                             std::size_t count) {
  // Reverses all 16 bytes: big-endian message words, the first one in the top lane.
  const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1b);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; count > 0; --count, blocks += 64) {
    const __m128i abcdIn = abcd, eIn = e0;
    __m128i w[4];
    for (int i = 0; i < 4; ++i) {
      w[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                              byteOrder);
    }
    __m128i e = e0;
    EightyRounds(abcd, e, w, std::make_integer_sequence<int, 20>{});
    e0 = _mm_sha1nexte_epu32(e, eIn);
    abcd = _mm_add_epi32(abcd, abcdIn);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1b));
  state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

// The same rounds on kLanes messages at once, group by group. One message's rounds form a
// chain of dependent sha1rnds4 whose latency leaves the SHA unit idle most of the time; the
// lanes' chains are independent, so their instructions fill those gaps.
template <int G>
VELADOR_TARGET_SHA inline void LanesFourRounds(__m128i (&abcd)[kLanes], __m128i (&e)[kLanes],
                                               __m128i (&w)[kLanes][4]) {
  for (int lane = 0; lane < kLanes; ++lane) FourRounds<G>(abcd[lane], e[lane], w[lane]);
}

template <int... G>
VELADOR_TARGET_SHA inline void LanesEightyRounds(__m128i (&abcd)[kLanes], __m128i (&e)[kLanes],
                                                 __m128i (&w)[kLanes][4],
                                                 std::integer_sequence<int, G...>) {
  (LanesFourRounds<G>(abcd, e, w), ...);
}

VELADOR_TARGET_SHA void CompressLanesInstructions(std::uint32_t (*states)[5],
                                                  const std::uint8_t* const* blocks,
                                                  std::size_t count) {
  const __m128i byteOrder = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd[kLanes], e0[kLanes];
  for (int lane = 0; lane < kLanes; ++lane) {
    abcd[lane] =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(states[lane])), 0x1b);
    e0[lane] = _mm_set_epi32(static_cast<int>(states[lane][4]), 0, 0, 0);
  }
  for (std::size_t block = 0; block < count; ++block) {
    __m128i abcdIn[kLanes], eIn[kLanes], e[kLanes], w[kLanes][4];
    for (int lane = 0; lane < kLanes; ++lane) {
      const std::uint8_t* in = blocks[lane] + 64 * block;
      for (int i = 0; i < 4; ++i) {
        w[lane][i] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 16 * i)), byteOrder);
      }
      abcdIn[lane] = abcd[lane];
      eIn[lane] = e[lane] = e0[lane];
    }
    LanesEightyRounds(abcd, e, w, std::make_integer_sequence<int, 20>{});
    for (int lane = 0; lane < kLanes; ++lane) {
      e0[lane] = _mm_sha1nexte_epu32(e[lane], eIn[lane]);
      abcd[lane] = _mm_add_epi32(abcd[lane], abcdIn[lane]);
    }
  }
  for (int lane = 0; lane < kLanes; ++lane) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(states[lane]), _mm_shuffle_epi32(abcd[lane], 0x1b));
    states[lane][4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0[lane], 3));
  }
}

}  // namespace

Compressor InstructionCompressor(const dispatch::Features& features) {
  return features.sha ? CompressInstructions : nullptr;
}

LanesCompressor InstructionLanesCompressor(const dispatch::Features& features) {
  return features.sha ? CompressLanesInstructions : nullptr;
}

#elif !VELADOR_CRYPTO_ARM64  // sha1_arm.cpp has the ARM64 compressor

Compressor InstructionCompressor(const dispatch::Features&) { return nullptr; }

LanesCompressor InstructionLanesCompressor(const dispatch::Features&) { return nullptr; }

#endif

}  // namespace velador::sha1

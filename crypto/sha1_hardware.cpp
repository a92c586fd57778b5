// The SHA-1 compression function on the processor's SHA instructions (x86-64).

#include "sha1_compress.h"
#include "sha1_x86_rounds.h"

namespace velador::sha1 {

#if VELADOR_CRYPTO_X86_64

namespace {

using sha1_x86::ByteOrder;
using sha1_x86::EightyRounds;
using sha1_x86::FourRounds;

VELADOR_TARGET_SHA void CompressInstructions(std::uint32_t state[5], const std::uint8_t* blocks,
                                             std::size_t count) {
  const __m128i byteOrder = ByteOrder();
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
  const __m128i byteOrder = ByteOrder();
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

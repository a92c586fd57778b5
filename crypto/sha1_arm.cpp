// The SHA-1 compression function on the ARMv8 SHA1 instructions (ARM64).

#include "sha1_compress.h"

#if VELADOR_CRYPTO_ARM64
#include <arm_neon.h>

#include <utility>

#if defined(__clang__)
#define VELADOR_TARGET_SHA __attribute__((target("sha2")))
#else
#define VELADOR_TARGET_SHA __attribute__((target("+crypto")))
#endif
#endif

namespace velador::sha1 {

#if VELADOR_CRYPTO_ARM64

namespace {

// Rounds 4G to 4G + 3. The instructions keep a, b, c, d in one register (a in the first lane)
// and take e apart, to be added to the four message words; sha1h gives the e of the next
// group, a rotated, from the a before these rounds. The message words of groups 4 to 19 come
// from the four groups before, kept in a ring of four registers.
template <int G>
VELADOR_TARGET_SHA inline void FourRounds(uint32x4_t& abcd, std::uint32_t& e, uint32x4_t (&w)[4]) {
  static constexpr std::uint32_t kConstants[4] = {0x5a827999, 0x6ed9eba1, 0x8f1bbcdc, 0xca62c1d6};
  if constexpr (G >= 4) {
    w[G % 4] =
        vsha1su1q_u32(vsha1su0q_u32(w[G % 4], w[(G + 1) % 4], w[(G + 2) % 4]), w[(G + 3) % 4]);
  }
  const uint32x4_t words = vaddq_u32(w[G % 4], vdupq_n_u32(kConstants[G / 5]));
  const std::uint32_t nextE = vsha1h_u32(vgetq_lane_u32(abcd, 0));
  if constexpr (G < 5) {
    abcd = vsha1cq_u32(abcd, e, words);  // choose
  } else if constexpr (G >= 10 && G < 15) {
    abcd = vsha1mq_u32(abcd, e, words);  // majority
  } else {
    abcd = vsha1pq_u32(abcd, e, words);  // parity
  }
  e = nextE;
}

template <int... G>
VELADOR_TARGET_SHA inline void EightyRounds(uint32x4_t& abcd, std::uint32_t& e, uint32x4_t (&w)[4],
                                            std::integer_sequence<int, G...>) {
  (FourRounds<G>(abcd, e, w), ...);
}

VELADOR_TARGET_SHA void CompressInstructions(std::uint32_t state[5], const std::uint8_t* blocks,
                                             std::size_t count) {
  uint32x4_t abcd = vld1q_u32(state);
  std::uint32_t e0 = state[4];
  for (; count > 0; --count, blocks += 64) {
    uint32x4_t w[4];
    // Big-endian message words.
    for (int i = 0; i < 4; ++i) w[i] = vreinterpretq_u32_u8(vrev32q_u8(vld1q_u8(blocks + 16 * i)));
    const uint32x4_t abcdIn = abcd;
    std::uint32_t e = e0;
    EightyRounds(abcd, e, w, std::make_integer_sequence<int, 20>{});
    abcd = vaddq_u32(abcd, abcdIn);
    e0 += e;
  }
  vst1q_u32(state, abcd);
  state[4] = e0;
}

}  // namespace

Compressor InstructionCompressor(const dispatch::Features& features) {
  return features.sha ? CompressInstructions : nullptr;
}

// One message at a time is all this path does: the lanes fall back to it.
LanesCompressor InstructionLanesCompressor(const dispatch::Features&) { return nullptr; }

#endif  // VELADOR_CRYPTO_ARM64

}  // namespace velador::sha1

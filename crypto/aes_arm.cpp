// The ARM64 engine of aes_hardware.h: AES-128 on the ARMv8 cryptography extension.

#include "aes_hardware.h"

#if VELADOR_CRYPTO_ARM64
#include <arm_neon.h>

#include "aes_hardware_modes.h"

#if defined(__clang__)
#define VELADOR_TARGET_AES __attribute__((target("aes")))
#else
#define VELADOR_TARGET_AES __attribute__((target("+crypto")))
#endif
#endif

namespace velador::aes_hardware {

#if VELADOR_CRYPTO_ARM64

namespace {

using Block = uint8x16_t;

VELADOR_TARGET_AES inline Block Load(const std::uint8_t* p) { return vld1q_u8(p); }

VELADOR_TARGET_AES inline void Store(std::uint8_t* p, Block v) { vst1q_u8(p, v); }

VELADOR_TARGET_AES inline Block Xor(Block a, Block b) { return veorq_u8(a, b); }

// The extension's operations, for the block modes (aes_hardware_modes.h): a block per register.
struct Armv8 {
  using Block = uint8x16_t;
  using Narrow = Armv8;
  static constexpr int kBytes = 16;

  VELADOR_TARGET_AES static inline void Load(Block& x, const std::uint8_t* p) { x = vld1q_u8(p); }
  VELADOR_TARGET_AES static inline void Store(std::uint8_t* p, const Block& x) { vst1q_u8(p, x); }
  VELADOR_TARGET_AES static inline void Xor(Block& x, const Block& y) { x = veorq_u8(x, y); }
  VELADOR_TARGET_AES static inline void Key(Block& k, const std::uint8_t* p) { k = vld1q_u8(p); }
  VELADOR_TARGET_AES static inline void Preceding(Block& x, const Block& chain,
                                                  const std::uint8_t*) {
    x = chain;
  }

  // AESE and AESD add their key before the substitution, so the last round's key is added
  // alone; each AESE stays next to its AESMC (AESD to its AESIMC), the pairs processors run as
  // one.
  template <bool Inverse, int N>
  VELADOR_TARGET_AES static inline void Rounds(const RoundKeys<Armv8>& rk, Block (&x)[N]) {
    VELADOR_UNROLLED
    for (int r = 0; r < kRounds - 1; ++r) {
      VELADOR_UNROLLED
      for (auto& b : x) {
        b = Inverse ? vaesimcq_u8(vaesdq_u8(b, rk.k[r])) : vaesmcq_u8(vaeseq_u8(b, rk.k[r]));
      }
    }
    VELADOR_UNROLLED
    for (auto& b : x) {
      b = veorq_u8(Inverse ? vaesdq_u8(b, rk.k[kRounds - 1]) : vaeseq_u8(b, rk.k[kRounds - 1]),
                   rk.k[kRounds]);
    }
  }
};

// SubWord(RotWord(w)) ^ rcon of the schedule's last word, in a lane's little-endian order. AESE
// with a zero key is ShiftRows(SubBytes(x)); with w in all four columns ShiftRows moves nothing,
// so every lane holds SubWord(w), and RotWord is a rotation of that lane by one byte.
VELADOR_TARGET_AES inline std::uint32_t Scheduled(std::uint32_t w, std::uint32_t rcon) {
  const Block spread = vreinterpretq_u8_u32(vdupq_n_u32(w));
  const std::uint32_t sub =
      vgetq_lane_u32(vreinterpretq_u32_u8(vaeseq_u8(spread, vdupq_n_u8(0))), 0);
  return ((sub >> 8) | (sub << 24)) ^ rcon;
}

VELADOR_TARGET_AES void ExpandKey(const std::uint8_t* key, std::uint8_t* schedule) {
  static constexpr std::uint32_t kRcon[kRounds] = {0x01, 0x02, 0x04, 0x08, 0x10,
                                                   0x20, 0x40, 0x80, 0x1b, 0x36};
  uint32x4_t k[kRounds + 1];
  k[0] = vreinterpretq_u32_u8(Load(key));
  VELADOR_UNROLLED
  for (int r = 1; r <= kRounds; ++r) {
    // Each word adds the one before it: w0 ^= t, w1 ^= w0, ... as running sums of shifted keys.
    uint32x4_t x = k[r - 1];
    x = veorq_u32(x, vextq_u32(vdupq_n_u32(0), x, 3));
    x = veorq_u32(x, vextq_u32(vdupq_n_u32(0), x, 2));
    k[r] = veorq_u32(x, vdupq_n_u32(Scheduled(vgetq_lane_u32(k[r - 1], 3), kRcon[r - 1])));
  }
  VELADOR_UNROLLED
  for (int r = 0; r <= kRounds; ++r) {
    const Block forward = vreinterpretq_u8_u32(k[r]);
    const Block backward = vreinterpretq_u8_u32(k[kRounds - r]);
    Store(schedule + 16 * r, forward);
    Store(schedule + kInverseKeys + 16 * r,
          r == 0 || r == kRounds ? backward : vaesimcq_u8(backward));
  }
}

// Each block waits for the one before, so these modes run at the latency of the rounds. A
// block's result is the state after its last AESE plus the last key; the next block's first
// AESE adds its own key, so it takes that state directly with the last key, its first key and
// (in CBC) its plaintext folded into one key that is ready before the state is: the chain waits
// on AES instructions alone. The plaintext enters CBC before the rounds and CFB after them.
template <bool Cfb>
VELADOR_TARGET_AES void EncryptSerial(const std::uint8_t* schedule, std::uint8_t* chainBytes,
                                      const std::uint8_t* in, std::uint8_t* out,
                                      std::uint64_t blocks) {
  const RoundKeys<Armv8> rk = LoadKeys<Armv8>(schedule);
  const Block lastAndFirst = Xor(rk.k[kRounds], rk.k[0]);
  Block v = Load(chainBytes);
  Block x = Cfb ? v : Xor(v, Load(in));  // the first block's input
  Block firstKey = rk.k[0];
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    x = vaesmcq_u8(vaeseq_u8(x, firstKey));
    VELADOR_UNROLLED
    for (int r = 1; r < kRounds - 1; ++r) x = vaesmcq_u8(vaeseq_u8(x, rk.k[r]));
    x = vaeseq_u8(x, rk.k[kRounds - 1]);
    if constexpr (Cfb) {
      const Block plain = Load(in);
      v = Xor(Xor(x, rk.k[kRounds]), plain);
      firstKey = Xor(lastAndFirst, plain);
    } else {
      v = Xor(x, rk.k[kRounds]);
      if (blocks > 1) firstKey = Xor(lastAndFirst, Load(in + 16));
    }
    Store(out, v);
  }
  Store(chainBytes, v);
}

VELADOR_TARGET_AES void EncryptBlock(const std::uint8_t* schedule, const std::uint8_t* in,
                                     std::uint8_t* out) {
  OneBlock<Armv8, false>(schedule, in, out);
}

VELADOR_TARGET_AES void DecryptBlock(const std::uint8_t* schedule, const std::uint8_t* in,
                                     std::uint8_t* out) {
  OneBlock<Armv8, true>(schedule, in, out);
}

template <Parallel M>
VELADOR_TARGET_AES void Run(const std::uint8_t* schedule, std::uint8_t* chainBytes,
                            const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks) {
  RunParallel<Armv8, M>(schedule, chainBytes, in, out, blocks);
}

// What EncryptBuffer and DecryptBuffer call.
struct Code {
  template <bool Cfb>
  static constexpr auto serial = &EncryptSerial<Cfb>;
  template <Parallel M>
  static constexpr auto run = &Run<M>;
};

const Engine kEngine{ExpandKey, EncryptBlock, DecryptBlock, EncryptBuffer<Code>,
                     DecryptBuffer<Code>};

}  // namespace

const Engine* EngineFor(const dispatch::Features& features) {
  return features.aes ? &kEngine : nullptr;
}

// The hashing of what CBC enciphers runs after it, on the SHA-1 path of its own.
CbcHashing CbcHashingFor(const dispatch::Features&) { return nullptr; }

#endif  // VELADOR_CRYPTO_ARM64

}  // namespace velador::aes_hardware

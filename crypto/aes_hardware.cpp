#include "aes_hardware.h"

#include <algorithm>

#include "crypto/aes_cipher.h"
#include "sha1_x86_rounds.h"

#if VELADOR_CRYPTO_X86_64
#include <immintrin.h>

#include "aes_hardware_modes.h"

// 64-bit Windows aligns the stack to 16 bytes only, and GCC there has a long record of
// treating 256-bit stack slots as 32-byte aligned anyway (its bug 54412), which faults. The
// wide code is left out of that build; the 128-bit code is still far faster than any disk.
#if defined(_WIN32)
#define VELADOR_AES_WIDE 0
#else
#define VELADOR_AES_WIDE 1
#endif

#define VELADOR_TARGET_AES __attribute__((target("aes,sse4.1")))
#define VELADOR_TARGET_VAES __attribute__((target("aes,sse4.1,avx2,vaes")))
#define VELADOR_TARGET_AES_SHA __attribute__((target("aes,sha,sse4.1")))
#endif

namespace velador::aes_hardware {

#if VELADOR_CRYPTO_X86_64

namespace {

VELADOR_TARGET_AES inline __m128i Load(const std::uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

VELADOR_TARGET_AES inline void Store(std::uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

VELADOR_TARGET_AES inline __m128i Xor(__m128i a, __m128i b) { return _mm_xor_si128(a, b); }

// AES-NI's operations, for the block modes (aes_hardware_modes.h): a block per register.
struct AesNi {
  using Block = __m128i;
  using Narrow = AesNi;
  static constexpr int kBytes = 16;

  VELADOR_TARGET_AES static inline void Load(Block& x, const std::uint8_t* p) {
    x = aes_hardware::Load(p);
  }
  VELADOR_TARGET_AES static inline void Store(std::uint8_t* p, const Block& x) {
    aes_hardware::Store(p, x);
  }
  VELADOR_TARGET_AES static inline void Xor(Block& x, const Block& y) { x = _mm_xor_si128(x, y); }
  VELADOR_TARGET_AES static inline void Key(Block& k, const std::uint8_t* p) {
    k = aes_hardware::Load(p);
  }
  VELADOR_TARGET_AES static inline void Preceding(Block& x, const Block& chain,
                                                  const std::uint8_t*) {
    x = chain;
  }

  template <bool Inverse, int N>
  VELADOR_TARGET_AES static inline void Rounds(const RoundKeys<AesNi>& rk, Block (&x)[N]) {
    VELADOR_UNROLLED
    for (auto& b : x) b = _mm_xor_si128(b, rk.k[0]);
    VELADOR_UNROLLED
    for (int r = 1; r < kRounds; ++r) {
      VELADOR_UNROLLED
      for (auto& b : x) b = Inverse ? _mm_aesdec_si128(b, rk.k[r]) : _mm_aesenc_si128(b, rk.k[r]);
    }
    VELADOR_UNROLLED
    for (auto& b : x) {
      b = Inverse ? _mm_aesdeclast_si128(b, rk.k[kRounds]) : _mm_aesenclast_si128(b, rk.k[kRounds]);
    }
  }
};

// The next round key: its first word is SubWord(RotWord(last word)) ^ rcon ^ first word, and
// each later word adds the one before it; the two shifted xors form those running sums.
template <int Rcon>
VELADOR_TARGET_AES inline __m128i NextRoundKey(__m128i key) {
  const __m128i assist = _mm_shuffle_epi32(_mm_aeskeygenassist_si128(key, Rcon), 0xff);
  key = Xor(key, _mm_slli_si128(key, 4));
  key = Xor(key, _mm_slli_si128(key, 8));
  return Xor(key, assist);
}

VELADOR_TARGET_AES void ExpandKey(const std::uint8_t* key, std::uint8_t* schedule) {
  __m128i k[kRounds + 1];
  k[0] = Load(key);
  k[1] = NextRoundKey<0x01>(k[0]);
  k[2] = NextRoundKey<0x02>(k[1]);
  k[3] = NextRoundKey<0x04>(k[2]);
  k[4] = NextRoundKey<0x08>(k[3]);
  k[5] = NextRoundKey<0x10>(k[4]);
  k[6] = NextRoundKey<0x20>(k[5]);
  k[7] = NextRoundKey<0x40>(k[6]);
  k[8] = NextRoundKey<0x80>(k[7]);
  k[9] = NextRoundKey<0x1b>(k[8]);
  k[10] = NextRoundKey<0x36>(k[9]);
  VELADOR_UNROLLED
  for (int r = 0; r <= kRounds; ++r) {
    Store(schedule + 16 * r, k[r]);
    const __m128i inverse =
        r == 0 || r == kRounds ? k[kRounds - r] : _mm_aesimc_si128(k[kRounds - r]);
    Store(schedule + kInverseKeys + 16 * r, inverse);
  }
}

// Each block waits for the one before, so these modes run at the latency of the rounds. The
// next block's first key addition (and, in CBC, its plaintext) is folded into the key of this
// block's last round: that round's second result is the next block's input, so the chain
// waits on AES rounds alone. The plaintext enters CBC before the rounds and CFB after them.
template <bool Cfb>
VELADOR_TARGET_AES void EncryptSerial(const std::uint8_t* schedule, std::uint8_t* chainBytes,
                                      const std::uint8_t* in, std::uint8_t* out,
                                      std::uint64_t blocks) {
  const RoundKeys<AesNi> rk = LoadKeys<AesNi>(schedule);
  const __m128i none = _mm_setzero_si128();
  __m128i v = Load(chainBytes);
  __m128i x = Xor(Xor(v, Cfb ? none : Load(in)), rk.k[0]);
  for (; blocks > 0; --blocks, in += 16, out += 16) {
    VELADOR_UNROLLED
    for (int r = 1; r < kRounds; ++r) x = _mm_aesenc_si128(x, rk.k[r]);
    const __m128i lastKey = Xor(rk.k[kRounds], Cfb ? Load(in) : none);
    v = _mm_aesenclast_si128(x, lastKey);
    Store(out, v);
    if (blocks > 1) {
      x = _mm_aesenclast_si128(x, Xor(Xor(lastKey, rk.k[0]), Cfb ? none : Load(in + 16)));
    }
  }
  Store(chainBytes, v);
}

// CBC enciphering in place, one block at a time, as EncryptSerial<false> does it: `x` holds the
// next block's input with the first round key added.
class CbcRun {
 public:
  VELADOR_TARGET_AES CbcRun(const std::uint8_t* schedule, const std::uint8_t* chainBytes,
                            std::uint8_t* data, std::uint64_t blocks)
      : rk_(LoadKeys<AesNi>(schedule)), v_(Load(chainBytes)), data_(data), left_(blocks) {
    if (left_ > 0) x_ = Xor(Xor(v_, Load(data_)), rk_.k[0]);
  }

  std::uint64_t Left() const { return left_; }

  VELADOR_TARGET_AES void Next() {
    VELADOR_UNROLLED
    for (int r = 1; r < kRounds; ++r) x_ = _mm_aesenc_si128(x_, rk_.k[r]);
    v_ = _mm_aesenclast_si128(x_, rk_.k[kRounds]);
    Store(data_, v_);
    if (--left_ > 0) {
      x_ = _mm_aesenclast_si128(x_, Xor(Xor(rk_.k[kRounds], rk_.k[0]), Load(data_ + 16)));
    }
    data_ += 16;
  }

  VELADOR_TARGET_AES void StoreChain(std::uint8_t* chainBytes) const { Store(chainBytes, v_); }

 private:
  const RoundKeys<AesNi> rk_;
  __m128i v_;  // the last ciphertext block
  __m128i x_ = _mm_setzero_si128();
  std::uint8_t* data_;
  std::uint64_t left_;
};

constexpr int kUnitBlocks = 32;                   // 512 bytes
constexpr int kUnitGroups = (512 / 64 + 1) * 20;  // eight blocks and the padding, 20 groups each

// The last block of the SHA-1 of any 512 bytes: 0x80, zeros, and the length, 4096 bits.
struct UnitPadding {
  std::uint8_t bytes[64] = {};
  constexpr UnitPadding() {
    bytes[0] = 0x80;
    bytes[62] = 0x10;
  }
};
constexpr UnitPadding kUnitPadding;

// Group G of a block of the unit being hashed, then the next block of the enciphering when it
// is due: `step` groups of kUnitGroups are done, and the blocks keep pace with them.
template <int G>
VELADOR_TARGET_AES_SHA inline void GroupAndBlock(sha1_x86::Block& block, CbcRun& run,
                                                 int& enciphered, int count, int step) {
  sha1_x86::FourRounds<G>(block.abcd, block.e, block.w);
  if (enciphered < count && enciphered * kUnitGroups < (step + G + 1) * kUnitBlocks) {
    run.Next();
    ++enciphered;
  }
}

template <int... G>
VELADOR_TARGET_AES_SHA inline void BlockOfUnit(sha1_x86::Block& block, CbcRun& run, int& enciphered,
                                               int count, int step,
                                               std::integer_sequence<int, G...>) {
  (GroupAndBlock<G>(block, run, enciphered, count, step), ...);
}

// Hashes the enciphered unit at `unit` into `digest` while `run` enciphers its next `count`
// blocks (at most a unit's). Each is a chain of instructions that wait on one another, the
// AES rounds a block after the block before, the SHA rounds a group after the group before;
// the two chains do not wait on each other, so their instructions, interleaved, fill each
// other's waits and the unit is hashed in about the time its successor takes to encipher.
VELADOR_TARGET_AES_SHA void HashUnitEnciphering(const std::uint8_t* unit, std::uint8_t* digest,
                                                CbcRun& run, int count) {
  __m128i abcd = sha1_x86::InitialAbcd(), e = sha1_x86::InitialE();
  int enciphered = 0;
  for (int b = 0; b <= 8; ++b) {
    sha1_x86::Block block;
    block.Start(abcd, e, b < 8 ? unit + 64 * b : kUnitPadding.bytes);
    BlockOfUnit(block, run, enciphered, count, 20 * b, std::make_integer_sequence<int, 20>{});
    block.Finish(abcd, e);
  }
  sha1_x86::PutDigest(abcd, e, digest);
}

VELADOR_TARGET_AES_SHA void EncryptCbcHashing(const std::uint8_t* schedule, std::uint8_t* chain,
                                              std::uint8_t* data, std::uint64_t blocks,
                                              std::uint8_t* digests) {
  if (blocks == 0) return;
  CbcRun run(schedule, chain, data, blocks);
  // The first unit alone; then each unit is hashed while the next one is enciphered, the last
  // while whatever blocks follow it are (none, it may be).
  while (run.Left() > 0 && blocks - run.Left() < kUnitBlocks) run.Next();
  for (std::uint64_t unit = 0; unit < blocks / kUnitBlocks; ++unit) {
    const int count = static_cast<int>(std::min<std::uint64_t>(run.Left(), kUnitBlocks));
    HashUnitEnciphering(data + 512 * unit, digests + 20 * unit, run, count);
  }
  run.StoreChain(chain);
}

VELADOR_TARGET_AES void EncryptBlock(const std::uint8_t* schedule, const std::uint8_t* in,
                                     std::uint8_t* out) {
  OneBlock<AesNi, false>(schedule, in, out);
}

VELADOR_TARGET_AES void DecryptBlock(const std::uint8_t* schedule, const std::uint8_t* in,
                                     std::uint8_t* out) {
  OneBlock<AesNi, true>(schedule, in, out);
}

template <Parallel M>
VELADOR_TARGET_AES void RunNarrow(const std::uint8_t* schedule, std::uint8_t* chainBytes,
                                  const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks) {
  RunParallel<AesNi, M>(schedule, chainBytes, in, out, blocks);
}

// What EncryptBuffer and DecryptBuffer call.
struct NarrowCode {
  template <bool Cfb>
  static constexpr auto serial = &EncryptSerial<Cfb>;
  template <Parallel M>
  static constexpr auto run = &RunNarrow<M>;
};

const Engine kNarrowEngine{ExpandKey, EncryptBlock, DecryptBlock, EncryptBuffer<NarrowCode>,
                           DecryptBuffer<NarrowCode>};

#if VELADOR_AES_WIDE

// VAES's operations: two blocks per 256-bit register, the same rounds on twice the blocks per
// instruction. The blocks a group of registers cannot fill go through AesNi.
struct Vaes {
  using Block = __m256i;
  using Narrow = AesNi;
  static constexpr int kBytes = 32;

  VELADOR_TARGET_VAES static inline void Load(Block& x, const std::uint8_t* p) {
    x = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  }
  VELADOR_TARGET_VAES static inline void Store(std::uint8_t* p, const Block& x) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x);
  }
  VELADOR_TARGET_VAES static inline void Xor(Block& x, const Block& y) {
    x = _mm256_xor_si256(x, y);
  }
  VELADOR_TARGET_VAES static inline void Key(Block& k, const std::uint8_t* p) {
    k = _mm256_broadcastsi128_si256(aes_hardware::Load(p));
  }
  VELADOR_TARGET_VAES static inline void Preceding(Block& x, const __m128i& chain,
                                                   const std::uint8_t* in) {
    x = _mm256_inserti128_si256(_mm256_castsi128_si256(chain), aes_hardware::Load(in), 1);
  }

  template <bool Inverse, int N>
  VELADOR_TARGET_VAES static inline void Rounds(const RoundKeys<Vaes>& rk, Block (&x)[N]) {
    VELADOR_UNROLLED
    for (auto& b : x) b = _mm256_xor_si256(b, rk.k[0]);
    VELADOR_UNROLLED
    for (int r = 1; r < kRounds; ++r) {
      VELADOR_UNROLLED
      for (auto& b : x) {
        b = Inverse ? _mm256_aesdec_epi128(b, rk.k[r]) : _mm256_aesenc_epi128(b, rk.k[r]);
      }
    }
    VELADOR_UNROLLED
    for (auto& b : x) {
      b = Inverse ? _mm256_aesdeclast_epi128(b, rk.k[kRounds])
                  : _mm256_aesenclast_epi128(b, rk.k[kRounds]);
    }
  }
};

template <Parallel M>
VELADOR_TARGET_VAES void RunWide(const std::uint8_t* schedule, std::uint8_t* chainBytes,
                                 const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks) {
  RunParallel<Vaes, M>(schedule, chainBytes, in, out, blocks);
}

// What EncryptBuffer and DecryptBuffer call. Enciphering in CBC and CFB cannot use the
// width: it is the narrow engine's.
struct WideCode {
  template <bool Cfb>
  static constexpr auto serial = &EncryptSerial<Cfb>;
  template <Parallel M>
  static constexpr auto run = &RunWide<M>;
};

const Engine kWideEngine{ExpandKey, EncryptBlock, DecryptBlock, EncryptBuffer<WideCode>,
                         DecryptBuffer<WideCode>};

#endif  // VELADOR_AES_WIDE

}  // namespace

const Engine* EngineFor(const dispatch::Features& features) {
  if (!features.aes) return nullptr;
#if VELADOR_AES_WIDE
  if (features.vaes) return &kWideEngine;
#endif
  return &kNarrowEngine;
}

CbcHashing CbcHashingFor(const dispatch::Features& features) {
  return features.aes && features.sha ? EncryptCbcHashing : nullptr;
}

#elif !VELADOR_CRYPTO_ARM64  // aes_arm.cpp has the ARM64 engine

const Engine* EngineFor(const dispatch::Features&) { return nullptr; }

CbcHashing CbcHashingFor(const dispatch::Features&) { return nullptr; }

#endif

}  // namespace velador::aes_hardware

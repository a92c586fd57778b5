#pragma once

// The block modes of the AES-128 instruction engines (aes_hardware.h), written once for all of
// them: an engine gives its instructions as an operations class (below), and its entry points,
// compiled for those instructions, instantiate these templates. Internal to crypto/; included
// only where an engine is built, which is with GCC or clang.
//
// An operations class `Ops` has:
//   Block                       a register of kBytes / 16 blocks
//   kBytes                      16, or 32 where a register holds two blocks (a wide engine)
//   Narrow                      the engine's operations class for one block per register (Ops
//                               itself when kBytes is 16): the chain block, and the blocks left
//                               over after the last group of whole registers, go through it
//   Load(x, p), Store(p, x)     x = the Block at p; the Block at p = x (unaligned)
//   Xor(x, y)                   x ^= y
//   Key(k, p)                   k = the 16-byte round key at p, in every block of the Block
//   Preceding(x, chain, in)     x = the ciphertext before the first Block at `in`: the chain
//                               block (a Narrow::Block), followed in a wide Block by in's first
//   Rounds<Inverse, N>(rk, x)   every round of the cipher, or of the equivalent inverse cipher,
//                               on N Blocks, with the round keys LoadKeys<Ops> gave
// Its functions carry the engine's target attribute and are declared inline, even those defined
// in the class: clang favours only functions declared so, and without that its inliner leaves
// the rounds on 8 ARM64 registers out of line. Blocks go in and out of them by reference: a
// function compiled without AVX, as these templates are, may not pass or return a 256-bit vector
// by value (clang refuses the call; GCC warns that the ABI changes).

#include <cstddef>
#include <cstdint>

#include "crypto/aes_cipher.h"

// The templates here carry no target attribute and are inlined into their callers whatever the
// compiler's limits say. Their callers are an engine's entry points, compiled for its
// instructions, so once inlined their code is compiled for those instructions too, and the
// operations' inline functions are inlined into the same entry point. (GCC and clang refuse to
// inline an always_inline function with a target attribute into one without, as each template
// is until it is inlined; so the operations are left plain inline.)
#define VELADOR_AES_MODE inline __attribute__((always_inline))

// The loops over blocks and rounds must unroll completely for blocks and round keys to stay
// in registers; -O3 does that unasked, -O2 only when told.
#define VELADOR_UNROLLED _Pragma("GCC unroll 16")

namespace velador::aes_hardware {

inline constexpr int kRounds = 10;
inline constexpr std::size_t kInverseKeys = 11 * 16;  // offset of the deciphering keys

// A template over the operations class rather than over its Block: GCC drops a vector type's
// attributes from a template argument, and warns of it.
template <class Ops>
struct RoundKeys {
  typename Ops::Block k[kRounds + 1];
};

// The 11 round keys at `keys` (the enciphering ones or the deciphering ones of a schedule).
template <class Ops>
VELADOR_AES_MODE RoundKeys<Ops> LoadKeys(const std::uint8_t* keys) {
  RoundKeys<Ops> rk;
  VELADOR_UNROLLED
  for (int r = 0; r <= kRounds; ++r) Ops::Key(rk.k[r], keys + 16 * r);
  return rk;
}

// One block through the cipher, or through the inverse cipher.
template <class Ops, bool Inverse>
VELADOR_AES_MODE void OneBlock(const std::uint8_t* schedule, const std::uint8_t* in,
                               std::uint8_t* out) {
  typename Ops::Block x[1];
  Ops::Load(x[0], in);
  Ops::template Rounds<Inverse>(LoadKeys<Ops>(schedule + (Inverse ? kInverseKeys : 0)), x);
  Ops::Store(out, x[0]);
}

// The modes whose blocks do not wait for one another.
enum class Parallel { EcbEncrypt, EcbDecrypt, CbcDecrypt, CfbDecrypt };

constexpr bool Chained(Parallel m) {
  return m == Parallel::CbcDecrypt || m == Parallel::CfbDecrypt;
}
constexpr bool Inverse(Parallel m) {
  return m == Parallel::EcbDecrypt || m == Parallel::CbcDecrypt;
}

// x = the ciphertext before Block i at `in`: the 16 bytes before it, the chain block before the
// first.
template <class Ops>
VELADOR_AES_MODE void Previous(typename Ops::Block& x, const typename Ops::Narrow::Block& chain,
                               const std::uint8_t* in, int i) {
  if (i == 0) {
    Ops::Preceding(x, chain, in);
  } else {
    Ops::Load(x, in + Ops::kBytes * i - 16);
  }
}

// N Blocks of a parallel mode; `chain` is the ciphertext block before the first. Every load
// of this group comes before its first store, which keeps in == out safe. The N Blocks go
// through the rounds together, so that N of them are in flight in the AES unit instead of one
// block's latency chain.
template <class Ops, Parallel M, int N>
VELADOR_AES_MODE void Group(const RoundKeys<Ops>& rk, typename Ops::Narrow::Block& chain,
                            const std::uint8_t* in, std::uint8_t* out) {
  using Block = typename Ops::Block;
  constexpr int kBytes = Ops::kBytes;
  Block x[N];
  VELADOR_UNROLLED
  for (int i = 0; i < N; ++i) {
    if constexpr (M == Parallel::CfbDecrypt) {
      Previous<Ops>(x[i], chain, in, i);
    } else {
      Ops::Load(x[i], in + kBytes * i);
    }
  }
  Ops::template Rounds<Inverse(M)>(rk, x);
  if constexpr (Chained(M)) {
    // The ciphertext added after the rounds: the one before (CBC), or the Block's own (CFB).
    VELADOR_UNROLLED
    for (int i = 0; i < N; ++i) {
      Block y;
      if constexpr (M == Parallel::CbcDecrypt) Previous<Ops>(y, chain, in, i);
      if constexpr (M == Parallel::CfbDecrypt) Ops::Load(y, in + kBytes * i);
      Ops::Xor(x[i], y);
    }
    Ops::Narrow::Load(chain, in + kBytes * N - 16);
  }
  VELADOR_UNROLLED
  for (int i = 0; i < N; ++i) Ops::Store(out + kBytes * i, x[i]);
}

// A parallel mode over `blocks` blocks: groups of 8 Blocks while whole ones remain, then the
// blocks left one at a time. `chainBytes` is read, and written back in the chained modes.
template <class Ops, Parallel M>
VELADOR_AES_MODE void RunParallel(const std::uint8_t* schedule, std::uint8_t* chainBytes,
                                  const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks) {
  using Narrow = typename Ops::Narrow;
  constexpr std::uint64_t kGroup = 8 * Ops::kBytes / 16;  // blocks in a group of 8 Blocks
  const std::uint8_t* keys = schedule + (Inverse(M) ? kInverseKeys : 0);
  const RoundKeys<Ops> rk = LoadKeys<Ops>(keys);
  const RoundKeys<Narrow> narrowKeys = LoadKeys<Narrow>(keys);
  typename Narrow::Block chain;
  Narrow::Load(chain, chainBytes);
  for (; blocks >= kGroup; blocks -= kGroup, in += 16 * kGroup, out += 16 * kGroup) {
    Group<Ops, M, 8>(rk, chain, in, out);
  }
  for (; blocks > 0; --blocks, in += 16, out += 16) Group<Narrow, M, 1>(narrowKeys, chain, in, out);
  if constexpr (Chained(M)) Narrow::Store(chainBytes, chain);
}

// An engine's buffer functions (Engine::encrypt and Engine::decrypt). `Code` names the
// engine's entry points, compiled for its instructions: serial<Cfb> enciphers in CBC (Cfb
// false) or CFB, whose blocks each wait for the one before, and run<M> runs a parallel mode.
template <class Code>
void EncryptBuffer(const std::uint8_t* schedule, std::uint8_t* chain, const std::uint8_t* in,
                   std::uint8_t* out, std::uint64_t blocks, int mode) {
  if (mode == CBC || mode == CFB) {
    (mode == CFB ? Code::template serial<true> : Code::template serial<false>)(schedule, chain, in,
                                                                               out, blocks);
  } else {
    Code::template run<Parallel::EcbEncrypt>(schedule, chain, in, out, blocks);
  }
}

template <class Code>
void DecryptBuffer(const std::uint8_t* schedule, std::uint8_t* chain, const std::uint8_t* in,
                   std::uint8_t* out, std::uint64_t blocks, int mode) {
  if (mode == CBC) {
    Code::template run<Parallel::CbcDecrypt>(schedule, chain, in, out, blocks);
  } else if (mode == CFB) {
    Code::template run<Parallel::CfbDecrypt>(schedule, chain, in, out, blocks);
  } else {
    Code::template run<Parallel::EcbDecrypt>(schedule, chain, in, out, blocks);
  }
}

}  // namespace velador::aes_hardware

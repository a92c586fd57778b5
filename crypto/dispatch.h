#pragma once

// Which instruction-set extensions of the processor the crypto code runs on. Internal to
// crypto/, its tests and benchmarks, and the tests of other layers that run a path of theirs on
// purpose: other layers see only the results, which are the same on every path.
//
// The choice is made per object: AesCipher::MakeKey and Sha1Hasher::Reset read Active() and
// keep what they found until the next MakeKey or Reset (Sha1EachPiece reads it at each call).
// The program itself never changes the allowed set; only tests and benchmarks do, to hold each
// path against the others.

// The hardware paths are built for x86-64 with GCC or clang, whose per-function target
// attributes let one binary carry them and still run on processors without them.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VELADOR_CRYPTO_X86_64 1
#else
#define VELADOR_CRYPTO_X86_64 0
#endif

// And for little-endian ARM64 (the ARMv8 cryptography extension): with GCC, whose per-function
// target attribute reaches the extension's intrinsics, or with any compiler told for the whole
// build that the processor has the extension (as Apple's clang is by default; clang before 16
// offers the intrinsics to no other build). Any other build, MSVC's too, gets the portable code
// alone.
#if (defined(__aarch64__) || defined(_M_ARM64)) &&                             \
    !(defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__) && \
    ((defined(__GNUC__) && !defined(__clang__)) ||                             \
     (defined(__clang__) && defined(__ARM_FEATURE_AES) && defined(__ARM_FEATURE_SHA2)))
#define VELADOR_CRYPTO_ARM64 1
#else
#define VELADOR_CRYPTO_ARM64 0
#endif

namespace velador::dispatch {

// One flag per kind of instruction, whatever the architecture names it.
struct Features {
  bool aes = false;   // AES rounds: AES-NI (with SSSE3 and SSE4.1), or ARMv8 AESE/AESD/AESMC
  bool vaes = false;  // VAES on 256-bit registers (with AVX2 and the OS saving their state);
                      // x86-64 only
  bool sha = false;   // SHA-1 rounds and message schedule: SHA-NI (with SSSE3 and SSE4.1), or
                      // the ARMv8 SHA1 instructions
};

inline constexpr Features kAllFeatures{true, true, true};

// What this processor offers, read once: from cpuid on x86-64; on ARM64 from the kernel's
// hardware capabilities on Linux, from the system on Windows, and taken as present on Apple's
// processors, which all have the extension; nothing elsewhere.
const Features& Detected();

// Detected(), limited to the set last given to Allow.
Features Active();

// For tests and benchmarks only: limits Active() to the features set in `allowed`;
// Allow(kAllFeatures) lifts the limit. Objects keyed or reset earlier keep their path.
void Allow(const Features& allowed);

// True when the processor offers every feature set in `needs`.
inline bool Offers(const Features& needs) {
  const Features& has = Detected();
  return (has.aes || !needs.aes) && (has.vaes || !needs.vaes) && (has.sha || !needs.sha);
}

// For tests and benchmarks only: limits dispatch to `features` while alive, then restores the
// limit found on entry.
class PinnedFeatures {
 public:
  explicit PinnedFeatures(const Features& features) : previous_(Active()) { Allow(features); }
  ~PinnedFeatures() { Allow(previous_); }
  PinnedFeatures(const PinnedFeatures&) = delete;
  PinnedFeatures& operator=(const PinnedFeatures&) = delete;

 private:
  Features previous_;
};

}  // namespace velador::dispatch

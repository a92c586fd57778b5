#include "dispatch.h"

#include <atomic>

#if VELADOR_CRYPTO_X86_64
#include <cpuid.h>
#elif VELADOR_CRYPTO_ARM64 && defined(__linux__)
#include <sys/auxv.h>
#elif VELADOR_CRYPTO_ARM64 && defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace velador::dispatch {

namespace {

#if VELADOR_CRYPTO_X86_64

// Register state the OS saves on a context switch (XCR0). 256-bit registers are usable only
// when both the SSE and the AVX halves are saved, whatever cpuid says about the instructions.
bool OsSavesAvxState() {
  unsigned int low = 0, high = 0;
  __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
  return (low & 0x6) == 0x6;
}

Features Probe() {
  unsigned int a = 0, b = 0, c1 = 0, d = 0;
  if (!__get_cpuid(1, &a, &b, &c1, &d)) return {};
  unsigned int b7 = 0, c7 = 0;
  if (!__get_cpuid_count(7, 0, &a, &b7, &c7, &d)) b7 = c7 = 0;

  // The hardware code is compiled for SSE4.1 (with SSSE3) besides its own instructions.
  const bool sse41 = (c1 & bit_SSE4_1) != 0 && (c1 & bit_SSSE3) != 0;
  const bool avx = (c1 & bit_OSXSAVE) != 0 && (c1 & bit_AVX) != 0 && OsSavesAvxState();
  Features f;
  f.aes = sse41 && (c1 & bit_AES) != 0;
  f.vaes = f.aes && avx && (b7 & bit_AVX2) != 0 && (c7 & bit_VAES) != 0;
  f.sha = sse41 && (b7 & bit_SHA) != 0;
  return f;
}

#elif VELADOR_CRYPTO_ARM64 && defined(__linux__)

// The kernel's bits for the two extensions (the same values in every C library's headers).
#ifndef HWCAP_AES
#define HWCAP_AES (1UL << 3)
#endif
#ifndef HWCAP_SHA1
#define HWCAP_SHA1 (1UL << 5)
#endif

Features Probe() {
  const unsigned long hwcap = getauxval(AT_HWCAP);
  Features f;
  f.aes = (hwcap & HWCAP_AES) != 0;
  f.sha = (hwcap & HWCAP_SHA1) != 0;
  return f;
}

#elif VELADOR_CRYPTO_ARM64 && defined(_WIN32)

// Windows names AES, SHA-1 and SHA-256 together.
Features Probe() {
  const bool crypto = IsProcessorFeaturePresent(PF_ARM_V8_CRYPTO_INSTRUCTIONS_AVAILABLE) != 0;
  return {.aes = crypto, .sha = crypto};
}

#elif VELADOR_CRYPTO_ARM64 && defined(__APPLE__)

// Every ARM64 processor Apple has shipped has the cryptography extension.
Features Probe() { return {.aes = true, .sha = true}; }

#else

Features Probe() { return {}; }

#endif

constexpr unsigned kAes = 1, kVaes = 2, kSha = 4;
constexpr unsigned kKnown = 8;  // set once the bits below it have been worked out

unsigned Bits(const Features& f) {
  return (f.aes ? kAes : 0u) | (f.vaes ? kVaes : 0u) | (f.sha ? kSha : 0u);
}

// Active() as bits. Constant-initialised, so it is valid before any static constructor runs;
// one relaxed load is all a hasher or key pays for the choice after the first.
std::atomic<unsigned> activeBits{0};

}  // namespace

const Features& Detected() {
  static const Features detected = Probe();
  return detected;
}

Features Active() {
  unsigned bits = activeBits.load(std::memory_order_relaxed);
  if ((bits & kKnown) == 0) {
    bits = Bits(Detected()) | kKnown;
    activeBits.store(bits, std::memory_order_relaxed);
  }
  // VAES code also runs AES-NI for short stretches, so it is never active without it.
  const bool aes = (bits & kAes) != 0;
  return {aes, aes && (bits & kVaes) != 0, (bits & kSha) != 0};
}

void Allow(const Features& allowed) {
  activeBits.store((Bits(Detected()) & Bits(allowed)) | kKnown, std::memory_order_relaxed);
}

}  // namespace velador::dispatch

// Throughput in bytes per second of CBC enciphering and deciphering, CMAC and SHA-1 over
// 1 MiB and 64 MiB buffers, on each path of the crypto code, SHA-1 over 512-byte units with a
// fresh hasher each and through Sha1EachPiece, and CBC enciphering that hashes each 512-byte
// unit (EncryptCbcHashingUnits, as Encryption-and-Hash does). Run a Release build:
//   build/default/bench/velador_crypto_bench --benchmark_counters_tabular=true
// The second part of each name is the path: Portable (the constant-time bit-sliced AES and
// portable SHA-1), AesNi, Vaes (AES-NI with 256-bit VAES for the parallel modes), ShaNi or
// AesNiShaNi (both instruction sets). A path this processor lacks is reported as skipped.
// With OpenSSL available, the OpenSsl_* rows measure the same work through EVP. OpenSSL
// uses the processor's AES and SHA instructions where present; to compare with its code
// without them, run again with OPENSSL_ia32cap="~0x200000200000000:~0x20000000" (x86-64).

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "crypto/aes_cipher.h"
#include "crypto/aes_mac.h"
#include "crypto/sha1_hasher.h"
#include "dispatch.h"

#ifdef VELADOR_BENCH_OPENSSL
#include <openssl/core_names.h>
#include <openssl/evp.h>
#endif

namespace {

const std::uint8_t kKey[16] = {0x2b, 0x7e, 0x15, 0x16, 0x28, 0xae, 0xd2, 0xa6,
                               0xab, 0xf7, 0x15, 0x88, 0x09, 0xcf, 0x4f, 0x3c};

std::vector<std::uint8_t> Filled(std::size_t n) {
  std::vector<std::uint8_t> v(n);
  std::uint32_t x = 12345;
  for (auto& b : v) {
    x = x * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(x >> 16);
  }
  return v;
}

void Finish(benchmark::State& state, std::size_t n) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(n));
}

using velador::dispatch::Features;

constexpr Features kPortable{};
constexpr Features kAesNi{.aes = true};
constexpr Features kVaes{.aes = true, .vaes = true};
constexpr Features kShaNi{.sha = true};
constexpr Features kAesNiShaNi{.aes = true, .sha = true};

// Limits the crypto code to one path for a benchmark's run, marked skipped when the processor
// lacks it.
class Path {
 public:
  Path(benchmark::State& state, const Features& features) : pinned_(features) {
    if (!velador::dispatch::Offers(features)) state.SkipWithError("not on this processor");
  }

 private:
  velador::dispatch::PinnedFeatures pinned_;
};

void Ours_CbcEncrypt(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  std::vector<std::uint8_t> out(n);
  for (auto _ : state) {
    velador::AesCipher cipher;  // as the tool does: a fresh object per file
    cipher.MakeKey(kKey, velador::zeroChain, 16, 16);
    cipher.Encrypt(in.data(), out.data(), n, velador::CBC);
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, n);
}

// CBC enciphering in place with the SHA-1 of every 512-byte unit, as Encryption-and-Hash does
// a chunk: in one pass where AES and SHA instructions are both allowed (AesNiShaNi), else
// enciphering then hashing.
void Ours_CbcEncryptHashingUnits(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto data = Filled(n);
  std::vector<std::uint8_t> digests(n / 512 * 20);
  for (auto _ : state) {
    velador::AesCipher cipher;
    cipher.MakeKey(kKey, velador::zeroChain, 16, 16);
    cipher.EncryptCbcHashingUnits(data.data(), n, digests.data());
    benchmark::DoNotOptimize(digests.data());
  }
  Finish(state, n);
}

void Ours_CbcDecrypt(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  std::vector<std::uint8_t> out(n);
  for (auto _ : state) {
    velador::AesCipher cipher;
    cipher.MakeKey(kKey, velador::zeroChain, 16, 16);
    cipher.Decrypt(in.data(), out.data(), n, velador::CBC);
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, n);
}

void Ours_Cmac(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  std::uint8_t tag[16];
  for (auto _ : state) {
    velador::AesMac mac;
    mac.Compute(in.data(), n, kKey, tag);
    benchmark::DoNotOptimize(tag);
  }
  Finish(state, n);
}

void Ours_Sha1(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  for (auto _ : state) {
    velador::Sha1Hasher hasher;
    hasher.Update(in.data(), n);
    hasher.Final();
    benchmark::DoNotOptimize(hasher.digest);
  }
  Finish(state, n);
}

void Ours_Sha1Units512(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  for (auto _ : state) {
    for (std::size_t at = 0; at + 512 <= n; at += 512) {
      velador::Sha1Hasher hasher;
      hasher.Update(in.data() + at, 512);
      hasher.Final();
      benchmark::DoNotOptimize(hasher.digest);
    }
  }
  Finish(state, n);
}

// The same units through Sha1EachPiece, as the Encryption-and-Hash type hashes them.
void Ours_Sha1EachPiece512(benchmark::State& state, Features features) {
  const Path path(state, features);
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  std::vector<std::uint8_t> digests(n / 512 * 20);
  for (auto _ : state) {
    velador::Sha1EachPiece(in.data(), 512, n / 512, digests.data());
    benchmark::DoNotOptimize(digests.data());
  }
  Finish(state, n);
}

#define VELADOR_SIZES ->Arg(1 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond)

BENCHMARK_CAPTURE(Ours_CbcEncrypt, Portable, kPortable) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_CbcEncrypt, AesNi, kAesNi) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_CbcEncryptHashingUnits, AesNi, kAesNi)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours_CbcEncryptHashingUnits, AesNiShaNi, kAesNiShaNi)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours_CbcDecrypt, Portable, kPortable) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_CbcDecrypt, AesNi, kAesNi) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_CbcDecrypt, Vaes, kVaes) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_Cmac, Portable, kPortable) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_Cmac, AesNi, kAesNi) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_Sha1, Portable, kPortable) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_Sha1, ShaNi, kShaNi) VELADOR_SIZES;
BENCHMARK_CAPTURE(Ours_Sha1Units512, Portable, kPortable)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours_Sha1Units512, ShaNi, kShaNi)->Arg(1 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours_Sha1EachPiece512, Portable, kPortable)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Ours_Sha1EachPiece512, ShaNi, kShaNi)
    ->Arg(1 << 20)
    ->Unit(benchmark::kMillisecond);

#ifdef VELADOR_BENCH_OPENSSL

void OpenSsl_Cbc(benchmark::State& state, bool encrypt) {
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  std::vector<std::uint8_t> out(n + 16);
  for (auto _ : state) {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int len = 0;
    EVP_CipherInit_ex(ctx, EVP_aes_128_cbc(), nullptr, kKey, velador::zeroChain, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    EVP_CipherUpdate(ctx, out.data(), &len, in.data(), static_cast<int>(n));
    EVP_CipherFinal_ex(ctx, out.data() + len, &len);
    EVP_CIPHER_CTX_free(ctx);
    benchmark::DoNotOptimize(out.data());
  }
  Finish(state, n);
}

void OpenSsl_CbcEncrypt(benchmark::State& state) { OpenSsl_Cbc(state, true); }
void OpenSsl_CbcDecrypt(benchmark::State& state) { OpenSsl_Cbc(state, false); }

void OpenSsl_Cmac(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  EVP_MAC* algorithm = EVP_MAC_fetch(nullptr, "CMAC", nullptr);
  char cipherName[] = "AES-128-CBC";
  OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_CIPHER, cipherName, 0),
                         OSSL_PARAM_construct_end()};
  std::uint8_t tag[16];
  for (auto _ : state) {
    EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(algorithm);
    std::size_t tagLength = 0;
    EVP_MAC_init(ctx, kKey, sizeof kKey, params);
    EVP_MAC_update(ctx, in.data(), n);
    EVP_MAC_final(ctx, tag, &tagLength, sizeof tag);
    EVP_MAC_CTX_free(ctx);
    benchmark::DoNotOptimize(tag);
  }
  EVP_MAC_free(algorithm);
  Finish(state, n);
}

void OpenSsl_Sha1(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  auto in = Filled(n);
  std::uint8_t md[20];
  for (auto _ : state) {
    unsigned int mdLength = 0;
    EVP_Digest(in.data(), n, md, &mdLength, EVP_sha1(), nullptr);
    benchmark::DoNotOptimize(md);
  }
  Finish(state, n);
}

BENCHMARK(OpenSsl_CbcEncrypt) VELADOR_SIZES;
BENCHMARK(OpenSsl_CbcDecrypt) VELADOR_SIZES;
BENCHMARK(OpenSsl_Cmac) VELADOR_SIZES;
BENCHMARK(OpenSsl_Sha1) VELADOR_SIZES;

#endif

}  // namespace

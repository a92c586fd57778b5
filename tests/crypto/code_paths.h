#pragma once

// The crypto code's paths as test parameters. A path is a set of processor features that
// dispatch is limited to; a test on a path the processor lacks is skipped, not passed.

#include <gtest/gtest.h>

#include <ostream>
#include <tuple>

#include "crypto/aes_cipher.h"
#include "crypto/vector_files.h"
#include "dispatch.h"

namespace velador::test {

struct CodePath {
  const char* name;
  dispatch::Features features;
};
inline void PrintTo(const CodePath& path, std::ostream* os) { *os << path.name; }

// Every architecture has the portable path, and at most one AES and one SHA-1 instruction
// path of its own (kAesInstructions, kShaInstructions); x86-64 also has the 256-bit one.
inline constexpr CodePath kPortable{"Portable", {}};
#if VELADOR_CRYPTO_ARM64
inline constexpr CodePath kAesInstructions{"ArmAes", {.aes = true}};
inline constexpr CodePath kShaInstructions{"ArmSha1", {.sha = true}};
inline constexpr CodePath kAesInstructionPaths[] = {kAesInstructions};
inline constexpr CodePath kAesPaths[] = {kPortable, kAesInstructions};
#else
inline constexpr CodePath kAesInstructions{"AesNi", {.aes = true}};
inline constexpr CodePath kVaes{"Vaes", {.aes = true, .vaes = true}};
inline constexpr CodePath kShaInstructions{"ShaNi", {.sha = true}};
inline constexpr CodePath kAesInstructionPaths[] = {kAesInstructions, kVaes};
inline constexpr CodePath kAesPaths[] = {kPortable, kAesInstructions, kVaes};
#endif
inline constexpr CodePath kShaPaths[] = {kPortable, kShaInstructions};

inline bool Available(const CodePath& path) { return dispatch::Offers(path.features); }

// Limits dispatch to `path` while alive, then restores the limit found on entry.
class PinnedPath : public dispatch::PinnedFeatures {
 public:
  explicit PinnedPath(const CodePath& path) : PinnedFeatures(path.features) {}
};

inline const CodePath& PathOf(const CodePath& path) { return path; }
template <class T>
const CodePath& PathOf(const std::tuple<T, CodePath>& param) {
  return std::get<1>(param);
}

// A fixture whose parameter is, or ends with, a CodePath: each test runs pinned to it.
template <class Param>
class OnPath : public testing::TestWithParam<Param> {
 protected:
  void SetUp() override {
    const CodePath& path = PathOf(this->GetParam());
    if (!Available(path)) GTEST_SKIP() << path.name << ": not on this processor";
    dispatch::Allow(path.features);
  }
  void TearDown() override { dispatch::Allow(dispatch::kAllFeatures); }
};

inline std::string PathName(const testing::TestParamInfo<CodePath>& info) {
  return info.param.name;
}

// AesCipher with its choice of path and its general portable path in view, so that each path can
// be held against the others.
class ExposedCipher : public AesCipher {
 public:
  using AesCipher::DecryptBlockGeneral;
  using AesCipher::EncryptBlockGeneral;
  using AesCipher::OnInstructions;
};

// A cipher keyed while dispatch is limited to `path`; it keeps that path until keyed again.
inline ExposedCipher KeyedOn(const CodePath& path, const Bytes& key, const Bytes& chain,
                             int blockLength = 16) {
  const PinnedPath pin(path);
  ExposedCipher c;
  c.MakeKey(key.data(), chain.data(), static_cast<int>(key.size()), blockLength);
  return c;
}

}  // namespace velador::test

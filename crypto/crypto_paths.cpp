#include "crypto/crypto_paths.h"

#include "aes_hardware.h"
#include "dispatch.h"
#include "sha1_compress.h"

namespace velador {

namespace {

// Asks the engine and compressor dispatch hands out, so the answer is what a cipher or hasher
// actually gets, the 256-bit engine's absence from some builds included.
AesPath AesPathFor(const dispatch::Features& features) {
  const aes_hardware::Engine* engine = aes_hardware::EngineFor(features);
  if (engine == nullptr) return AesPath::kPortable;
  if (VELADOR_CRYPTO_ARM64) return AesPath::kArmv8;
  return engine == aes_hardware::EngineFor({.aes = true}) ? AesPath::kAesNi : AesPath::kVaes;
}

Sha1Path Sha1PathFor(const dispatch::Features& features) {
  if (sha1::InstructionCompressor(features) == nullptr) return Sha1Path::kPortable;
  return VELADOR_CRYPTO_ARM64 ? Sha1Path::kArmv8 : Sha1Path::kShaNi;
}

}  // namespace

CryptoPaths ChosenCryptoPaths() {
  const dispatch::Features active = dispatch::Active();
  return {AesPathFor(active), Sha1PathFor(active)};
}

}  // namespace velador

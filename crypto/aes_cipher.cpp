#include "crypto/aes_cipher.h"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <stdexcept>
#include <type_traits>

#include "aes_hardware.h"
#include "aes_portable.h"
#include "crypto/sha1_hasher.h"
#include "dispatch.h"

namespace velador {

namespace {

using aes_portable::PairedRoundKeys;

// Where the parallel code's keys lie in AesCipher::parallelKeys.
constexpr int kEncryption = 0;
constexpr int kDecryption = 1;

constexpr std::size_t kGroup = aes_portable::kParallelBytes;
constexpr std::size_t kGroupBlocks = kGroup / 16;

bool IsValidLength(int n) { return n == 16 || n == 24 || n == 32; }

void XorInto(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) dst[i] = a[i] ^ b[i];
}

// The 16-byte blocks of in[0, 16 * blocks) in groups of the parallel code's size, each group
// copied out before any output is written (so in == out is safe) and a short last group padded
// with zeros. `step` gets the group's copy, its count of blocks and the output position.
template <class Step>
void InGroups(const std::uint8_t* in, std::uint8_t* out, std::uint64_t blocks, Step&& step) {
  for (std::uint64_t k = 0; k < blocks; k += kGroupBlocks, in += kGroup, out += kGroup) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kGroupBlocks, blocks - k));
    std::uint8_t group[kGroup];
    std::memcpy(group, in, 16 * count);
    std::memset(group + 16 * count, 0, kGroup - 16 * count);
    step(group, count, out);
  }
}

}  // namespace

void AesCipher::MakeKey(const std::uint8_t* key, const std::uint8_t* chainIn, int keyLen,
                        int blockLen) {
  // Validate before touching any member, so a rejected call leaves a usable key in place.
  if (!IsValidLength(keyLen) || !IsValidLength(blockLen)) {
    throw std::invalid_argument("AesCipher::MakeKey: key and block lengths must be 16, 24 or 32");
  }
  keyLength = keyLen;
  blockLength = blockLen;
  std::memcpy(chain, chainIn, static_cast<std::size_t>(blockLength));
  rounds = (keyLength > blockLength ? keyLength : blockLength) / 4 + 6;

  static_assert(std::extent_v<decltype(roundKeyBytes)> == aes_portable::kMaxRounds + 1 &&
                std::extent_v<decltype(roundKeyBytes), 1> == aes_portable::kMaxBlockLength);
  static_assert(std::is_same_v<decltype(serialKeys), aes_portable::SlicedRoundKeys>);
  static_assert(
      std::is_same_v<std::remove_reference_t<decltype(parallelKeys[0])>, PairedRoundKeys>);
  static_assert(sizeof instructionKeys == aes_hardware::kScheduleBytes);
  std::memset(roundKeyBytes, 0, sizeof roundKeyBytes);
  std::memset(serialKeys, 0, sizeof serialKeys);
  std::memset(parallelKeys, 0, sizeof parallelKeys);
  std::memset(instructionKeys, 0, sizeof instructionKeys);
  const dispatch::Features features = dispatch::Active();
  engine = keyLength == 16 && blockLength == 16 ? aes_hardware::EngineFor(features) : nullptr;
  cbcHashing = engine != nullptr ? aes_hardware::CbcHashingFor(features) : nullptr;
  if (engine != nullptr) {
    engine->expandKey(key, instructionKeys);
  } else {
    MakePortableKeys(key);
  }
}

void AesCipher::MakePortableKeys(const std::uint8_t* key) {
  aes_portable::ExpandKey(key, keyLength, blockLength, rounds, roundKeyBytes);
  if (blockLength != 16) return;
  aes_portable::MakeSerialKeys(roundKeyBytes, rounds, serialKeys);
  aes_portable::MakeParallelKeys(roundKeyBytes, rounds, parallelKeys[kEncryption],
                                 parallelKeys[kDecryption]);
}

void AesCipher::EncryptBlock(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  if (blockLength == 16) {
    EncryptBlock128(in, out);
  } else {
    EncryptBlockGeneral(in, out);
  }
}

void AesCipher::DecryptBlock(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  if (blockLength == 16) {
    DecryptBlock128(in, out);
  } else {
    DecryptBlockGeneral(in, out);
  }
}

void AesCipher::EncryptBlock128(const std::uint8_t* in, std::uint8_t* out) const {
  assert(rounds != 0 && blockLength == 16 && "EncryptBlock128 needs a 16-byte-block key");
  if (engine != nullptr) return engine->encryptBlock(instructionKeys, in, out);
  aes_portable::EncryptSerialBlock(serialKeys, rounds, in, out);
}

void AesCipher::DecryptBlock128(const std::uint8_t* in, std::uint8_t* out) const {
  assert(rounds != 0 && blockLength == 16 && "DecryptBlock128 needs a 16-byte-block key");
  if (engine != nullptr) return engine->decryptBlock(instructionKeys, in, out);
  InGroups(in, out, 1, [&](const std::uint8_t* group, std::size_t, std::uint8_t* to) {
    std::uint8_t plain[kGroup];
    aes_portable::DecryptParallel(parallelKeys[kDecryption], rounds, group, plain);
    std::memcpy(to, plain, 16);
  });
}

void AesCipher::EncryptBlockGeneral(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && engine == nullptr &&
         "EncryptBlockGeneral needs a key on the portable path");
  aes_portable::EncryptGeneral(roundKeyBytes, rounds, blockLength, in, out);
}

void AesCipher::DecryptBlockGeneral(const std::uint8_t* in, std::uint8_t* out) {
  assert(rounds != 0 && engine == nullptr &&
         "DecryptBlockGeneral needs a key on the portable path");
  aes_portable::DecryptGeneral(roundKeyBytes, rounds, blockLength, in, out);
}

void AesCipher::XorBlock(std::uint8_t* dst, const std::uint8_t* src) const {
  for (int i = 0; i < blockLength; ++i) dst[i] ^= src[i];
}

// In every mode each input block is read completely (into locals or a copy) before its
// output block is written, which is what makes in == out safe. Nothing past the last whole
// block is read or written, and with no whole block the pointers are never touched at all.
void AesCipher::Encrypt(const std::uint8_t* in, std::uint8_t* out, std::uint64_t n, int mode) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  const std::size_t len = static_cast<std::size_t>(blockLength);
  const std::uint64_t blocks = n / len;
  if (blocks == 0) return;
  if (engine != nullptr) return engine->encrypt(instructionKeys, chain, in, out, blocks, mode);

  if (blockLength == 16) {
    if (mode == CBC || mode == CFB) {
      aes_portable::EncryptSerialChain(serialKeys, rounds, mode == CFB, chain, in, out, blocks);
      return;
    }
    InGroups(in, out, blocks, [&](const std::uint8_t* group, std::size_t count, std::uint8_t* to) {
      std::uint8_t result[kGroup];
      aes_portable::EncryptParallel(parallelKeys[kEncryption], rounds, group, result);
      std::memcpy(to, result, 16 * count);
    });
    return;
  }

  std::uint8_t work[32];
  for (std::uint64_t k = 0; k < blocks; ++k, in += len, out += len) {
    if (mode == CBC) {
      XorBlock(chain, in);
      EncryptBlockGeneral(chain, chain);
      std::memcpy(out, chain, len);
    } else if (mode == CFB) {
      EncryptBlockGeneral(chain, work);
      XorBlock(work, in);
      std::memcpy(out, work, len);
      std::memcpy(chain, work, len);
    } else {
      EncryptBlockGeneral(in, out);
    }
  }
}

void AesCipher::EncryptCbcHashingUnits(std::uint8_t* data, std::uint64_t n, std::uint8_t* digests) {
  assert(rounds != 0 && blockLength == 16 && "EncryptCbcHashingUnits needs a 16-byte-block key");
  if (cbcHashing != nullptr) {
    cbcHashing(instructionKeys, chain, data, n / 16, digests);
    return;
  }
  Encrypt(data, data, n, CBC);
  Sha1EachPiece(data, 512, static_cast<std::size_t>(n / 512), digests);
}

void AesCipher::Decrypt(const std::uint8_t* in, std::uint8_t* out, std::uint64_t n, int mode) {
  assert(rounds != 0 && "AesCipher used before MakeKey");
  const std::size_t len = static_cast<std::size_t>(blockLength);
  const std::uint64_t blocks = n / len;
  if (blocks == 0) return;
  if (engine != nullptr) return engine->decrypt(instructionKeys, chain, in, out, blocks, mode);

  if (blockLength == 16) {
    const PairedRoundKeys& decryption = parallelKeys[kDecryption];
    const PairedRoundKeys& encryption = parallelKeys[kEncryption];
    InGroups(in, out, blocks, [&](const std::uint8_t* group, std::size_t count, std::uint8_t* to) {
      std::uint8_t result[kGroup];
      if (mode == CBC) {
        // Each block deciphered is added to the one stored before it.
        aes_portable::DecryptParallel(decryption, rounds, group, result);
        XorInto(to, result, chain, 16);
        XorInto(to + 16, result + 16, group, 16 * (count - 1));
        std::memcpy(chain, group + 16 * (count - 1), 16);
      } else if (mode == CFB) {
        // CFB runs the cipher forwards in both directions, on the block stored before each.
        std::uint8_t previous[kGroup];
        std::memcpy(previous, chain, 16);
        std::memcpy(previous + 16, group, kGroup - 16);
        aes_portable::EncryptParallel(encryption, rounds, previous, result);
        XorInto(to, result, group, 16 * count);
        std::memcpy(chain, group + 16 * (count - 1), 16);
      } else {
        aes_portable::DecryptParallel(decryption, rounds, group, result);
        std::memcpy(to, result, 16 * count);
      }
    });
    return;
  }

  std::uint8_t cipherCopy[32];
  for (std::uint64_t k = 0; k < blocks; ++k, in += len, out += len) {
    if (mode == CBC) {
      std::memcpy(cipherCopy, in, len);
      DecryptBlockGeneral(cipherCopy, out);
      XorBlock(out, chain);
      std::memcpy(chain, cipherCopy, len);
    } else if (mode == CFB) {
      std::memcpy(cipherCopy, in, len);
      EncryptBlockGeneral(chain, out);
      XorBlock(out, cipherCopy);
      std::memcpy(chain, cipherCopy, len);
    } else {
      DecryptBlockGeneral(in, out);
    }
  }
}

}  // namespace velador

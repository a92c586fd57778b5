#pragma once

#include <cstdint>

#include "crypto/aes_cipher.h"

namespace velador {

// AES-CMAC (RFC 4493, NIST SP 800-38B) with a 16-byte key and the full 16-byte tag.
// Constant-time on every path, as its AesCipher is: the subkeys are derived without a branch
// on the enciphered key, and nothing else touches key or data but the cipher. Comparing a tag
// with a stored one is the caller's: EqualInConstantTime (crypto/constant_time.h) does it
// without leaking where they differ.
//
// One-shot: Compute. Incremental: Begin, then Update any number of times, then Finish; the
// tag is the same as Compute over the concatenated data, however the data is split. Each
// Compute or Begin starts from a zero running value, so an object can be reused and gives
// the tag a fresh object would. The empty message has the standard tag.
class AesMac {
 public:
  AesMac() = default;
  virtual ~AesMac() = default;

  // Writes the 16-byte tag of message[0, length) under `key` (16 bytes) into mac[0, 16).
  // `message` is not modified; `mac` may not overlap `message`.
  void Compute(const std::uint8_t* message, std::uint64_t length, const std::uint8_t* key,
               std::uint8_t* mac);

  // Begin keys the object and starts a new tag. Update may be given length 0 (data may then
  // be null). Finish writes the 16-byte tag to mac[0, 16) and ends the computation: Begin
  // again before the next Update. Update or Finish without a Begin is a precondition
  // violation (asserted in debug builds).
  void Begin(const std::uint8_t* key);
  void Update(const std::uint8_t* data, std::uint64_t length);
  void Finish(std::uint8_t* mac);

  // Subkeys K1 and K2 of the latest Begin or Compute.
  const std::uint8_t* Subkey1() const { return subkey1; }
  const std::uint8_t* Subkey2() const { return subkey2; }

 private:
  // Runs `length` bytes (whole blocks) through the CBC chain of `cipher`, which Begin starts
  // from zero: that chain is the MAC's running value.
  void ChainBlocks(const std::uint8_t* data, std::uint64_t length);

  AesCipher cipher;    // keyed by Begin; its CBC chain is the MAC's running value
  int lastLength = 0;  // bytes waiting in lastBlock, 0..16
  std::uint8_t subkey1[16] = {};
  std::uint8_t subkey2[16] = {};
  // The newest message block is held back until more data shows it is not the last one,
  // since the last block alone is combined with a subkey.
  std::uint8_t lastBlock[16] = {};
};

// Shifts buf[0, count) left by one bit as one big-endian number; the top bit of buf[0] is lost.
void ShiftLeftOneBit(std::uint8_t* buf, int count);

// dst[i] ^= src[i] for i in [0, 16).
void Xor16(std::uint8_t* dst, const std::uint8_t* src);

}  // namespace velador

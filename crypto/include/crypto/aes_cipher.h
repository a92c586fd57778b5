#pragma once

#include <cstddef>
#include <cstdint>

namespace velador {

namespace aes_hardware {
struct Engine;
}

// Mode of AesCipher::Encrypt and AesCipher::Decrypt. Any value other than CBC and CFB is
// treated as ECB.
enum BufferMode : int { ECB = 0, CBC = 1, CFB = 2 };

// 32 zero bytes: the chain argument every container operation passes to MakeKey, so each
// CBC run starts from an all-zero initialisation vector.
inline constexpr std::uint8_t zeroChain[32] = {};

// Rijndael with key and block lengths of 16, 24 or 32 bytes; with 16-byte blocks it is AES
// (FIPS-197). MakeKey picks one of two paths, which give the same results:
// - 16-byte key and 16-byte block on a processor with AES instructions (x86-64 AES-NI, ARMv8
//   AES; crypto_paths.h): key expansion and rounds run on those instructions.
// - every other case: portable code on bit slices, the S-box a Boolean circuit.
// Every path is constant-time: on either one, no key or data byte is ever used as a memory
// index or a branch condition, in the key schedule, the rounds and the buffer modes alike, so
// the time taken depends on the lengths alone.
//
// Lifecycle: construct, MakeKey, then any number of block or buffer operations. MakeKey may
// be called again at any time and replaces key, round count and chain block entirely.
// Calling any other operation before MakeKey is a precondition violation (asserted in debug
// builds). An object holds working state: one object must not be shared between threads.
class AesCipher {
 public:
  AesCipher() = default;
  virtual ~AesCipher() = default;

  // Expands `key` (keyLength bytes) and copies the first blockLength bytes of `chain` into the
  // chain block used by CBC and CFB. Rounds: max(keyLength, blockLength) / 4 + 6. Throws
  // std::invalid_argument unless both lengths are 16, 24 or 32; the object is then unchanged.
  void MakeKey(const std::uint8_t* key, const std::uint8_t* chain, int keyLength, int blockLength);

  // One block of blockLength bytes. `in` and `out` may be the same buffer. 16-byte blocks
  // always go through EncryptBlock128 / DecryptBlock128.
  void EncryptBlock(const std::uint8_t* in, std::uint8_t* out);
  void DecryptBlock(const std::uint8_t* in, std::uint8_t* out);

  // One 16-byte block, on the instructions or the portable code as MakeKey chose.
  // Precondition: the key was made with blockLength 16.
  void EncryptBlock128(const std::uint8_t* in, std::uint8_t* out) const;
  void DecryptBlock128(const std::uint8_t* in, std::uint8_t* out) const;

  // Processes the n / blockLength whole blocks of `in` into `out` in `mode`, chaining through
  // the chain block, which carries over to the next call (only MakeKey resets it). The last
  // n mod blockLength bytes are neither read nor written: `out` keeps what it held there.
  // `in` and `out` may be the same buffer in every mode.
  void Encrypt(const std::uint8_t* in, std::uint8_t* out, std::uint64_t n, int mode);
  void Decrypt(const std::uint8_t* in, std::uint8_t* out, std::uint64_t n, int mode);

  // Enciphers the n / 16 whole blocks of `data` in place in CBC, exactly as
  // Encrypt(data, data, n, CBC) does, and writes the SHA-1 digest of each of the n / 512 whole
  // 512-byte units of what it wrote to `digests`, unit i's 20 bytes from digests + 20 * i. With
  // the key on the processor's AES instructions and SHA instructions there too (x86-64), both
  // are done in one pass, the rounds of the hashing between those of the chained blocks, where
  // they cost next to no time; otherwise the units are hashed after, as Sha1EachPiece does.
  // Precondition: the key was made with blockLength 16.
  void EncryptCbcHashingUnits(std::uint8_t* data, std::uint64_t n, std::uint8_t* digests);

  // True when EncryptCbcHashingUnits hashes in the enciphering's pass, taking about the time of
  // Encrypt alone; false when it hashes after, taking the time of both.
  bool HashesUnitsInPass() const { return cbcHashing != nullptr; }

  // dst[i] ^= src[i] over blockLength bytes.
  void XorBlock(std::uint8_t* dst, const std::uint8_t* src) const;

  int Rounds() const { return rounds; }
  int BlockLength() const { return blockLength; }

 protected:
  // The general portable path, for any column count. EncryptBlock uses it for 24- and 32-byte
  // blocks only; it is reachable here so that it can be checked against the 16-byte-block
  // portable code. Precondition: the key is on the portable path (!OnInstructions()).
  void EncryptBlockGeneral(const std::uint8_t* in, std::uint8_t* out);
  void DecryptBlockGeneral(const std::uint8_t* in, std::uint8_t* out);

  // True when the latest MakeKey chose the processor's AES instructions.
  bool OnInstructions() const { return engine != nullptr; }

 private:
  // The portable path's round keys for the key, lengths and rounds MakeKey has set.
  void MakePortableKeys(const std::uint8_t* key);

  int keyLength = 0;
  int blockLength = 0;
  int rounds = 0;
  std::uint8_t chain[32] = {};
  // The portable path's round keys: in byte form for every block length, and for 16-byte
  // blocks also as bit slices for its serial enciphering code and, each slice twice, for its
  // parallel enciphering and deciphering code. All zero on the instruction path.
  std::uint8_t roundKeyBytes[15][32] = {};
  std::uint64_t serialKeys[15][8] = {};
  std::uint64_t parallelKeys[2][15][16] = {};
  // The instruction path, or null for the portable code; its round keys in the instructions'
  // order.
  const aes_hardware::Engine* engine = nullptr;
  // The one-pass enciphering and hashing of EncryptCbcHashingUnits, where the instructions
  // allow it; else null.
  void (*cbcHashing)(const std::uint8_t* schedule, std::uint8_t* chain, std::uint8_t* data,
                     std::uint64_t blocks, std::uint8_t* digests) = nullptr;
  alignas(16) std::uint8_t instructionKeys[352] = {};
};

}  // namespace velador

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace velador {

// SHA-1 (FIPS 180-1 / 180-4). Reset picks the compression function: the processor's SHA
// instructions where it has them (x86-64, read from cpuid), else portable code; both give
// the same digests.
//
// One digest: Reset, then Update and/or HashFile any number of times, then Final; then read
// `digest` or call GetHash / ReportHash. After Final the chaining value is cleared and the
// hasher must be Reset before it hashes again; `digest` stays valid until the next Final.
class Sha1Hasher {
 public:
  enum ReportType : std::uint8_t { HexReport = 0, DecimalReport = 1 };

  Sha1Hasher();   // calls Reset
  ~Sha1Hasher();  // clears the message bytes and chaining value it holds

  void Reset();
  void Update(const std::uint8_t* data, std::uint64_t length);

  // Feeds the whole content of the file at `path` as Update would, reading it through a
  // fixed 8000-byte buffer, so files of any size (64-bit lengths) need no allocation. Returns
  // false, hashing nothing, when `path` is null or the file cannot be opened; returns false as well
  // when a read fails or comes up short (a file that shrank while it was read). Only bytes actually
  // read are ever hashed, but after a short read the hasher holds a partial message and must
  // be Reset before it is used again.
  bool HashFile(const char* path);

  void Final();

  // HexReport appends "XX XX ... XX" (20 upper-case pairs, 59 characters) to `text`;
  // DecimalReport appends the 20 byte values in decimal separated by single blanks; any other
  // type replaces the content of `text` with "Error: Unknown report type!".
  void ReportHash(std::string& text, std::uint8_t reportType) const;

  void GetHash(std::uint8_t* dest) const;  // copies the 20 digest bytes

  std::uint8_t digest[20] = {};

 private:
  // Runs whole 64-byte blocks into `state`; chosen by Reset.
  void (*compress)(std::uint32_t state[5], const std::uint8_t* blocks, std::size_t count) = nullptr;
  std::uint32_t state[5] = {};
  std::uint32_t count[2] = {};
  std::uint8_t buffer[64] = {};
};

// The digests of `count` messages of `length` bytes each, laid end to end from `data`: the
// digest of bytes [i * length, (i + 1) * length) goes to the 20 bytes from digests + 20 * i.
// Each is the digest one Sha1Hasher given that message alone would give. On the processor's
// SHA instructions (x86-64) several messages go through the rounds at once, which hashes many
// short messages, such as the 512-byte units of a content hash table, about twice as fast as
// one hasher per message.
void Sha1EachPiece(const std::uint8_t* data, std::size_t length, std::size_t count,
                   std::uint8_t* digests);

}  // namespace velador

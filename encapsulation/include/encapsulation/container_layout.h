#pragma once

// The container format: the one place that knows offsets, codes and numbers.
//
// A container is an 11-byte header ("AACS", type code, 0x00, key flag, content size
// big-endian), a 272-byte name block, the content, then a trailer that depends on the type. The
// name block followed by the content is the body; it always starts at offset 11.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "encapsulation/container_types.h"

namespace velador::layout {

inline constexpr std::array<std::uint8_t, 4> kMagic = {0x41, 0x41, 0x43, 0x53};  // "AACS"
inline constexpr std::size_t kTypeCodeOffset = 4;
inline constexpr std::size_t kHeaderLength = 11;
inline constexpr std::size_t kNameBlockLength = 272;
inline constexpr std::size_t kContentOffset = kHeaderLength + kNameBlockLength;  // 283

inline constexpr std::size_t kMacLength = 16;
inline constexpr std::size_t kEntryNumberLength = 4;
inline constexpr std::size_t kUnitLength = 512;
inline constexpr std::size_t kCipherBlockLength = 16;

// The largest content the 32-bit size field can describe.
inline constexpr std::uint64_t kMaxContentSize = 0xFFFFFFFFu;

// The name block: the file's own name, then this suffix, then zero bytes.
inline constexpr std::string_view kNameSuffix = ".AACS";
inline constexpr std::size_t kMaxNameLength = kNameBlockLength - kNameSuffix.size();  // 267

using HeaderBytes = std::array<std::uint8_t, kHeaderLength>;
using NameBlock = std::array<std::uint8_t, kNameBlockLength>;

// Numbers are stored most significant byte first, in containers as in the table.
std::uint32_t DecodeNumber(const std::uint8_t* bytes);
void EncodeNumber(std::uint32_t value, std::uint8_t* bytes);

// The header of a new container of `type` holding `contentSize` bytes (at most kMaxContentSize).
HeaderBytes EncodeHeader(ContainerType type, std::uint64_t contentSize);

// What the first bytes of a file say; `count` may be anything from 0 up.
struct HeaderFields {
  bool hasMagic = false;
  std::optional<std::uint8_t> typeCode;      // when the file holds byte 4
  std::optional<std::uint32_t> contentSize;  // when the file holds the whole header
};
HeaderFields DecodeHeader(const std::uint8_t* bytes, std::size_t count);

// Where the parts of a container lie, as offsets and lengths in the file.
struct Regions {
  std::uint64_t bodyLength = 0;        // from kHeaderLength on: name block and content
  std::uint64_t encipheredLength = 0;  // from kHeaderLength on: the bytes stored enciphered
  std::uint64_t trailerOffset = 0;
  std::uint64_t trailerLength = 0;

  std::uint64_t ContentLength() const { return bodyLength - kNameBlockLength; }
  std::uint64_t EntryCount() const { return trailerLength / kEntryNumberLength; }
};

// Locates the regions of an existing container of `type` and `fileSize` bytes. Only the
// Encryption-and-Hash type reads the size field (`contentSize`, absent when the file holds no
// whole header); the others derive every region from the file's length. None when the file is
// too short to hold its type's fixed part.
std::optional<Regions> LocateRegions(ContainerType type, std::uint64_t fileSize,
                                     std::optional<std::uint32_t> contentSize);

// The regions of the container that encapsulating `contentSize` bytes as `type` writes.
Regions RegionsForContent(ContainerType type, std::uint64_t contentSize);

// Length of the enciphered part of a body of `bodyLength` bytes: its whole cipher blocks.
constexpr std::uint64_t EncipheredLength(std::uint64_t bodyLength) {
  return bodyLength - bodyLength % kCipherBlockLength;
}

// Units of `encipheredLength` bytes, the last one possibly short.
constexpr std::uint64_t UnitCount(std::uint64_t encipheredLength) {
  return (encipheredLength + kUnitLength - 1) / kUnitLength;
}

// The longest trailer a container of the largest content can have: one number for each unit. A
// container's trailer may be longer (bytes appended to it), but nothing that reads a trailer
// whole into memory reads a longer one.
inline constexpr std::uint64_t kLongestTrailer =
    kEntryNumberLength * UnitCount(EncipheredLength(kNameBlockLength + kMaxContentSize));

// The name block in clear for `name` (at most kMaxNameLength bytes): the name, ".AACS", zeros.
NameBlock MakeNameBlock(std::string_view name);

// A stored name block matches the expected one when all 272 bytes are equal, the letters A to
// Z compared without regard to case (no other byte is folded). Constant-time: the stored block
// may have been deciphered under the key, and how far it matches must not show in the time.
bool NamesMatch(const NameBlock& stored, const NameBlock& expected);

// The name a stored name block bears: its bytes before the first zero byte, without the
// ".AACS" (in any case) that ends them. None when the block is not a name followed only by zero
// bytes: empty, or with other bytes after its first zero. A block deciphered under another key
// than the one that made it is noise, which is almost never so shaped; noise often holds no
// zero byte at all, so a block without one passes only when it ends in ".AACS".
std::optional<std::string> NameInBlock(const NameBlock& block);

}  // namespace velador::layout

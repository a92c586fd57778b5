#pragma once

// The one place that knows the byte layout of a container and of the content hash table.
//
// Container: an 11-byte header ("AACS", type code, 0x00, key flag, content size big-endian),
// a 272-byte name block, the content, then a trailer that depends on the type. The name block
// followed by the content is the body.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace velador::layout {

inline constexpr std::uint8_t kMagic[4] = {0x41, 0x41, 0x43, 0x53};  // "AACS"

enum TypeCode : std::uint8_t {
  kEncryptionCode = 0x01,
  kMacCode = 0x02,
  kEncryptionHashCode = 0x11,
  kHashCode = 0x12,
  kNonProtectedCode = 0x21,
};

inline constexpr std::uint8_t kSecondTypeByte = 0x00;
inline constexpr std::uint8_t kKeyFlagWithKey = 0x01;
inline constexpr std::uint8_t kKeyFlagWithoutKey = 0x00;

inline constexpr std::size_t kMagicOffset = 0;
inline constexpr std::size_t kTypeCodeOffset = 4;
inline constexpr std::size_t kSizeOffset = 7;
inline constexpr std::size_t kSizeLength = 4;
inline constexpr std::size_t kHeaderLength = 11;
inline constexpr std::size_t kNameBlockOffset = 11;
inline constexpr std::size_t kNameBlockLength = 272;
inline constexpr std::size_t kContentOffset = kNameBlockOffset + kNameBlockLength;  // 283

inline constexpr std::size_t kMacLength = 16;
inline constexpr std::size_t kEntryNumberLength = 4;
inline constexpr std::size_t kUnitLength = 512;
inline constexpr std::size_t kCipherBlockLength = 16;

// The largest content the 32-bit size field can describe.
inline constexpr std::uint64_t kMaxContentSize = 0xFFFFFFFFu;

// The name block: the file's own name, then this suffix, then zero bytes.
inline constexpr std::string_view kNameSuffix = ".AACS";
inline constexpr std::size_t kMaxNameLength = kNameBlockLength - kNameSuffix.size();  // 267

// Content hash table 2: 40056 bytes nobody interprets, the big-endian counter of the last
// entry added, then 8-byte entries (bytes 12 to 19 of a SHA-1 digest) numbered from 1.
inline constexpr std::uint64_t kTableCounterOffset = 40056;
inline constexpr std::uint64_t kTableFirstEntryOffset = 40060;
inline constexpr std::uint64_t kTableEntryLength = 8;
inline constexpr std::uint32_t kTableFullCounter = 0xFFFFFFFFu;
inline constexpr std::size_t kDigestTailOffset = 12;
inline constexpr std::size_t kDigestTailLength = 8;

// Where a disc image keeps its table, relative to the image's folder.
inline constexpr std::string_view kTableSuffix = "/AACS/CONTENT_HASH_TABLE2.AACS";
inline constexpr std::string_view kDiscFolder = "/ADV_OBJ/";

inline constexpr std::uint64_t TableEntryOffset(std::uint32_t number) {
  // Number 0 lands on the counter's region, as a stored number of 0 must when it is looked up.
  return kTableFirstEntryOffset - kTableEntryLength + kTableEntryLength * std::uint64_t{number};
}

// Length of the enciphered part of a body of `bodyLength` bytes: its whole cipher blocks.
inline constexpr std::uint64_t EncipheredLength(std::uint64_t bodyLength) {
  return bodyLength - bodyLength % kCipherBlockLength;
}

}  // namespace velador::layout

#pragma once

// Content hash table 2: the file in a disc image that keeps, for the two hashed container types,
// the last 8 bytes of SHA-1 digests. It holds 40056 bytes nobody interprets, the big-endian
// counter of the last entry added, then 8-byte entries numbered from 1. The table only grows:
// entries are appended, and a number locates its entry only while the file is exactly
// 40060 + 8 x counter bytes long, so entries are only ever added to a table that keeps that rule.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "encapsulation/report.h"
#include "io/checked_file.h"

namespace velador {

namespace table {

inline constexpr std::uint64_t kCounterOffset = 40056;
inline constexpr std::uint64_t kFirstEntryOffset = 40060;
inline constexpr std::uint64_t kEntryLength = 8;
inline constexpr std::uint32_t kFullCounter = 0xFFFFFFFFu;
inline constexpr std::size_t kDigestTailOffset = 12;  // where the kept bytes start in a digest

// Number 0 lands on the counter's region, as a stored number of 0 must when it is looked up.
constexpr std::uint64_t EntryOffset(std::uint32_t number) {
  return kFirstEntryOffset - kEntryLength + kEntryLength * std::uint64_t{number};
}

// The length of a table whose counter stands at `counter`.
constexpr std::uint64_t LengthFor(std::uint32_t counter) {
  return kFirstEntryOffset + kEntryLength * std::uint64_t{counter};
}

// How many entries from 1 lie wholly inside a table file `length` bytes long.
constexpr std::uint64_t EntriesHeldIn(std::uint64_t length) {
  return length < kFirstEntryOffset ? 0 : (length - kFirstEntryOffset) / kEntryLength;
}

// Where entry `number` (from 1) starts in the table's tail: its bytes from the counter on.
constexpr std::uint64_t OffsetInTail(std::uint32_t number) {
  return EntryOffset(number) - kCounterOffset;
}

}  // namespace table

// True when entry `number` of the table holds `digestTail`. An entry that does not lie wholly
// inside the file, or cannot be read, does not match.
bool MatchHashTableEntry(InputFile& table, std::uint32_t number, const DigestTail& digestTail);

// MatchHashTableEntry for many numbers: the entries are read a block of consecutive ones at a
// time, so that the numbers of a long container's units, which mostly follow one another, cost
// one read per block rather than one per unit. Memory: one block of 64 KiB.
class HashTableLookup {
 public:
  explicit HashTableLookup(InputFile& table) : table_(table) {}

  bool Matches(std::uint32_t number, const DigestTail& digestTail);

 private:
  InputFile& table_;
  std::vector<std::uint8_t> block_;
  std::uint64_t blockOffset_ = 0;  // where the block starts in the file
};

}  // namespace velador

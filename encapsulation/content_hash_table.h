#pragma once

// Content hash table 2: the file in a disc image that keeps, for the two hashed container
// types, the last 8 bytes of SHA-1 digests. See container_layout.h for its layout. The table only
// grows: entries are appended and numbered from 1, and the counter at its fixed offset holds the
// number of the last one. A number locates its entry only while the file is exactly
// 40060 + 8 x counter bytes long, so entries are only ever added to a table that keeps that rule.

#include <cstdint>
#include <cstdio>
#include <vector>

#include "encapsulation/container_layout.h"

namespace velador {

// Adds entries to one table file. The constructor opens the file for updating and holds an
// exclusive lock on it until the writer is destroyed, so that two runs adding at the same time
// never hand out one number twice. New entries are kept in memory and written by Commit: first
// the entries, at the end of the file, then the counter, then both are flushed to the disk.
class HashTableWriter {
 public:
  enum class Outcome {
    // Checked in this order, so that a full or unusable table is reported on every attempt:
    kUnusable,  // the table did not open for updating, or breaks the length rule: nothing added
    kFull,      // the counter stands at its maximum: nothing added
    kRefused,   // the caller's full flag was already set: nothing added
    kAdded,     // the entry got the number returned through Add
  };

  explicit HashTableWriter(const char* path);
  ~HashTableWriter();
  HashTableWriter(const HashTableWriter&) = delete;
  HashTableWriter& operator=(const HashTableWriter&) = delete;

  // Adds `digestTail` (8 bytes) unless `alreadyFull` is set; on kAdded, `number` holds the
  // new entry's number.
  Outcome Add(const std::uint8_t* digestTail, bool alreadyFull, std::uint32_t& number);

  // Writes the pending entries and the new counter. On failure it puts the file back to its
  // earlier length and counter, as far as the system allows, and answers false: none of the
  // numbers handed out is then valid.
  bool Commit();

 private:
  std::FILE* file_ = nullptr;
  bool usable_ = false;
  std::uint64_t length_ = 0;
  std::uint32_t counter_ = 0;
  std::vector<std::uint8_t> pending_;
};

// True when entry `number` of the open table file holds `digestTail` (8 bytes). An entry that
// does not lie wholly inside the file does not match.
bool MatchHashTableEntry(std::FILE* table, std::uint32_t number, const std::uint8_t* digestTail);

// Entry numbers are stored most significant byte first, in containers as in the counter.
std::uint32_t DecodeNumber(const std::uint8_t* bytes);
void EncodeNumber(std::uint32_t value, std::uint8_t* bytes);

}  // namespace velador

#include "encapsulation/content_hash_table.h"

#include <cstring>

#include "platform/platform.h"

namespace velador {

std::uint32_t DecodeNumber(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

void EncodeNumber(std::uint32_t value, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

namespace {

bool ReadExactly(std::FILE* file, std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  return platform::Seek(file, offset) && std::fread(data, 1, count, file) == count;
}

bool WriteExactly(std::FILE* file, std::uint64_t offset, const std::uint8_t* data,
                  std::size_t count) {
  return platform::Seek(file, offset) && std::fwrite(data, 1, count, file) == count;
}

std::uint64_t LengthFor(std::uint32_t counter) {
  return layout::kTableFirstEntryOffset + layout::kTableEntryLength * std::uint64_t{counter};
}

}  // namespace

HashTableWriter::HashTableWriter(const char* path) {
  file_ = std::fopen(path, "r+b");
  if (file_ == nullptr) return;
  // Unbuffered, so that a failed write is known at once and nothing written later, after the
  // lock is gone, can surprise the next run.
  std::setvbuf(file_, nullptr, _IONBF, 0);
  if (!platform::LockExclusive(file_)) return;
  // The length and counter are read under the lock, so they stay true until Commit.
  auto length = platform::FileSize(file_);
  std::uint8_t counter[4];
  if (!length || *length < layout::kTableFirstEntryOffset ||
      !ReadExactly(file_, layout::kTableCounterOffset, counter, sizeof counter)) {
    return;
  }
  length_ = *length;
  counter_ = DecodeNumber(counter);
  // A full table is full whatever its length; any other must keep the length rule.
  usable_ = counter_ == layout::kTableFullCounter || length_ == LengthFor(counter_);
}

HashTableWriter::~HashTableWriter() {
  if (file_ == nullptr) return;
  platform::Unlock(file_);
  std::fclose(file_);
}

HashTableWriter::Outcome HashTableWriter::Add(const std::uint8_t* digestTail, bool alreadyFull,
                                              std::uint32_t& number) {
  if (!usable_) return Outcome::kUnusable;
  if (counter_ == layout::kTableFullCounter) return Outcome::kFull;
  if (alreadyFull) return Outcome::kRefused;
  ++counter_;
  pending_.insert(pending_.end(), digestTail, digestTail + layout::kDigestTailLength);
  number = counter_;
  return Outcome::kAdded;
}

bool HashTableWriter::Commit() {
  if (pending_.empty()) return true;
  std::uint8_t counter[4];
  EncodeNumber(counter_, counter);
  bool written = WriteExactly(file_, length_, pending_.data(), pending_.size()) &&
                 WriteExactly(file_, layout::kTableCounterOffset, counter, sizeof counter) &&
                 platform::FlushToDisk(file_);
  if (written) {
    pending_.clear();
    length_ = LengthFor(counter_);
    return true;
  }
  // Undo: the counter may or may not have reached the file; the old one goes back, and the
  // appended bytes are cut off, so the length rule holds again.
  std::uint32_t earlierCounter =
      counter_ - static_cast<std::uint32_t>(pending_.size() / layout::kTableEntryLength);
  EncodeNumber(earlierCounter, counter);
  std::clearerr(file_);
  (void)WriteExactly(file_, layout::kTableCounterOffset, counter, sizeof counter);
  (void)platform::Truncate(file_, length_);
  pending_.clear();
  counter_ = earlierCounter;
  return false;
}

bool MatchHashTableEntry(std::FILE* table, std::uint32_t number, const std::uint8_t* digestTail) {
  std::uint8_t entry[layout::kDigestTailLength];
  if (!ReadExactly(table, layout::TableEntryOffset(number), entry, sizeof entry)) return false;
  return std::memcmp(entry, digestTail, sizeof entry) == 0;
}

}  // namespace velador

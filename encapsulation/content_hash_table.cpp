#include "encapsulation/content_hash_table.h"

#include <algorithm>

#include "encapsulation/container_layout.h"

namespace velador {

HashTableWriter::HashTableWriter(const std::string& path) : file_(path) {
  // The length and counter are read under the lock, so they stay true until Commit.
  auto length = file_.Size();
  std::uint8_t counter[4];
  if (!length || *length < table::kFirstEntryOffset ||
      !file_.ReadAt(table::kCounterOffset, counter, sizeof counter)) {
    return;
  }
  length_ = *length;
  counter_ = layout::DecodeNumber(counter);
  // A full table is full whatever its length; any other must keep the length rule.
  usable_ = counter_ == table::kFullCounter || length_ == table::LengthFor(counter_);
}

HashTableWriter::Outcome HashTableWriter::Add(const DigestTail& digestTail, bool alreadyFull,
                                              std::uint32_t& number) {
  if (!usable_) return Outcome::kUnusable;
  if (counter_ == table::kFullCounter) return Outcome::kFull;
  if (alreadyFull) return Outcome::kRefused;
  ++counter_;
  pending_.insert(pending_.end(), digestTail.begin(), digestTail.end());
  number = counter_;
  return Outcome::kAdded;
}

bool HashTableWriter::Commit() {
  if (pending_.empty()) return true;
  std::uint8_t counter[4];
  layout::EncodeNumber(counter_, counter);
  bool written = file_.WriteAt(length_, pending_.data(), pending_.size()) &&
                 file_.WriteAt(table::kCounterOffset, counter, sizeof counter) && file_.Sync();
  if (written) {
    pending_.clear();
    length_ = table::LengthFor(counter_);
    return true;
  }
  // Undo: the counter may or may not have reached the file; the old one goes back, and the
  // appended bytes are cut off, so the length rule holds again.
  std::uint32_t earlierCounter =
      counter_ - static_cast<std::uint32_t>(pending_.size() / table::kEntryLength);
  layout::EncodeNumber(earlierCounter, counter);
  (void)file_.WriteAt(table::kCounterOffset, counter, sizeof counter);
  (void)file_.Truncate(length_);
  pending_.clear();
  counter_ = earlierCounter;
  return false;
}

bool MatchHashTableEntry(InputFile& table, std::uint32_t number, const DigestTail& digestTail) {
  DigestTail entry;
  return table.TryReadAt(table::EntryOffset(number), entry.data(), entry.size()) &&
         entry == digestTail;
}

}  // namespace velador

#include "encapsulation/content_hash_table.h"

#include <algorithm>
#include <vector>

#include "encapsulation/container_layout.h"

namespace velador {

LockedHashTable::LockedHashTable(const std::string& path) : file_(path) {
  // The length and counter are read under the lock, so they stay true until a transaction
  // changes them.
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

HashTableWriter::HashTableWriter(const std::string& path)
    : own_(std::make_unique<LockedHashTable>(path)),
      table_(*own_),
      length_(table_.length_),
      counter_(table_.counter_) {}

HashTableWriter::HashTableWriter(LockedHashTable& table)
    : table_(table), length_(table.length_), counter_(table.counter_) {}

HashTableWriter::~HashTableWriter() {
  if (touched_ && !kept_) (void)Restore();
  held_.reset();
}

void HashTableWriter::Keep() {
  kept_ = true;
  if (!touched_) return;
  table_.length_ = length_ + std::uint64_t{handedOut_} * table::kEntryLength;
  table_.counter_ = counter_ + handedOut_;
}

HashTableWriter::Outcome HashTableWriter::Add(bool alreadyFull, std::uint32_t& number) {
  if (!table_.usable_) return Outcome::kUnusable;
  if (counter_ + handedOut_ == table::kFullCounter) return Outcome::kFull;
  if (alreadyFull) return Outcome::kRefused;
  ++handedOut_;
  number = counter_ + handedOut_;
  return Outcome::kAdded;
}

bool HashTableWriter::Commit(const TailSource& tails) {
  if (handedOut_ == 0) return true;
  // Bounded batches keep the memory small however many units a file has.
  constexpr std::size_t kBatchEntries = 8192;
  std::vector<std::uint8_t> batch(
      static_cast<std::size_t>(std::min<std::uint64_t>(handedOut_, kBatchEntries)) *
      table::kEntryLength);
  held_.emplace();
  touched_ = true;
  bool written = true;
  for (std::uint64_t entry = 0; entry < handedOut_ && written; entry += kBatchEntries) {
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(handedOut_ - entry, kBatchEntries) * table::kEntryLength);
    tails(batch.data(), count);
    written = table_.file_.WriteAt(length_ + entry * table::kEntryLength, batch.data(), count);
  }
  std::uint8_t counter[4];
  layout::EncodeNumber(counter_ + handedOut_, counter);
  written = written && table_.file_.WriteAt(table::kCounterOffset, counter, sizeof counter) &&
            table_.file_.Sync();
  if (written) return true;
  (void)Restore();
  touched_ = false;
  return false;
}

bool HashTableWriter::Restore() {
  // The counter may or may not have reached the file; the old one goes back, and the appended
  // bytes are cut off, so the length rule holds again.
  std::uint8_t counter[4];
  layout::EncodeNumber(counter_, counter);
  const bool restored = table_.file_.WriteAt(table::kCounterOffset, counter, sizeof counter) &&
                        table_.file_.Truncate(length_) && table_.file_.Sync();
  // Left in an unknown state, the table takes no further entry.
  if (!restored) table_.usable_ = false;
  return restored;
}

bool MatchHashTableEntry(InputFile& table, std::uint32_t number, const DigestTail& digestTail) {
  DigestTail entry;
  return table.TryReadAt(table::EntryOffset(number), entry.data(), entry.size()) &&
         entry == digestTail;
}

bool HashTableLookup::Matches(std::uint32_t number, const DigestTail& digestTail) {
  const std::uint64_t offset = table::EntryOffset(number);
  if (offset > table_.Size() || table_.Size() - offset < digestTail.size()) return false;
  if (offset < blockOffset_ || offset - blockOffset_ + digestTail.size() > block_.size()) {
    constexpr std::uint64_t kBlockLength = 64 * 1024;
    block_.resize(static_cast<std::size_t>(std::min(kBlockLength, table_.Size() - offset)));
    blockOffset_ = offset;
    if (!table_.TryReadAt(offset, block_.data(), block_.size())) {
      block_.clear();
      return false;
    }
  }
  return std::equal(digestTail.begin(), digestTail.end(),
                    block_.begin() + static_cast<std::ptrdiff_t>(offset - blockOffset_));
}

}  // namespace velador

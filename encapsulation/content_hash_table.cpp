#include "encapsulation/content_hash_table.h"

#include <algorithm>
#include <vector>

namespace velador {

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

// Encryption-and-Hash: the body is enciphered as by the Encryption type, and every 512-byte unit
// of its enciphered part gets an entry in the content hash table; the container ends with the
// units' entry numbers. Decapsulating restores the file, then spot-checks units drawn at random.

#include <optional>

#include "operation_frame.h"

namespace velador {

namespace {

// The draws that choose the units to check: a linear congruential generator that starts from 1
// in every run, so that every run, on every platform, checks the same units of a given container.
class UnitDraws {
 public:
  std::uint32_t Next() {
    state_ = state_ * 214013u + 2531011u;
    return (state_ >> 16) & 0x7FFFu;
  }

 private:
  std::uint32_t state_ = 1;
};

struct SpotCheck {
  bool hashesMatch = true;
  std::uint64_t unitsChecked = 0;
};

// Checks units of a container against the table until one mismatches or enough were checked.
class UnitChecker {
 public:
  UnitChecker(InputFile& input, const layout::Regions& regions, InputFile& table,
              EntryVisitor* visitor)
      : input_(input), regions_(regions), table_(table), visitor_(visitor) {}

  SpotCheck Run() {
    SpotCheck check;
    const std::uint64_t entries = regions_.EntryCount();
    if (entries > 2) {
      // About one unit in twenty, drawn at random; the last two units are never drawn.
      UnitDraws draws;
      do {
        std::uint64_t unit = std::uint64_t{draws.Next()} * input_.Size() % (entries - 2);
        check.hashesMatch = UnitMatches(unit);
        ++check.unitsChecked;
      } while (check.unitsChecked * 100 < entries * 5 && check.hashesMatch);
    } else {
      // Too few units to draw from: each unit the trailer names is checked, in order.
      check.hashesMatch = entries > 0;
      for (std::uint64_t unit = 0; unit < entries && check.hashesMatch; ++unit) {
        check.hashesMatch = UnitMatches(unit);
        ++check.unitsChecked;
      }
    }
    return check;
  }

 private:
  // A unit matches when its enciphered bytes, exactly as the encapsulation hashed them, hash to
  // the entry its trailer number names. A unit outside the enciphered part cannot match.
  bool UnitMatches(std::uint64_t unit) {
    std::uint64_t start = unit * layout::kUnitLength;
    std::uint8_t number[layout::kEntryNumberLength];
    input_.ReadAt(regions_.trailerOffset + layout::kEntryNumberLength * unit, number,
                  sizeof number);
    const std::uint32_t entry = layout::DecodeNumber(number);
    bool matches = false;
    if (start < regions_.encipheredLength) {
      std::size_t length = static_cast<std::size_t>(
          std::min<std::uint64_t>(layout::kUnitLength, regions_.encipheredLength - start));
      std::uint8_t bytes[layout::kUnitLength];
      input_.ReadAt(layout::kHeaderLength + start, bytes, length);
      matches = MatchHashTableEntry(table_, entry, DigestTailOf(bytes, length));
    }
    if (visitor_ != nullptr) visitor_->Visit(unit, entry, matches);
    return matches;
  }

  InputFile& input_;
  const layout::Regions& regions_;
  InputFile& table_;
  EntryVisitor* visitor_;
};

// Replaces `tails` with the digest tails of the units in `chunk` of a body whose first
// `enciphered` bytes are enciphered. Chunks start on unit boundaries, so the units of a chunk
// are units of the body.
void CollectUnitTails(const Chunk& chunk, std::uint64_t enciphered,
                      std::vector<std::uint8_t>& tails) {
  tails.clear();
  if (chunk.position >= enciphered) return;
  const std::size_t length =
      static_cast<std::size_t>(std::min<std::uint64_t>(chunk.count, enciphered - chunk.position));
  for (std::size_t unit = 0; unit < length; unit += layout::kUnitLength) {
    const DigestTail tail =
        DigestTailOf(chunk.data + unit, std::min(layout::kUnitLength, length - unit));
    tails.insert(tails.end(), tail.begin(), tail.end());
  }
}

// The numbers of a container's trailer, read in order a block at a time through a handle of
// their own, so that they can be read on another thread than the body.
class TrailerReader {
 public:
  TrailerReader(const std::string& path, const layout::Regions& regions)
      : file_(path), next_(regions.trailerOffset), count_(regions.EntryCount()) {}

  std::uint64_t Count() const { return count_; }

  std::uint32_t Next() {
    if (at_ == block_.size()) {
      const std::uint64_t left = count_ * layout::kEntryNumberLength - read_;
      block_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(left, kBlockLength)));
      file_.ReadAt(next_ + read_, block_.data(), block_.size());
      read_ += block_.size();
      at_ = 0;
    }
    at_ += layout::kEntryNumberLength;
    return layout::DecodeNumber(block_.data() + at_ - layout::kEntryNumberLength);
  }

 private:
  static constexpr std::size_t kBlockLength = 64 * 1024;
  InputFile file_;
  const std::uint64_t next_;
  const std::uint64_t count_;
  std::vector<std::uint8_t> block_;
  std::size_t at_ = 0;
  std::uint64_t read_ = 0;
};

// Compares every unit of the enciphered body with the entry its trailer number names, and
// looks up every number the trailer holds: a number past the body's units names a unit the
// body does not hold, and a unit past the trailer has no number; neither matches. Reads the
// name block, still enciphered, into `name`.
SpotCheck CheckEveryUnit(InputFile& input, const std::string& path, const layout::Regions& regions,
                         InputFile& table, EntryVisitor* visitor, layout::NameBlock& name) {
  TrailerReader trailer(path, regions);
  HashTableLookup lookup(table);
  SpotCheck check;
  std::uint64_t unit = 0;
  const auto look = [&](bool inBody, const std::uint8_t* tail) {
    const std::uint32_t number = trailer.Next();
    DigestTail digestTail{};
    if (inBody) std::copy_n(tail, digestTail.size(), digestTail.begin());
    const bool matches = inBody && lookup.Matches(number, digestTail);
    if (visitor != nullptr) visitor->Visit(unit, number, matches);
    check.hashesMatch = check.hashesMatch && matches;
    ++unit;
  };
  const ChunkStep compare = [&, tails = std::vector<std::uint8_t>()](Chunk& chunk) mutable {
    TakeNameBlock(chunk, name);
    CollectUnitTails(chunk, regions.encipheredLength, tails);
    for (std::size_t at = 0; at < tails.size(); at += sizeof(DigestTail)) {
      if (unit == trailer.Count()) {
        check.hashesMatch = false;  // units without a number
        return;
      }
      look(true, tails.data() + at);
    }
  };
  layout::Regions enciphered = regions;
  enciphered.bodyLength = regions.encipheredLength;
  RunPipeline(StoredBody(input, enciphered), {compare}, nullptr);
  while (unit < trailer.Count()) look(false, nullptr);
  check.hashesMatch = check.hashesMatch && trailer.Count() > 0 &&
                      trailer.Count() >= layout::UnitCount(regions.encipheredLength);
  check.unitsChecked = std::max(trailer.Count(), layout::UnitCount(regions.encipheredLength));
  return check;
}

// Deciphers a name block read as it is stored.
void DecipherNameBlock(layout::NameBlock& name, const Key& key) {
  AesCipher cipher = ContainerCipher(key);
  cipher.Decrypt(name.data(), name.data(), name.size(), CBC);
}

}  // namespace

OperationReport Encapsulator::EncapsulateEncryptionHash(const Key& key) {
  OperationReport report =
      StartReport(ContainerType::kEncryptionHash, Direction::kEncapsulate, key);
  std::optional<SpooledBytes> unitTails;
  std::uint64_t enciphered = 0;
  const auto encipherAndHash = [&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kEncryptionHash, input);
    enciphered =
        layout::RegionsForContent(ContainerType::kEncryptionHash, input.Size()).encipheredLength;
    AesCipher cipher = ContainerCipher(key);
    unitTails.emplace(FolderOf(paths.result), kTailsInMemory);
    // The units of one chunk are hashed while the next chunk is enciphered.
    const ChunkStep encipher = [&](Chunk& chunk) {
      cipher.Encrypt(chunk.data, chunk.data, chunk.count, CBC);
    };
    const ChunkStep hashUnits = [&, tails = std::vector<std::uint8_t>()](Chunk& chunk) mutable {
      CollectUnitTails(chunk, enciphered, tails);
      unitTails->Append(tails.data(), tails.size());
    };
    RunPipeline(BodyToEncapsulate(nameBlock, input), {encipher, hashUnits}, &result);
    // The body goes to the disk before the table is locked, so that the lock is held only for
    // the short rest.
    result.Sync();
  };
  const auto registerUnits = [&](ResultFile& result) {
    RegisterUnits(result, *unitTails, enciphered / layout::kUnitLength,
                  enciphered % layout::kUnitLength != 0, report);
  };
  report.failure = Produce(encipherAndHash, registerUnits);
  return report;
}

OperationReport Encapsulator::DecapsulateEncryptionHash(const Key& key) {
  OperationReport report =
      StartReport(ContainerType::kEncryptionHash, Direction::kDecapsulate, key);
  layout::NameBlock stored{};
  report.failure = Restore([&](InputFile& input, ResultFile* result) {
    const layout::Regions regions = ReadRegions(input, ContainerType::kEncryptionHash);
    // Every unit is compared only by a check: it streams the body once for both.
    const bool everyUnit = unitCheck == UnitCheck::kEvery && result == nullptr;
    if (!everyUnit) RestoreEncipheredBody(input, key, regions, stored, result);
    std::unique_ptr<InputFile> table;
    try {
      table = std::make_unique<InputFile>(paths.table);
    } catch (const InputFailure&) {
      // Restored without a check; a check without its table still reads the name.
      if (everyUnit) RestoreEncipheredBody(input, key, regions, stored, nullptr);
      return;
    }
    report.tableFound = true;
    SpotCheck check;
    if (everyUnit) {
      check = CheckEveryUnit(input, paths.input, regions, *table, entryVisitor, stored);
      DecipherNameBlock(stored, key);
    } else {
      check = UnitChecker(input, regions, *table, entryVisitor).Run();
    }
    report.contentMatches = check.hashesMatch;
    report.unitsChecked = check.unitsChecked;
  });
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  return report;
}

}  // namespace velador

// Encryption-and-Hash: the body is enciphered as by the Encryption type, and every 512-byte unit
// of its enciphered part gets an entry in the content hash table; the container ends with the
// units' entry numbers. Decapsulating restores the file, then spot-checks units drawn at random.

#include <bit>
#include <optional>

#include "operation_frame.h"
#include "platform/platform.h"

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

// Calls visit(unit) for each unit a spot check of a container of `fileSize` bytes with `entries`
// trailer numbers draws, in order, as long as visit answers true: about one unit in twenty,
// drawn at random, the last two never; with two entries or fewer, each one in order. Answers
// how many were drawn.
template <class Visit>
std::uint64_t ForEachDraw(std::uint64_t fileSize, std::uint64_t entries, Visit&& visit) {
  std::uint64_t drawn = 0;
  if (entries > 2) {
    UnitDraws draws;
    bool goOn = true;
    do {
      goOn = visit(std::uint64_t{draws.Next()} * fileSize % (entries - 2));
      ++drawn;
    } while (drawn * 100 < entries * 5 && goOn);
  } else {
    for (std::uint64_t unit = 0; unit < entries; ++unit) {
      ++drawn;
      if (!visit(unit)) break;
    }
  }
  return drawn;
}

// The units a spot check draws inside the enciphered body, found before the body is read, so
// that their bytes are hashed as the restore streams past them and nothing is read twice.
class DrawnUnits {
 public:
  // The drawn units of the body (the draws stop at the first outside it, which cannot match);
  // none when more than kMostKept distinct units would be drawn, which only a malformed
  // container can make happen: such a container is checked draw by draw instead.
  static std::optional<DrawnUnits> Plan(std::uint64_t fileSize, const layout::Regions& regions) {
    DrawnUnits plan(layout::UnitCount(regions.encipheredLength));
    ForEachDraw(fileSize, regions.EntryCount(), [&](std::uint64_t unit) {
      if (unit >= plan.units_) return false;
      plan.marks_[unit / 64] |= std::uint64_t{1} << (unit % 64);
      return true;
    });
    std::uint32_t below = 0;
    for (std::size_t word = 0; word < plan.marks_.size(); ++word) {
      plan.ranks_[word] = below;
      below += static_cast<std::uint32_t>(std::popcount(plan.marks_[word]));
    }
    if (below > kMostKept) return std::nullopt;
    plan.tails_.resize(below);
    plan.numbers_.resize(below);
    plan.matches_.resize(below);
    return plan;
  }

  bool Drawn(std::uint64_t unit) const {
    return unit < units_ && (marks_[unit / 64] >> (unit % 64) & 1) != 0;
  }

  // Hashes the drawn units of `chunk`, as stored; chunks come in order from the body's start.
  void HashUnitsOf(const Chunk& chunk, std::uint64_t enciphered) {
    for (std::uint64_t at = chunk.position; at < chunk.position + chunk.count && at < enciphered;
         at += layout::kUnitLength) {
      const std::uint64_t unit = at / layout::kUnitLength;
      if (!Drawn(unit)) continue;
      const std::size_t length =
          static_cast<std::size_t>(std::min<std::uint64_t>(layout::kUnitLength, enciphered - at));
      tails_[Rank(unit)] = DigestTailOf(chunk.data + (at - chunk.position), length);
    }
  }

  // Looks up the entry of every drawn unit, in the order of the units, so that the trailer and
  // the table are read a block at a time.
  void LookUp(InputFile& input, const layout::Regions& regions, InputFile& table) {
    HashTableLookup lookup(table);
    std::vector<std::uint8_t> block;
    std::uint64_t blockStart = 0;
    for (std::uint64_t unit = 0; unit < units_; ++unit) {
      if (!Drawn(unit)) continue;
      const std::uint64_t offset = regions.trailerOffset + layout::kEntryNumberLength * unit;
      if (offset < blockStart || offset + layout::kEntryNumberLength > blockStart + block.size()) {
        blockStart = offset;
        block.resize(static_cast<std::size_t>(
            std::min<std::uint64_t>(kTrailerBlock, input.Size() - offset)));
        input.ReadAt(offset, block.data(), block.size());
      }
      const std::size_t rank = Rank(unit);
      numbers_[rank] = layout::DecodeNumber(block.data() + (offset - blockStart));
      matches_[rank] = lookup.Matches(numbers_[rank], tails_[rank]);
    }
  }

  std::uint32_t Number(std::uint64_t unit) const { return numbers_[Rank(unit)]; }
  bool Matches(std::uint64_t unit) const { return matches_[Rank(unit)]; }

 private:
  static constexpr std::size_t kMostKept = 1u << 20;  // 20 bytes each
  static constexpr std::size_t kTrailerBlock = 64 * 1024;

  explicit DrawnUnits(std::uint64_t units)
      : units_(units), marks_((units + 63) / 64), ranks_(marks_.size()) {}

  std::size_t Rank(std::uint64_t unit) const {
    const std::uint64_t below = marks_[unit / 64] & ((std::uint64_t{1} << (unit % 64)) - 1);
    return ranks_[unit / 64] + static_cast<std::size_t>(std::popcount(below));
  }

  std::uint64_t units_;
  std::vector<std::uint64_t> marks_;  // one bit per unit of the body
  std::vector<std::uint32_t> ranks_;  // drawn units before each word of marks_
  std::vector<DigestTail> tails_;     // by rank
  std::vector<std::uint32_t> numbers_;
  std::vector<bool> matches_;
};

// Checks units of a container against the table until one mismatches or enough were checked.
class UnitChecker {
 public:
  UnitChecker(InputFile& input, const layout::Regions& regions, InputFile& table,
              EntryVisitor* visitor)
      : input_(input), regions_(regions), table_(table), visitor_(visitor) {}

  // With `drawn`, the units of the body were hashed as it was restored and looked up already;
  // otherwise each drawn unit is read and looked up in turn.
  SpotCheck Run(const DrawnUnits* drawn = nullptr) {
    SpotCheck check;
    check.hashesMatch = regions_.EntryCount() > 0;
    check.unitsChecked = ForEachDraw(input_.Size(), regions_.EntryCount(), [&](std::uint64_t unit) {
      check.hashesMatch =
          drawn != nullptr && drawn->Drawn(unit) ? Visited(unit, *drawn) : UnitMatches(unit);
      return check.hashesMatch;
    });
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

  bool Visited(std::uint64_t unit, const DrawnUnits& drawn) {
    if (visitor_ != nullptr) visitor_->Visit(unit, drawn.Number(unit), drawn.Matches(unit));
    return drawn.Matches(unit);
  }

  InputFile& input_;
  const layout::Regions& regions_;
  InputFile& table_;
  EntryVisitor* visitor_;
};

constexpr std::size_t kDigestLength = 20;

// The bytes of `chunk` that lie in the enciphered part, the body's first `enciphered` bytes.
std::size_t EncipheredBytesOf(const Chunk& chunk, std::uint64_t enciphered) {
  if (chunk.position >= enciphered) return 0;
  return static_cast<std::size_t>(
      std::min<std::uint64_t>(chunk.count, enciphered - chunk.position));
}

// Turns `tails`, which holds on entry the digests of the length / 512 whole units of the first
// `length` bytes of `chunk`, 20 bytes each, into the digest tails of those units, then adds the
// tail of a short last unit, hashed here. Tail i lands at or before the digest it comes from,
// so going up overwrites only digests already used. Chunks start on unit boundaries, so the
// units of a chunk are units of the body.
void DigestsToTails(const Chunk& chunk, std::size_t length, std::vector<std::uint8_t>& tails) {
  const std::size_t whole = length / layout::kUnitLength;
  for (std::size_t unit = 0; unit < whole; ++unit) {
    std::memmove(tails.data() + sizeof(DigestTail) * unit,
                 tails.data() + kDigestLength * unit + table::kDigestTailOffset,
                 sizeof(DigestTail));
  }
  tails.resize(sizeof(DigestTail) * whole);
  if (length % layout::kUnitLength != 0) {
    const DigestTail tail = DigestTailOf(chunk.data + length - length % layout::kUnitLength,
                                         length % layout::kUnitLength);
    tails.insert(tails.end(), tail.begin(), tail.end());
  }
}

// Replaces `tails` with the digest tails of the units in `chunk` of a body whose first
// `enciphered` bytes are enciphered.
void CollectUnitTails(const Chunk& chunk, std::uint64_t enciphered,
                      std::vector<std::uint8_t>& tails) {
  const std::size_t length = EncipheredBytesOf(chunk, enciphered);
  tails.resize(kDigestLength * (length / layout::kUnitLength));
  Sha1EachPiece(chunk.data, layout::kUnitLength, length / layout::kUnitLength, tails.data());
  DigestsToTails(chunk, length, tails);
}

// The numbers of a container's trailer, read in order a block at a time. Reads name their
// offset, so they may run on another thread than those of the body.
class TrailerReader {
 public:
  TrailerReader(InputFile& file, const layout::Regions& regions)
      : file_(file), next_(regions.trailerOffset), count_(regions.EntryCount()) {}

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
  InputFile& file_;
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
SpotCheck CheckEveryUnit(InputFile& input, const layout::Regions& regions, InputFile& table,
                         EntryVisitor* visitor, layout::NameBlock& name) {
  TrailerReader trailer(input, regions);
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
    // Tails that will not all fit in memory go to the file from the first one on: filling the
    // memory first, only to copy it out, costs more than it saves.
    const std::uint64_t tailBytes = layout::UnitCount(enciphered) * sizeof(DigestTail);
    unitTails.emplace(FolderOf(paths.result), tailBytes > kTailsInMemory ? 0 : kTailsInMemory);
    // Where the cipher hashes the units in the pass that enciphers them (the hashing fills the
    // waits of the chained blocks, at next to no cost), one step does both; elsewhere the units
    // of one chunk are hashed on a thread of their own while the next chunk is enciphered.
    // Chunks are whole units but for the last, so the whole units of a chunk's enciphered
    // bytes are those of the whole chunk.
    const ChunkStep encipherAndHashUnits =
        [&, tails = std::vector<std::uint8_t>()](Chunk& chunk) mutable {
          tails.resize(kDigestLength * (chunk.count / layout::kUnitLength));
          cipher.EncryptCbcHashingUnits(chunk.data, chunk.count, tails.data());
          DigestsToTails(chunk, EncipheredBytesOf(chunk, enciphered), tails);
          unitTails->Append(tails.data(), tails.size());
        };
    const ChunkStep encipher = [&](Chunk& chunk) {
      cipher.Encrypt(chunk.data, chunk.data, chunk.count, CBC);
    };
    const ChunkStep hashUnits = [&, tails = std::vector<std::uint8_t>()](Chunk& chunk) mutable {
      CollectUnitTails(chunk, enciphered, tails);
      unitTails->Append(tails.data(), tails.size());
    };
    if (cipher.HashesUnitsInPass()) {
      RunPipeline(BodyToEncapsulate(nameBlock, input), {encipherAndHashUnits}, &result);
    } else {
      RunPipeline(BodyToEncapsulate(nameBlock, input), {encipher, hashUnits}, &result);
    }
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
    // A restore streams the whole body: the drawn units are hashed on the way.
    std::optional<DrawnUnits> drawn;
    if (!everyUnit && result != nullptr) drawn = DrawnUnits::Plan(input.Size(), regions);
    const ChunkStep hashDrawn = [&](Chunk& chunk) {
      drawn->HashUnitsOf(chunk, regions.encipheredLength);
    };
    if (!everyUnit) {
      RestoreEncipheredBody(input, key, regions, stored, result, drawn ? &hashDrawn : nullptr);
    }
    std::unique_ptr<InputFile> table;
    try {
      table = OpenToRead(paths.readFrom, paths.table, readCounter, platform::kImageFile);
    } catch (const InputFailure&) {
      // Restored without a check; a check without its table still reads the name.
      if (everyUnit) RestoreEncipheredBody(input, key, regions, stored, nullptr);
      return;
    }
    report.tableFound = true;
    SpotCheck check;
    if (everyUnit) {
      check = CheckEveryUnit(input, regions, *table, entryVisitor, stored);
      stored = CipherNameBlock(stored, key, false);
    } else {
      if (drawn) drawn->LookUp(input, regions, *table);
      check = UnitChecker(input, regions, *table, entryVisitor).Run(drawn ? &*drawn : nullptr);
    }
    report.contentMatches = check.hashesMatch;
    report.unitsChecked = check.unitsChecked;
  });
  report.storedName = stored;
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  return report;
}

}  // namespace velador

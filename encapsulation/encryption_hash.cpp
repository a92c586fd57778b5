// Encryption-and-Hash: the body is enciphered as by the Encryption type, and every 512-byte unit
// of its enciphered part gets an entry in the content hash table; the container ends with the
// units' entry numbers. Decapsulating restores the file, then spot-checks units drawn at random.

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
  UnitChecker(InputFile& input, const layout::Regions& regions, InputFile& table)
      : input_(input), regions_(regions), table_(table) {}

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
    if (start >= regions_.encipheredLength) return false;
    std::size_t length = static_cast<std::size_t>(
        std::min<std::uint64_t>(layout::kUnitLength, regions_.encipheredLength - start));
    std::uint8_t bytes[layout::kUnitLength];
    std::uint8_t number[layout::kEntryNumberLength];
    input_.ReadAt(layout::kHeaderLength + start, bytes, length);
    input_.ReadAt(regions_.trailerOffset + layout::kEntryNumberLength * unit, number,
                  sizeof number);
    return MatchHashTableEntry(table_, layout::DecodeNumber(number), DigestTailOf(bytes, length));
  }

  InputFile& input_;
  const layout::Regions& regions_;
  InputFile& table_;
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

}  // namespace

OperationReport Encapsulator::EncapsulateEncryptionHash(const Key& key) {
  OperationReport report =
      StartReport(ContainerType::kEncryptionHash, Direction::kEncapsulate, key);
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kEncryptionHash, input);
    const std::uint64_t enciphered =
        layout::RegionsForContent(ContainerType::kEncryptionHash, input.Size()).encipheredLength;
    AesCipher cipher = ContainerCipher(key);
    SpooledBytes unitTails(FolderOf(paths.result), kTailsInMemory);
    // The units of one chunk are hashed while the next chunk is enciphered.
    const ChunkStep encipher = [&](Chunk& chunk) {
      cipher.Encrypt(chunk.data, chunk.data, chunk.count, CBC);
    };
    const ChunkStep hashUnits = [&, tails = std::vector<std::uint8_t>()](Chunk& chunk) mutable {
      CollectUnitTails(chunk, enciphered, tails);
      unitTails.Append(tails.data(), tails.size());
    };
    RunPipeline(BodyToEncapsulate(nameBlock, input), {encipher, hashUnits}, &result);
    RegisterUnits(result, unitTails, enciphered / layout::kUnitLength,
                  enciphered % layout::kUnitLength != 0, report);
  });
  return report;
}

OperationReport Encapsulator::DecapsulateEncryptionHash(const Key& key) {
  OperationReport report =
      StartReport(ContainerType::kEncryptionHash, Direction::kDecapsulate, key);
  layout::NameBlock stored{};
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    const layout::Regions regions = ReadRegions(input, ContainerType::kEncryptionHash);
    RestoreEncipheredBody(input, key, regions, stored, result);
    std::unique_ptr<InputFile> table;
    try {
      table = std::make_unique<InputFile>(paths.table);
    } catch (const InputFailure&) {
      return;  // restored without a check
    }
    report.tableFound = true;
    const SpotCheck check = UnitChecker(input, regions, *table).Run();
    report.contentMatches = check.hashesMatch;
    report.unitsChecked = check.unitsChecked;
  });
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  return report;
}

}  // namespace velador

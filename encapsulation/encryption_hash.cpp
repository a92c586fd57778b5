// Encryption-and-Hash: the body is enciphered as by the Encryption type, and every 512-byte unit
// of its enciphered part gets an entry in the content hash table; the container ends with the
// units' entry numbers. Decapsulating restores the file, then spot-checks units drawn at random.

#include <algorithm>

#include "crypto/aes_cipher.h"
#include "crypto/sha1_hasher.h"
#include "encapsulation/content_hash_table.h"
#include "encapsulation/operation_frame.h"

namespace velador {

namespace {

DigestTail TailOfDigest(const std::uint8_t* data, std::size_t count) {
  Sha1Hasher hasher;
  hasher.Update(data, count);
  hasher.Final();
  DigestTail tail;
  std::copy_n(hasher.digest + layout::kDigestTailOffset, tail.size(), tail.begin());
  return tail;
}

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

// Where the regions of a container lie. The size field locates the trailer; everything after the
// body is read as entry numbers.
struct ContainerGeometry {
  std::uint64_t total = 0;       // container length
  std::uint64_t body = 0;        // name block and content
  std::uint64_t enciphered = 0;  // whole cipher blocks of the body
  std::uint64_t entries = 0;     // entry numbers in the trailer

  std::uint64_t TrailerOffset() const { return layout::kHeaderLength + body; }
};

ContainerGeometry ReadGeometry(InputFile& input) {
  std::uint8_t size[layout::kSizeLength];
  input.ReadAt(layout::kSizeOffset, size, sizeof size);
  ContainerGeometry geometry;
  geometry.total = input.Size();
  geometry.body = layout::kNameBlockLength + std::uint64_t{DecodeNumber(size)};
  geometry.enciphered = layout::EncipheredLength(geometry.body);
  if (geometry.total < geometry.TrailerOffset()) throw InputFailure{};
  geometry.entries = (geometry.total - geometry.TrailerOffset()) / layout::kEntryNumberLength;
  return geometry;
}

struct SpotCheck {
  bool hashesMatch = true;
  std::uint64_t unitsChecked = 0;
};

// Checks units of a container against the table until one mismatches or enough were checked.
class UnitChecker {
 public:
  UnitChecker(InputFile& input, const ContainerGeometry& geometry, std::FILE* table)
      : input_(input), geometry_(geometry), table_(table) {}

  SpotCheck Run() {
    SpotCheck check;
    if (geometry_.entries > 2) {
      // About one unit in twenty, drawn at random; the last two units are never drawn.
      UnitDraws draws;
      do {
        std::uint64_t unit =
            std::uint64_t{draws.Next()} * geometry_.total % (geometry_.entries - 2);
        check.hashesMatch = UnitMatches(unit);
        ++check.unitsChecked;
      } while (check.unitsChecked * 100 < geometry_.entries * 5 && check.hashesMatch);
    } else {
      // Too few units to draw from: each unit the trailer names is checked, in order.
      check.hashesMatch = geometry_.entries > 0;
      for (std::uint64_t unit = 0; unit < geometry_.entries && check.hashesMatch; ++unit) {
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
    if (start >= geometry_.enciphered) return false;
    std::size_t length = static_cast<std::size_t>(
        std::min<std::uint64_t>(layout::kUnitLength, geometry_.enciphered - start));
    std::uint8_t bytes[layout::kUnitLength];
    std::uint8_t number[layout::kEntryNumberLength];
    input_.ReadAt(layout::kHeaderLength + start, bytes, length);
    input_.ReadAt(geometry_.TrailerOffset() + layout::kEntryNumberLength * unit, number,
                  sizeof number);
    return MatchHashTableEntry(table_, DecodeNumber(number), TailOfDigest(bytes, length).data());
  }

  InputFile& input_;
  const ContainerGeometry& geometry_;
  std::FILE* table_;
};

}  // namespace

void Encapsulator::EncapsulateEncryptionHash(const Key& key) {
  Announce(messages::kAnnounceEncapsulateEncryptionHash);
  DigestTail printedTail{};
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, layout::kEncryptionHashCode, input.Size());
    const std::uint64_t enciphered =
        layout::EncipheredLength(layout::kNameBlockLength + input.Size());
    AesCipher cipher = ContainerCipher(key);
    std::vector<DigestTail> unitTails;
    std::uint64_t bodyOffset = 0;
    StreamBody(nameBlock, input, input.Size(), [&](std::uint8_t* data, std::size_t count) {
      cipher.Encrypt(data, data, count, CBC);
      // Chunks start on unit boundaries, so the units of a chunk are units of the body.
      std::size_t chunkEnciphered =
          static_cast<std::size_t>(std::min<std::uint64_t>(count, enciphered - bodyOffset));
      for (std::size_t unit = 0; unit < chunkEnciphered; unit += layout::kUnitLength) {
        unitTails.push_back(
            TailOfDigest(data + unit, std::min(layout::kUnitLength, chunkEnciphered - unit)));
      }
      result.Write(data, count);
      bodyOffset += count;
    });
    result.Sync();
    bool shortLastUnit = enciphered % layout::kUnitLength != 0;
    for (const EntryNumber& number : RegisterUnits(unitTails, shortLastUnit, printedTail)) {
      result.Write(number.data(), number.size());
    }
  });
  if (!done) return;
  PrintEncapsulated();
  console.LineEnds();
  console.Text(messages::kHashObtained);
  console.HexValues(printedTail.data(), printedTail.size());
  console.LineEnds();
  PrintKeyReport(messages::kFileEnciphered, key);
}

std::vector<EntryNumber> Encapsulator::RegisterUnits(const std::vector<DigestTail>& unitTails,
                                                     bool shortLastUnit, DigestTail& lastTried) {
  // Full units are registered while the table takes them; a short last unit is always tried.
  std::vector<EntryNumber> trailer;
  bool full = false;
  auto tryUnit = [&](std::size_t unit) {
    EntryNumber number{};
    AddHashTableEntry(number, unitTails[unit].data(), full);
    trailer.push_back(number);
    lastTried = unitTails[unit];
  };
  const std::size_t fullUnits = unitTails.size() - (shortLastUnit ? 1 : 0);
  for (std::size_t unit = 0; unit < fullUnits && !full; ++unit) tryUnit(unit);
  if (shortLastUnit) tryUnit(fullUnits);
  if (!CommitHashTable()) std::fill(trailer.begin(), trailer.end(), EntryNumber{});
  return trailer;
}

void Encapsulator::DecapsulateEncryptionHash(const Key& key) {
  Announce(messages::kAnnounceDecapsulateEncryptionHash);
  NameBlock stored{};
  bool tableFound = false;
  SpotCheck check;
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    const ContainerGeometry geometry = ReadGeometry(input);
    BodySink sink(stored, result);
    RestoreEncipheredBody(input, key, geometry.enciphered, geometry.body, sink);
    if (UniqueFile table = OpenTableForLookup()) {
      tableFound = true;
      check = UnitChecker(input, geometry, table.get()).Run();
    }
  });
  if (!done) return;
  PrintDecapsulated();
  PrintDecipheredKey(messages::kDecipheredWithColon, key);
  if (tableFound) {
    PrintUnitVerdicts(check.hashesMatch, check.unitsChecked, NamesMatch(stored, nameBlock));
  } else {
    PrintUnitTableMissing();
  }
  console.LineEnds(4);
}

void Encapsulator::PrintUnitTableMissing() {
  console.LineEnds();
  console.Text(messages::kUnitTableMissing);
  console.LineEnds(2);
  console.Text(messages::kUnitExpectedTablePath);
  console.LineEnds();
  console.Text(messages::kUnitExpectedTablePathIndent);
  console.Text(PathText(tablePath));
  console.LineEnds(4);
}

void Encapsulator::PrintUnitVerdicts(bool hashesMatch, std::uint64_t unitsChecked,
                                     bool nameMatches) {
  console.LineEnds();
  if (hashesMatch) {
    console.Text(messages::kUnitHashesMatch);
    console.LineEnds();
    console.Text(messages::kUnitsCheckedBefore);
    console.Decimal(unitsChecked);
    console.Text(messages::kUnitsCheckedAfter);
    console.LineEnds();
    console.Text(messages::kPlayerAccepts20);
  } else {
    console.Text(messages::kUnitHashesDiffer);
    console.LineEnds();
    console.Text(messages::kUnitsCheckedDiffer);
    console.LineEnds();
    console.Text(messages::kPlayerRejects20);
  }
  console.LineEnds();
  PrintVerdict(nameMatches ? messages::kStoredNameMatches20 : messages::kStoredNameDiffers20);
  console.LineEnds();
  console.Text(hashesMatch && nameMatches ? messages::kPlayerAccepts20
                                          : messages::kPlayerRejects20);
  console.LineEnds(4);
}

}  // namespace velador

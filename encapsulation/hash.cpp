// Hash: name block and content in clear; the SHA-1 of both lives in the disc image's content
// hash table, and the container ends with the number of its entry.

#include "crypto/sha1_hasher.h"
#include "encapsulation/content_hash_table.h"
#include "encapsulation/operation_frame.h"

namespace velador {

namespace {

const std::uint8_t* TailOf(const Sha1Hasher& hasher) {
  return hasher.digest + layout::kDigestTailOffset;
}

}  // namespace

void Encapsulator::EncapsulateHash() {
  Announce(messages::kAnnounceEncapsulateHash);
  Sha1Hasher hasher;
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, layout::kHashCode, input.Size());
    StreamBody(nameBlock, input, input.Size(), [&](std::uint8_t* data, std::size_t count) {
      hasher.Update(data, count);
      result.Write(data, count);
    });
    hasher.Final();
    result.Sync();
    // A file that gets no entry carries the number 0, which names no entry.
    EntryNumber number{};
    bool full = false;
    AddHashTableEntry(number, TailOf(hasher), full);
    if (!CommitHashTable()) number = {};
    result.Write(number.data(), number.size());
  });
  if (!done) return;
  PrintEncapsulated();
  console.LineEnds();
  console.Text(messages::kHashObtained);
  console.HexValues(TailOf(hasher), layout::kDigestTailLength);
  console.LineEnds(4);
}

void Encapsulator::DecapsulateHash() {
  Announce(messages::kAnnounceDecapsulateHash);
  NameBlock stored{};
  Sha1Hasher hasher;
  std::uint8_t number[layout::kEntryNumberLength] = {};
  bool done = Produce([&](InputFile& input, ResultFile& result) {
    std::uint64_t numberOffset = input.Size() - layout::kEntryNumberLength;
    BodySink sink(stored, result);
    StreamRange(input, layout::kHeaderLength, numberOffset - layout::kHeaderLength,
                [&](std::uint8_t* data, std::size_t count) {
                  hasher.Update(data, count);
                  sink(data, count);
                });
    hasher.Final();
    input.ReadAt(numberOffset, number, sizeof number);
  });
  if (!done) return;

  UniqueFile table = OpenTableForLookup();
  if (!table) {
    console.LineEnds();
    console.Text(messages::kRestoredWithoutTable);
    console.LineEnds();
    PrintVerdict(messages::kHashTableMissing);
    console.LineEnds();
    console.Text(messages::kExpectedTablePath);
    console.Text(PathText(tablePath));
    console.LineEnds(4);
    return;
  }
  bool hashMatches = MatchHashTableEntry(table.get(), DecodeNumber(number), TailOf(hasher));
  PrintStoredVerdicts(hashMatches ? messages::kHashMatches : messages::kHashDiffers, hashMatches,
                      NamesMatch(stored, nameBlock));
}

}  // namespace velador

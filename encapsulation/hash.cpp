// Hash: name block and content in clear; the SHA-1 of both lives in the disc image's content
// hash table, and the container ends with the number of its entry.

#include "operation_frame.h"

namespace velador {

OperationReport Encapsulator::EncapsulateHash() {
  OperationReport report = StartReport(ContainerType::kHash, Direction::kEncapsulate, Key{});
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kHash, input);
    Sha1Hasher hasher;
    StreamBody(nameBlock, input, [&](std::uint8_t* data, std::size_t count) {
      hasher.Update(data, count);
      result.Write(data, count);
    });
    hasher.Final();
    report.digestTail = TailOf(hasher);
    result.Sync();
    // A file that gets no entry carries the number 0, which names no entry.
    bool full = false;
    std::uint32_t number = AddHashTableEntry(report.digestTail, full, report);
    if (!CommitHashTable(report)) number = 0;
    std::uint8_t trailer[layout::kEntryNumberLength];
    layout::EncodeNumber(number, trailer);
    result.Write(trailer, sizeof trailer);
  });
  return report;
}

OperationReport Encapsulator::DecapsulateHash() {
  OperationReport report = StartReport(ContainerType::kHash, Direction::kDecapsulate, Key{});
  layout::NameBlock stored{};
  DigestTail computed{};
  std::uint8_t number[layout::kEntryNumberLength] = {};
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    const layout::Regions regions = ReadRegions(input, ContainerType::kHash);
    Sha1Hasher hasher;
    BodySink sink(stored, result);
    StreamRange(input, layout::kHeaderLength, regions.bodyLength,
                [&](std::uint8_t* data, std::size_t count) {
                  hasher.Update(data, count);
                  sink(data, count);
                });
    hasher.Final();
    computed = TailOf(hasher);
    input.ReadAt(regions.trailerOffset, number, sizeof number);
  });
  if (!report.Completed()) return report;
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  try {
    InputFile table(paths.table);
    report.tableFound = true;
    report.contentMatches = MatchHashTableEntry(table, layout::DecodeNumber(number), computed);
  } catch (const InputFailure&) {
    report.tableFound = false;
  }
  return report;
}

}  // namespace velador

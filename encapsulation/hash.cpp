// Hash: name block and content in clear; the SHA-1 of both lives in the disc image's content
// hash table, and the container ends with the number of its entry.

#include <optional>

#include "operation_frame.h"
#include "platform/platform.h"

namespace velador {

OperationReport Encapsulator::EncapsulateHash() {
  OperationReport report = StartReport(ContainerType::kHash, Direction::kEncapsulate, Key{});
  std::optional<SpooledBytes> tails;
  const auto hashBody = [&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kHash, input);
    Sha1Hasher hasher;
    const ChunkStep hash = [&](Chunk& chunk) { hasher.Update(chunk.data, chunk.count); };
    RunPipeline(BodyToEncapsulate(nameBlock, input), {hash}, &result);
    hasher.Final();
    const DigestTail tail = TailOf(hasher);
    tails.emplace(FolderOf(paths.result), tail.size());
    tails->Append(tail.data(), tail.size());
  };
  // The whole body is one unit, always tried; a file that gets no entry carries the number 0,
  // which names no entry.
  const auto registerBody = [&](ResultFile& result) {
    RegisterUnits(result, *tails, 0, true, report);
  };
  report.failure = Produce(hashBody, registerBody);
  return report;
}

OperationReport Encapsulator::DecapsulateHash() {
  OperationReport report = StartReport(ContainerType::kHash, Direction::kDecapsulate, Key{});
  layout::NameBlock stored{};
  DigestTail computed{};
  std::uint8_t number[layout::kEntryNumberLength] = {};
  report.failure = Restore([&](InputFile& input, ResultFile* result) {
    const layout::Regions regions = ReadRegions(input, ContainerType::kHash);
    Sha1Hasher hasher;
    const ChunkStep hash = [&](Chunk& chunk) {
      hasher.Update(chunk.data, chunk.count);
      TakeNameBlock(chunk, stored);
    };
    RunPipeline(StoredBody(input, regions), {hash}, result);
    hasher.Final();
    computed = TailOf(hasher);
    input.ReadAt(regions.trailerOffset, number, sizeof number);
  });
  if (!report.Completed()) return report;
  report.storedName = stored;
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  try {
    const std::unique_ptr<InputFile> table =
        OpenToRead(paths.readFrom, paths.table, readCounter, platform::kImageFile);
    report.tableFound = true;
    const std::uint32_t entry = layout::DecodeNumber(number);
    report.contentMatches = MatchHashTableEntry(*table, entry, computed);
    if (entryVisitor != nullptr) entryVisitor->Visit(0, entry, report.contentMatches);
  } catch (const InputFailure&) {
    report.tableFound = false;
  }
  return report;
}

}  // namespace velador

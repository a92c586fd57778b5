// MAC: name block and content in clear, followed by the AES-CMAC of both (the 11 header bytes
// are not covered).

#include "crypto/aes_mac.h"
#include "crypto/constant_time.h"
#include "operation_frame.h"

namespace velador {

OperationReport Encapsulator::EncapsulateMac(const Key& key) {
  OperationReport report = StartReport(ContainerType::kMac, Direction::kEncapsulate, key);
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kMac, input);
    AesMac mac;
    mac.Begin(key.data());
    const ChunkStep authenticate = [&](Chunk& chunk) { mac.Update(chunk.data, chunk.count); };
    RunPipeline(BodyToEncapsulate(nameBlock, input), {authenticate}, &result);
    mac.Finish(report.tag.data());
    result.Write(report.tag.data(), report.tag.size());
  });
  return report;
}

OperationReport Encapsulator::DecapsulateMac(const Key& key) {
  OperationReport report = StartReport(ContainerType::kMac, Direction::kDecapsulate, key);
  layout::NameBlock stored{};
  report.failure = Restore([&](InputFile& input, ResultFile* result) {
    const layout::Regions regions = ReadRegions(input, ContainerType::kMac);
    AesMac mac;
    mac.Begin(key.data());
    const ChunkStep authenticate = [&](Chunk& chunk) {
      mac.Update(chunk.data, chunk.count);
      TakeNameBlock(chunk, stored);
    };
    RunPipeline(StoredBody(input, regions), {authenticate}, result);
    MacTag computed, kept;
    mac.Finish(computed.data());
    input.ReadAt(regions.trailerOffset, kept.data(), kept.size());
    report.contentMatches = EqualInConstantTime(computed.data(), kept.data(), kept.size());
  });
  report.storedName = stored;
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  return report;
}

}  // namespace velador

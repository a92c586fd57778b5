// Encryption: the name block and the content are enciphered together in one CBC run from a zero
// chain. The last (content size mod 16) bytes do not fill a cipher block and are stored in
// clear after the enciphered ones.

#include "operation_frame.h"

namespace velador {

OperationReport Encapsulator::EncapsulateEncryption(const Key& key) {
  OperationReport report = StartReport(ContainerType::kEncryption, Direction::kEncapsulate, key);
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kEncryption, input);
    AesCipher cipher = ContainerCipher(key);
    // Enciphering in place leaves a final partial block as it was: the clear tail.
    const ChunkStep encipher = [&](Chunk& chunk) {
      cipher.Encrypt(chunk.data, chunk.data, chunk.count, CBC);
    };
    RunPipeline(BodyToEncapsulate(nameBlock, input), {encipher}, &result);
  });
  return report;
}

OperationReport Encapsulator::DecapsulateEncryption(const Key& key) {
  OperationReport report = StartReport(ContainerType::kEncryption, Direction::kDecapsulate, key);
  layout::NameBlock stored{};
  report.failure = Restore([&](InputFile& input, ResultFile* result) {
    RestoreEncipheredBody(input, key, ReadRegions(input, ContainerType::kEncryption), stored,
                          result);
  });
  report.storedName = stored;
  report.nameMatches = layout::NamesMatch(stored, nameBlock);
  return report;
}

}  // namespace velador

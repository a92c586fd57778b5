// Non-Protected: the content stays in clear; only the name block is enciphered (CBC from a zero
// chain), so that a player can tell whether the container still bears the name it was made for.
// The content goes through unchanged, copied inside the system where it can be.

#include "operation_frame.h"

namespace velador {

OperationReport Encapsulator::EncapsulateNonProtected(const Key& key) {
  OperationReport report = StartReport(ContainerType::kNonProtected, Direction::kEncapsulate, key);
  report.failure = Produce([&](InputFile& input, ResultFile& result) {
    WriteHeader(result, ContainerType::kNonProtected, input);
    const layout::NameBlock enciphered = CipherNameBlock(nameBlock, key, true);
    result.Write(enciphered.data(), enciphered.size());
    CopyRange(input, 0, input.Size(), result);
  });
  return report;
}

OperationReport Encapsulator::DecapsulateNonProtected(const Key& key) {
  OperationReport report = StartReport(ContainerType::kNonProtected, Direction::kDecapsulate, key);
  layout::NameBlock stored{};
  report.failure = Restore([&](InputFile& input, ResultFile* result) {
    const layout::Regions regions = ReadRegions(input, ContainerType::kNonProtected);
    input.ReadAt(layout::kHeaderLength, stored.data(), stored.size());
    // The content bears on no verdict: a check does not read it.
    if (result != nullptr) {
      CopyRange(input, layout::kContentOffset, regions.ContentLength(), *result);
    }
  });
  report.storedName = CipherNameBlock(stored, key, false);
  report.nameMatches = layout::NamesMatch(report.storedName, nameBlock);
  return report;
}

}  // namespace velador

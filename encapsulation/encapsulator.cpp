#include "encapsulation/encapsulator.h"

#include "encapsulation/content_hash_table.h"
#include "operation_frame.h"

namespace velador {

bool OperationReport::PlayerAccepts() const {
  if (!Completed() || !nameMatches) return false;
  const TypeFacts& facts = FactsOf(type);
  if (facts.UsesTable() && !tableFound) return false;
  return facts.trailer == Trailer::kNone || contentMatches;
}

Encapsulator::Encapsulator(OperationPaths paths, std::string_view fileName)
    : paths(std::move(paths)), nameBlock(layout::MakeNameBlock(fileName)) {}

Encapsulator::~Encapsulator() = default;

OperationReport Encapsulator::Run(ContainerType type, Direction direction, const Key& key) {
  const TypeFacts& facts = FactsOf(type);
  return (direction == Direction::kEncapsulate ? facts.encapsulate : facts.decapsulate)(*this,
                                                                                        key);
}

OperationReport Encapsulator::StartReport(ContainerType type, Direction direction,
                                          const Key& key) const {
  OperationReport report;
  report.type = type;
  report.direction = direction;
  report.key = key;
  return report;
}

std::uint32_t Encapsulator::AddHashTableEntry(const DigestTail& digestTail, bool& full,
                                              OperationReport& report) {
  if (!tableWriter) tableWriter = std::make_unique<HashTableWriter>(paths.table);
  std::uint32_t number = 0;
  switch (tableWriter->Add(digestTail, full, number)) {
    case HashTableWriter::Outcome::kAdded:
      return number;
    case HashTableWriter::Outcome::kFull:
      report.tableEvents.push_back(TableEvent::kFull);
      break;
    case HashTableWriter::Outcome::kUnusable:
      report.tableEvents.push_back(TableEvent::kNotUpdated);
      break;
    case HashTableWriter::Outcome::kRefused:
      return 0;
  }
  full = true;
  return 0;
}

bool Encapsulator::CommitHashTable(OperationReport& report) {
  bool committed = !tableWriter || tableWriter->Commit();
  tableWriter.reset();  // releases the lock
  if (!committed) report.tableEvents.push_back(TableEvent::kNotUpdated);
  return committed;
}

}  // namespace velador

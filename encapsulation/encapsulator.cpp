#include "encapsulation/encapsulator.h"

#include <algorithm>
#include <vector>

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
  return (direction == Direction::kEncapsulate ? facts.encapsulate : facts.decapsulate)(*this, key);
}

void Encapsulator::SetUnitCheck(UnitCheck policy, EntryVisitor* visitor) {
  unitCheck = policy;
  entryVisitor = visitor;
}

void Encapsulator::CountReadsIn(ByteCounter* counter) { readCounter = counter; }

void Encapsulator::AddEntriesThrough(EntryTransactionSource source) {
  entrySource = std::move(source);
}

void Encapsulator::JoinBatch(FinishingTurn& finishingTurn) { turn = &finishingTurn; }

void Encapsulator::ReadInputFrom(UniqueFile input) { openedInput = std::move(input); }

std::unique_ptr<InputFile> Encapsulator::OpenInputFile() {
  if (openedInput) return std::make_unique<InputFile>(std::move(openedInput), readCounter);
  return OpenToRead(paths.readFrom, paths.input, readCounter, paths.inputLinkFree);
}

OperationReport Encapsulator::StartReport(ContainerType type, Direction direction,
                                          const Key& key) const {
  OperationReport report;
  report.type = type;
  report.direction = direction;
  report.key = key;
  return report;
}

std::uint32_t Encapsulator::AddHashTableEntry(bool& full, OperationReport& report) {
  if (!tableWriter && entrySource) tableWriter = entrySource();
  std::uint32_t number = 0;
  // Without a transaction the table counts as one that cannot be updated.
  switch (tableWriter ? tableWriter->Add(full, number) : EntryTransaction::Outcome::kUnusable) {
    case EntryTransaction::Outcome::kAdded:
      return number;
    case EntryTransaction::Outcome::kFull:
      report.tableEvents.push_back(TableEvent::kFull);
      break;
    case EntryTransaction::Outcome::kUnusable:
      report.tableEvents.push_back(TableEvent::kNotUpdated);
      break;
    case EntryTransaction::Outcome::kRefused:
      return 0;
  }
  full = true;
  return 0;
}

namespace {

// The trailer of entry numbers, written to the result in batches of bounded size.
class TrailerNumbers {
 public:
  explicit TrailerNumbers(ResultFile& result) : result_(result), start_(result.Size()) {}

  void Add(std::uint32_t number) {
    if (batch_.size() == kBatchLength) Flush();
    batch_.resize(batch_.size() + layout::kEntryNumberLength);
    layout::EncodeNumber(number, batch_.data() + batch_.size() - layout::kEntryNumberLength);
  }

  void Flush() {
    result_.Write(batch_.data(), batch_.size());
    batch_.clear();
  }

  // Every number written becomes 0.
  void Void() {
    const std::vector<std::uint8_t> zeros(kBatchLength, 0);
    for (std::uint64_t at = start_; at < result_.Size(); at += kBatchLength) {
      result_.WriteAt(
          at, zeros.data(),
          static_cast<std::size_t>(std::min<std::uint64_t>(kBatchLength, result_.Size() - at)));
    }
  }

 private:
  static constexpr std::size_t kBatchLength = 64 * 1024;
  ResultFile& result_;
  const std::uint64_t start_;
  std::vector<std::uint8_t> batch_;
};

}  // namespace

void Encapsulator::StageUnits(ResultFile& result, SpooledBytes& unitTails, std::uint64_t units,
                              OperationReport& report) {
  const std::vector<std::uint8_t> zeros(
      static_cast<std::size_t>(units * layout::kEntryNumberLength), 0);
  result.Write(zeros.data(), zeros.size());
  stagedTails->resize(static_cast<std::size_t>(units));
  unitTails.ReadAt(0, stagedTails->front().data(), stagedTails->size() * sizeof(DigestTail));
  report.digestTail = stagedTails->back();
}

void Encapsulator::RegisterUnits(ResultFile& result, SpooledBytes& unitTails,
                                 std::uint64_t fullUnits, bool shortLastUnit,
                                 OperationReport& report) {
  if (fullUnits == 0 && !shortLastUnit) return;
  if (stagedTails != nullptr) {
    StageUnits(result, unitTails, fullUnits + (shortLastUnit ? 1 : 0), report);
    return;
  }
  // Full units are registered while the table takes them; a short last unit is always tried.
  TrailerNumbers trailer(result);
  bool full = false;
  std::uint64_t lastTried = 0;
  for (std::uint64_t unit = 0; unit < fullUnits && !full; ++unit) {
    trailer.Add(AddHashTableEntry(full, report));
    lastTried = unit;
  }
  if (shortLastUnit) {
    trailer.Add(AddHashTableEntry(full, report));
    lastTried = fullUnits;
  }
  // A file kept out for want of entries leaves the table as it was: the writer, dropped by the
  // failure, puts back whatever entries it added.
  if (everyEntry && !report.tableEvents.empty()) throw OutputFailure{};
  trailer.Flush();
  unitTails.ReadAt(lastTried * sizeof(DigestTail), report.digestTail.data(),
                   report.digestTail.size());
  // The whole container, trailer included, is on the disk before the table changes.
  result.Sync();
  std::uint64_t read = 0;
  const bool committed = !tableWriter || tableWriter->Commit(
                                             [&](std::uint8_t* tails, std::size_t count) {
                                               unitTails.ReadAt(read, tails, count);
                                               read += count;
                                             },
                                             result.TemporaryPath(), result.Path());
  if (!committed) {
    report.tableEvents.push_back(TableEvent::kNotUpdated);
    if (everyEntry) throw OutputFailure{};
    trailer.Void();
    result.Sync();
  }
}

layout::HeaderFields ReadHeader(InputFile& file) {
  layout::HeaderBytes bytes{};
  const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(file.Size(), bytes.size()));
  file.ReadAt(0, bytes.data(), count);
  return layout::DecodeHeader(bytes.data(), count);
}

bool KeyDeciphersName(const layout::NameBlock& stored, const Key& key) {
  return layout::NameInBlock(CipherNameBlock(stored, key, false)).has_value();
}

namespace {

// What the header of the file at `path` tells a check, or the problem that stops it.
ContainerCheck ClassifyContainer(const std::string& path, std::string_view name, const Key* key,
                                 ByteCounter* counter, int linkFree, const FilesToRead* files) {
  ContainerCheck check;
  layout::HeaderFields header;
  try {
    const std::unique_ptr<InputFile> file = OpenToRead(files, path, counter, linkFree);
    check.size = file->Size();
    header = ReadHeader(*file);
  } catch (const InputFailure&) {
    check.problem = CheckProblem::kUnreadable;
    return check;
  }
  if (header.typeCode) check.type = TypeOfCode(*header.typeCode);
  if (!header.hasMagic) {
    check.type.reset();
    check.problem = CheckProblem::kNotContainer;
  } else if (!check.type) {
    check.problem = CheckProblem::kUnknownType;
  } else if (const auto regions =
                 layout::LocateRegions(*check.type, check.size, header.contentSize)) {
    check.regions = *regions;
  } else {
    check.problem = CheckProblem::kTooShort;
  }
  if (check.problem != CheckProblem::kNone) return check;
  if (name.size() > layout::kMaxNameLength) {
    check.problem = CheckProblem::kNameTooLong;
  } else if (FactsOf(*check.type).needsKey && key == nullptr) {
    check.problem = CheckProblem::kNoKey;
  }
  return check;
}

}  // namespace

ContainerCheck CheckContainer(const std::string& path, std::string_view name, const Key* key,
                              const std::string& tablePath, UnitCheck policy, EntryVisitor* visitor,
                              ByteCounter* counter, int linkFree, const FilesToRead* files) {
  return RestoreContainer(path, name, key, tablePath, {}, policy, visitor, counter, linkFree,
                          files);
}

ContainerCheck RestoreContainer(const std::string& path, std::string_view name, const Key* key,
                                const std::string& tablePath,
                                const std::function<std::string(ContainerType)>& resultFor,
                                UnitCheck policy, EntryVisitor* visitor, ByteCounter* counter,
                                int linkFree, const FilesToRead* files) {
  ContainerCheck check = ClassifyContainer(path, name, key, counter, linkFree, files);
  if (check.problem != CheckProblem::kNone) return check;
  const std::string result = resultFor ? resultFor(*check.type) : std::string();
  Encapsulator checker({path, result, tablePath, linkFree, 0, files}, name);
  checker.SetUnitCheck(policy, visitor);
  checker.CountReadsIn(counter);
  check.report = checker.Run(*check.type, Direction::kDecapsulate, key ? *key : Key{});
  return check;
}

}  // namespace velador

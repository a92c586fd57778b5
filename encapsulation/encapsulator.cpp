#include "encapsulation/encapsulator.h"

#include <algorithm>

#include "encapsulation/content_hash_table.h"
#include "encapsulation/operation_frame.h"
#include "platform/platform.h"

namespace velador {

namespace {

std::uint8_t FoldByte(std::uint8_t byte) {
  return static_cast<std::uint8_t>(FoldLetter(static_cast<char>(byte)));
}

}  // namespace

bool NamesMatch(const NameBlock& stored, const NameBlock& expected) {
  return std::equal(stored.begin(), stored.end(), expected.begin(),
                    [](std::uint8_t a, std::uint8_t b) { return FoldByte(a) == FoldByte(b); });
}

Encapsulator::Encapsulator(const PathBuffer& inputPath, const PathBuffer& resultPath,
                           const PathBuffer& tablePath, const PathBuffer& fileName,
                           Console& console)
    : inputPath(inputPath), resultPath(resultPath), tablePath(tablePath), console(console) {
  std::string_view name = PathText(fileName).substr(0, layout::kMaxNameLength);
  std::copy(name.begin(), name.end(), nameBlock.begin());
  std::copy(layout::kNameSuffix.begin(), layout::kNameSuffix.end(),
            nameBlock.begin() + static_cast<std::ptrdiff_t>(name.size()));
  console.LineEnds();
  console.Text(messages::kResultPath);
  console.Text(PathText(resultPath));
}

Encapsulator::~Encapsulator() = default;

void Encapsulator::Announce(std::string_view text) {
  console.LineEnds();
  console.Text(text);
  console.LineEnds();
}

void Encapsulator::WriteHeader(ResultFile& result, layout::TypeCode code,
                               std::uint64_t contentSize) {
  // The size field has 32 bits; a file that grew past it since it was checked is not read.
  if (contentSize > layout::kMaxContentSize) throw InputFailure{};
  std::uint8_t header[layout::kHeaderLength];
  std::copy(std::begin(layout::kMagic), std::end(layout::kMagic), header);
  header[layout::kTypeCodeOffset] = code;
  header[layout::kTypeCodeOffset + 1] = layout::kSecondTypeByte;
  header[layout::kTypeCodeOffset + 2] =
      code == layout::kHashCode ? layout::kKeyFlagWithoutKey : layout::kKeyFlagWithKey;
  EncodeNumber(static_cast<std::uint32_t>(contentSize), header + layout::kSizeOffset);
  result.Write(header, sizeof header);
}

void Encapsulator::PrintEncapsulated() {
  console.LineEnds();
  console.Text(messages::kEncapsulated);
}

void Encapsulator::PrintKeyReport(std::string_view title, const Key& key) {
  console.LineEnds();
  console.Text(title);
  console.ByteDump(key.data(), messages::kEncapsulationDumpIndent);
  console.LineEnds(4);
}

void Encapsulator::PrintDecapsulated() {
  console.LineEnds();
  console.Text(messages::kDecapsulated);
  console.LineEnds();
}

void Encapsulator::PrintDecipheredKey(std::string_view title, const Key& key) {
  console.LineEnds();
  console.Text(title);
  console.ByteDump(key.data(), messages::kDecapsulationDumpIndent);
  console.LineEnds();
}

void Encapsulator::PrintVerdict(std::string_view text) {
  console.LineEnds();
  console.Text(text);
  console.LineEnds();
}

void Encapsulator::PrintEncipheredNameVerdict(bool nameMatches) {
  PrintVerdict(nameMatches ? messages::kEncipheredNameMatches : messages::kEncipheredNameDiffers);
  console.Text(nameMatches ? messages::kPlayerAccepts20 : messages::kPlayerRejects20);
  console.LineEnds(4);
}

void Encapsulator::PrintStoredVerdicts(std::string_view checkVerdict, bool checkPassed,
                                       bool nameMatches) {
  PrintDecapsulated();
  PrintVerdict(checkVerdict);
  PrintVerdict(nameMatches ? messages::kStoredNameMatches14 : messages::kStoredNameDiffers14);
  console.LineEnds();
  console.Text(checkPassed && nameMatches ? messages::kPlayerAccepts14
                                          : messages::kPlayerRejects14);
  console.LineEnds(4);
}

void Encapsulator::AddHashTableEntry(EntryNumber& number, const std::uint8_t* digestTail,
                                     bool& full) {
  if (!tableWriter) tableWriter = std::make_unique<HashTableWriter>(tablePath.data());
  std::uint32_t added = 0;
  switch (tableWriter->Add(digestTail, full, added)) {
    case HashTableWriter::Outcome::kAdded:
      EncodeNumber(added, number.data());
      return;
    case HashTableWriter::Outcome::kFull:
      console.Text(messages::kTableFull);
      break;
    case HashTableWriter::Outcome::kUnusable:
      console.Text(messages::kTableNotUpdated);
      break;
    case HashTableWriter::Outcome::kRefused:
      return;
  }
  console.LineEnds();
  full = true;
}

bool Encapsulator::CommitHashTable() {
  bool committed = !tableWriter || tableWriter->Commit();
  tableWriter.reset();  // releases the lock
  if (!committed) {
    console.Text(messages::kTableNotUpdated);
    console.LineEnds();
  }
  return committed;
}

UniqueFile Encapsulator::OpenTableForLookup() const {
  const char* path = tablePath.data();
  return UniqueFile(platform::IsRegularFile(path) ? std::fopen(path, "rb") : nullptr);
}

}  // namespace velador

#include "image/encapsulation_checks.h"

#include <cstdio>

#include "image/paths.h"
#include "platform/platform.h"

namespace velador {

namespace {

bool TableOpens(const std::string& path) {
  return OpenRegularFile(path, platform::kImageFile) != nullptr;
}

// Nothing the run reads may be replaced by its result: not the input, not the table, not the
// disc image file that holds them, and not the key file, which would leave the only copy of the
// key enciphered under itself.
bool ReplacesWhatRunReads(std::string_view input, ContainerType type, const DestinationRules& rules,
                          const std::string& table, const std::string& result) {
  const TypeFacts& facts = FactsOf(type);
  const std::string& tableRead =
      rules.direction == Direction::kEncapsulate ? table : rules.tableRead;
  return SameFile(std::string(input), result) ||
         (facts.UsesTable() && SameFile(tableRead, result)) ||
         (rules.imageFile && SameFile(*rules.imageFile, result)) ||
         (rules.keyPath && SameFile(*rules.keyPath, result));
}

}  // namespace

bool ResultCanBeCreated(const std::string& path, int linkFree) {
  if (platform::Exists(path.c_str())) {
    UniqueFile existing(platform::OpenFile(path.c_str(), "r+b", linkFree));
    return existing && ProbeTemporaryFile(FolderOf(path));
  }
  return ProbeNewFile(path) && ProbeTemporaryFile(FolderOf(path));
}

std::optional<OpenedInput> OpenInput(const std::string& path, int linkFree) {
  OpenedInput input;
  input.file = OpenRegularFile(path, linkFree);
  if (!input.file) return std::nullopt;
  const std::optional<std::uint64_t> length = platform::FileSize(input.file.get());
  if (!length) return std::nullopt;
  input.length = *length;
  layout::HeaderBytes bytes{};
  const std::size_t count = platform::ReadAt(
      input.file.get(), 0, bytes.data(),
      static_cast<std::size_t>(std::min<std::uint64_t>(input.length, bytes.size())));
  if (count < std::min<std::uint64_t>(input.length, bytes.size())) return std::nullopt;
  input.header = layout::DecodeHeader(bytes.data(), count);
  return input;
}

Refusal CheckInputForEncapsulation(const OpenedInput& input) {
  if (input.header.hasMagic) return Refusal::kAlreadyContainer;
  if (input.length > layout::kMaxContentSize) return Refusal::kTooLarge;
  return Refusal::kNone;
}

bool SameFile(const std::string& first, const std::string& second) {
  return SamePathText(first, second) || platform::SameFile(first.c_str(), second.c_str());
}

Refusal CheckDestination(std::string_view input, std::string_view output, ContainerType type,
                         const DestinationRules& rules, Destination& destination) {
  const bool encapsulate = rules.direction == Direction::kEncapsulate;
  const std::string_view name = NameOf(input);
  if (name.size() > layout::kMaxNameLength) return Refusal::kNameTooLong;
  const std::string result = ResultPathFor(output, name, encapsulate && rules.forDisc);
  const bool needsTable = encapsulate && FactsOf(type).UsesTable();
  const std::string table = TablePathOfImage(output);
  if (result.size() > kMaxComposedPath || (needsTable && table.size() > kMaxComposedPath)) {
    return Refusal::kPathTooLong;
  }
  // Nothing is written over the table, the key or the input, nor into an image's AACS, where
  // the table's records lie.
  if (ReplacesWhatRunReads(input, type, rules, table, result) || IsInImageTableFolder(result)) {
    return Refusal::kSameFile;
  }
  // The composed paths are handed back even when a later check stops the run.
  destination.name = std::string(name);
  destination.result = result;
  if (rules.keepExisting && platform::Exists(result.c_str())) return Refusal::kResultExists;
  const bool intoImage = encapsulate && rules.forDisc;
  const bool probedLater = !rules.probeExisting && platform::Exists(result.c_str());
  if (!probedLater && !ResultCanBeCreated(result, intoImage ? platform::kImageFile : 0)) {
    return Refusal::kCannotCreate;
  }
  if (needsTable) {
    destination.table = table;
    if (!rules.tableHeld && !TableOpens(table)) return Refusal::kNoTable;
  }
  return Refusal::kNone;
}

}  // namespace velador

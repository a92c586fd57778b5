#include "app/output_location.h"

#include <cstdio>
#include <string>

#include "app/texts.h"
#include "encapsulation/container_layout.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// Only "/" counts here: a folder ending in "\" still gets a "/" after it, which every system
// the tool runs on reads as the same folder.
bool EndsWithSlash(std::string_view path) { return !path.empty() && path.back() == '/'; }

std::string ResultPathFor(std::string_view outputFolder, std::string_view name, bool intoDisc) {
  std::string result(outputFolder);
  if (intoDisc)
    result += EndsWithSlash(result) ? layout::kDiscFolder.substr(1) : layout::kDiscFolder;
  if (!EndsWithSlash(result)) result += '/';
  result += name;
  return result;
}

std::string TablePathOfImage(std::string_view outputFolder) {
  std::string_view suffix = layout::kTableSuffix;
  return std::string(outputFolder) +
         std::string(EndsWithSlash(outputFolder) ? suffix.substr(1) : suffix);
}

// Equal as text, with letters A to Z in either case and "/" and "\" taken as one character.
bool SamePathText(std::string_view first, std::string_view second) {
  auto fold = [](char c) { return c == '\\' ? '/' : FoldLetter(c); };
  if (first.size() != second.size()) return false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (fold(first[i]) != fold(second[i])) return false;
  }
  return true;
}

bool SameFile(const std::string& first, const std::string& second) {
  return SamePathText(first, second) || platform::SameFile(first.c_str(), second.c_str());
}

// Whether the result can be written: a new file can be created at its path or, where a file
// already stands there, that file is a regular file open to reading and writing; and its folder
// takes the temporary file the result is first written to. Leaves every file as it was.
bool ResultCanBeCreated(const std::string& path) {
  if (platform::Exists(path.c_str())) {
    if (!platform::IsRegularFile(path.c_str())) return false;
    UniqueFile existing(platform::OpenFile(path.c_str(), "r+b"));
    return existing && ProbeTemporaryFile(FolderOf(path));
  }
  return ProbeNewFile(path) && ProbeTemporaryFile(FolderOf(path));
}

bool TableOpens(const std::string& path) { return OpenRegularFile(path) != nullptr; }

}  // namespace

bool CheckOutputLocation(const Request& request, ContainerType type, RunPaths& paths,
                         Console& console) {
  const bool encapsulate = request.direction == Direction::kEncapsulate;
  const std::string input(PathText(paths.input));
  const std::string_view name = NameOf(input);
  if (name.size() > layout::kMaxNameLength) {
    console.ErrorBlock({texts::kNameTooLong});
    return false;
  }
  const std::string_view output = PathText(paths.output);
  const std::string result = ResultPathFor(output, name, encapsulate && request.forDisc);
  const bool usesTable = FactsOf(type).UsesTable();
  const bool needsTable = encapsulate && usesTable;
  const std::string table = TablePathOfImage(output);
  if (result.size() > kMaxPathLength || (needsTable && table.size() > kMaxPathLength)) {
    console.ErrorBlock({texts::kPathTooLong});
    return false;
  }
  // Nothing the run reads may be replaced by the result: not the input, not the table, and not
  // the key file, which would leave the only copy of the key enciphered under itself.
  const std::string tableRead = encapsulate ? table : std::string(PathText(paths.table));
  const bool readsKey = FactsOf(type).needsKey;
  if (SameFile(input, result) || (usesTable && SameFile(tableRead, result)) ||
      (readsKey && SameFile(std::string(PathText(paths.key)), result))) {
    console.ErrorBlock({texts::kSameFile, texts::kSameFileAdvice});
    return false;
  }
  // The composed paths are handed back even when a later check stops the run.
  SetPath(paths.result, result);
  SetPath(paths.fileName, name);
  if (!ResultCanBeCreated(result)) {
    console.ErrorBlock(
        {request.forDisc ? texts::kNoDiscFolder : texts::kNoOutputFolder, texts::kCheckWritable});
    return false;
  }
  if (needsTable) {
    SetPath(paths.table, table);
    if (!TableOpens(table)) {
      console.ErrorBlock({texts::kNoTable,
                          texts::kNoTableConsequence,
                          texts::kNoTableExpected,
                          {texts::kNoTablePathIndent, table}});
      return false;
    }
  }
  return true;
}

}  // namespace velador

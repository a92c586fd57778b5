#include "image/trust.h"

#include "image/paths.h"
#include "image/transaction.h"
#include "platform/platform.h"

namespace velador {

namespace {

using platform::EntryKind;

// What is wrong with what stands at `path`, which must be `wanted` or nothing.
Distrust Judge(const std::string& path, EntryKind wanted) {
  const EntryKind kind = platform::KindOf(path.c_str());
  if (kind == EntryKind::kNone || kind == wanted) return Distrust::kNone;
  if (kind == EntryKind::kLink) return Distrust::kLink;
  return wanted == EntryKind::kFolder ? Distrust::kNotFolder : Distrust::kNotFile;
}

}  // namespace

ImageDistrust InspectImage(const std::string& image) {
  const std::string table = TablePathOfImage(image);
  const std::string tableFolder = JoinPath(image, kTableFolderName);
  const std::pair<std::string, EntryKind> parts[] = {
      {tableFolder, EntryKind::kFolder},
      {DiscFolderOf(image), EntryKind::kFolder},
      {table, EntryKind::kFile},
  };
  for (const auto& [path, wanted] : parts) {
    if (const Distrust kind = Judge(path, wanted); kind != Distrust::kNone) return {kind, path};
  }
  // A record that is no regular file is refused as any other record would be.
  if (std::string refused = RefusedRecordOf(table); !refused.empty()) {
    return {Distrust::kRefusedRecord, std::move(refused)};
  }
  return {};
}

}  // namespace velador

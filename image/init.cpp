#include "image/init.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "encapsulation/content_hash_table.h"
#include "image/paths.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// The folder `folder` would be created in: what comes before its last name ("." when nothing
// does, the current folder).
std::string ParentOf(const std::string& folder) {
  std::filesystem::path path(folder);
  if (!path.has_filename()) path = path.parent_path();  // "new/" is the folder "new"
  const std::filesystem::path parent = path.parent_path();
  return parent.empty() ? std::string(".") : parent.string();
}

// A folder `path` stands, or may be created: nothing else stands there.
bool FolderOrNothing(const std::string& path) {
  return !platform::Exists(path.c_str()) || platform::IsFolder(path.c_str());
}

// Creates the folder `path` when missing; `made` says whether it was.
bool MakeFolder(const std::string& path, bool& made) {
  if (platform::IsFolder(path.c_str())) return true;
  std::error_code error;
  made = std::filesystem::create_directory(std::filesystem::path(path), error);
  return made && !error;
}

}  // namespace

InitError InitImage(const std::string& folder, ImageInit& init, std::string& where) {
  const std::string discFolder = DiscFolderOf(folder);
  const std::string tableFolder = JoinPath(folder, kTableFolderName);
  init.discFolder = discFolder;
  init.table = TablePathOfImage(folder);
  // Every check first, so that a refused init leaves everything as it was.
  where = init.table;
  if (platform::Exists(init.table.c_str())) return InitError::kTableExists;
  const bool folderExists = platform::Exists(folder.c_str());
  if (!folderExists) {
    where = ParentOf(folder);
    if (!platform::IsFolder(where.c_str())) return InitError::kNoParent;
  }
  for (const std::string* path : {&folder, &discFolder, &tableFolder}) {
    where = *path;
    if (!FolderOrNothing(*path)) return InitError::kNotFolder;
  }
  if (platform::IsFolder(discFolder.c_str())) {
    const auto entries = platform::FolderEntries(discFolder.c_str(), platform::kImageFolder);
    where = discFolder;
    if (!entries) return InitError::kCannotCreate;
    if (!entries->empty()) return InitError::kDiscFolderNotEmpty;
  }
  // The folders, each one's record synced in the folder that holds it.
  const std::vector<std::pair<const std::string*, bool*>> folders = {
      {&folder, &init.madeFolder},
      {&discFolder, &init.madeDiscFolder},
      {&tableFolder, &init.madeTableFolder}};
  for (const auto& [path, made] : folders) {
    where = *path;
    if (!MakeFolder(*path, *made)) return InitError::kCannotCreate;
  }
  where = init.table;
  try {
    ResultFile table(init.table, platform::kImageFile);
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(table::LengthFor(0)), 0);
    table.Write(zeros.data(), zeros.size());
    table.Commit();
    table.SyncFolder();
    init.tableLength = table.Size();
  } catch (const OutputFailure&) {
    return InitError::kWriteFailure;
  }
  if (init.madeFolder) {
    where = ParentOf(folder);
    if (!SyncFolderToDisk(where)) return InitError::kWriteFailure;
  }
  where = folder;
  if ((init.madeDiscFolder || init.madeTableFolder) && !SyncFolderToDisk(folder)) {
    return InitError::kWriteFailure;
  }
  where.clear();
  return InitError::kNone;
}

}  // namespace velador

#include "image/init.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "image/paths.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "io/locked_file.h"
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

// The folders and files init made, in the order it made them: an interrupt removes them (see
// platform::RemoveOnInterrupt) and a failure takes them away again, the last made first, so
// that a refused or failed init leaves the place as it found it.
class MadeThings {
 public:
  MadeThings() = default;
  MadeThings(const MadeThings&) = delete;
  MadeThings& operator=(const MadeThings&) = delete;
  ~MadeThings() {
    for (auto it = made_.rbegin(); it != made_.rend(); ++it) {
      std::error_code error;
      std::filesystem::remove(*it, error);
      platform::KeepOnInterrupt(it->c_str());
    }
  }

  // Creates the folder `path` when missing; `made` says whether it was.
  bool Folder(const std::string& path, bool& made) {
    if (platform::IsFolder(path.c_str())) return true;
    const InterruptsHeld held;  // made and registered as one step
    std::error_code error;
    made = std::filesystem::create_directory(std::filesystem::path(path), error) && !error;
    if (!made) return false;
    made_.push_back(path);
    return platform::RemoveOnInterrupt(path.c_str());
  }

  // A file made by another hand (the table, once renamed into place) goes the same way.
  void Add(const std::string& path) {
    made_.push_back(path);
    (void)platform::RemoveOnInterrupt(path.c_str());
  }

  // Everything stays: the image is whole.
  void Keep() {
    for (const std::string& path : made_) platform::KeepOnInterrupt(path.c_str());
    made_.clear();
  }

 private:
  std::vector<std::string> made_;
};

// A fresh name for a folder beside `folder`, of the form the tools keep for their own.
std::string StagingFolderBeside(const std::string& folder) {
  return JoinPath(ParentOf(folder), FreshTemporaryName());
}

}  // namespace

namespace {

InitError InitImageNotingWhere(const std::string& folder, ImageInit& init, std::string& where) {
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
  // What a run stopped outright left in AACS goes first.
  if (platform::KindOf(tableFolder.c_str()) == platform::EntryKind::kFolder) {
    RemoveAbandonedTemporaries(JoinPath(tableFolder, ""));
  }
  // A new image is made whole beside its place, under a temporary name, and renamed into place
  // in one step; into an existing folder, the folders come first and the table last. Until the
  // image stands, a failure or an interrupt takes away whatever was made: the image appears
  // whole or not at all.
  init.madeFolder = !folderExists;
  const std::string root = folderExists ? folder : StagingFolderBeside(folder);
  MadeThings made;
  bool madeRoot = false;
  where = folder;
  if (!folderExists && (!made.Folder(root, madeRoot) || !madeRoot)) {
    return InitError::kCannotCreate;
  }
  const std::string rootTable = TablePathOfImage(root);
  for (const auto& [path, madeFolder] :
       {std::pair{DiscFolderOf(root), &init.madeDiscFolder},
        std::pair{JoinPath(root, kTableFolderName), &init.madeTableFolder}}) {
    where = folderExists ? path : folder;
    if (!made.Folder(path, *madeFolder)) return InitError::kCannotCreate;
  }
  // Each folder's record of what was made in it is on the disk before the table takes its
  // place, and the table before the image does: a power cut leaves it whole or not at all.
  where = root;
  if ((init.madeDiscFolder || init.madeTableFolder) && !SyncFolderToDisk(root)) {
    return InitError::kWriteFailure;
  }
  where = init.table;
  try {
    ResultFile table(rootTable, platform::kImageFile);
    const std::vector<std::uint8_t> zeros(static_cast<std::size_t>(table::LengthFor(0)), 0);
    table.Write(zeros.data(), zeros.size());
    {
      // The table in place and what was made kept or handed on are one step for an interrupt.
      const InterruptsHeld held;
      table.Commit();
      if (folderExists) {
        made.Keep();
      } else {
        made.Add(rootTable);
      }
    }
    init.tableLength = table.Size();
    table.SyncFolder();
  } catch (const OutputFailure&) {
    return InitError::kWriteFailure;
  }
  if (!folderExists) {
    where = folder;
    const InterruptsHeld held;
    std::error_code error;
    std::filesystem::rename(root, folder, error);
    if (error) return InitError::kWriteFailure;
    made.Keep();
    where = ParentOf(folder);
    if (!SyncFolderToDisk(where)) return InitError::kWriteFailure;
  }
  where.clear();
  return InitError::kNone;
}

}  // namespace

ImageError<InitError> InitImage(const std::string& folder, ImageInit& init) {
  std::string where;
  const InitError code = InitImageNotingWhere(folder, init, where);
  return {code, std::move(where)};
}

}  // namespace velador

#pragma once

// What a power cut leaves of the files under a folder: the bytes each file had when it was last
// put on the disk, under the names its folder had when that folder was last put on the disk;
// every write, creation, rename and removal not yet put on the disk is lost. A file whose name
// survives but whose bytes never reached the disk comes back empty.
//
// The model starts from the tree as it is (all of it on the disk) and learns of every sync from
// the io layer's fault seam (FaultInjector::OnDisk). Files are told apart by their inode, and
// every inode the model refers to is kept alive by a descriptor held open, so that the system
// cannot hand its number to a new file. POSIX only.

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <mutex>
#include <string>

namespace velador::testing {

class PowerCutModel {
 public:
  // `root`: the tree modelled (its folders as they are now; folders made later are not).
  explicit PowerCutModel(const std::filesystem::path& root);
  ~PowerCutModel();
  PowerCutModel(const PowerCutModel&) = delete;
  PowerCutModel& operator=(const PowerCutModel&) = delete;

  // What `path` holds (a file's bytes, or a folder's entries) is now on the disk. Thread-safe.
  void OnDisk(const std::string& path);

  // Writes into the empty folder `into` the tree as a power cut now would leave it: same
  // relative paths as under `root`. Thread-safe.
  void WriteSurvivors(const std::filesystem::path& into);

  // Makes `root` hold exactly the files under `survivors` (as WriteSurvivors wrote them).
  static void ReplaceTree(const std::filesystem::path& root,
                          const std::filesystem::path& survivors);

 private:
  void TakeFolder(const std::filesystem::path& folder);
  void TakeFile(const std::filesystem::path& file);
  void Pin(const std::filesystem::path& file, ino_t inode);

  const std::filesystem::path root_;
  std::map<ino_t, int> pinned_;  // inode -> a descriptor open on it
  std::mutex mutex_;
  // Relative folder path -> (name -> inode), for the folders of the tree.
  std::map<std::filesystem::path, std::map<std::string, ino_t>> entries_;
  std::map<ino_t, std::string> bytes_;
};

}  // namespace velador::testing

#include "support/power_cut.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace velador::testing {

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool InodeOf(const fs::path& path, ino_t& inode) {
  struct stat status {};
  if (lstat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
  inode = status.st_ino;
  return true;
}

}  // namespace

PowerCutModel::PowerCutModel(const fs::path& root) : root_(fs::canonical(root)) {
  TakeFolder(root_);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
    if (entry.is_directory()) TakeFolder(entry.path());
    if (entry.is_regular_file()) TakeFile(entry.path());
  }
}

void PowerCutModel::Pin(const fs::path& file, ino_t inode) {
  // Held open rather than linked, so that no file of the tree gains a name the run under test
  // would see (it gives a file with other names a copy of its own before writing into it).
  if (pinned_.count(inode) != 0) return;
  const int fd = open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) pinned_[inode] = fd;
}

PowerCutModel::~PowerCutModel() {
  for (const auto& [inode, fd] : pinned_) close(fd);
}

void PowerCutModel::TakeFolder(const fs::path& folder) {
  std::map<std::string, ino_t>& names = entries_[folder.lexically_relative(root_)];
  names.clear();
  for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
    ino_t inode = 0;
    if (!InodeOf(entry.path(), inode)) continue;
    names[entry.path().filename().string()] = inode;
    Pin(entry.path(), inode);
  }
}

void PowerCutModel::TakeFile(const fs::path& file) {
  ino_t inode = 0;
  if (!InodeOf(file, inode)) return;
  Pin(file, inode);
  bytes_[inode] = ReadWhole(file);
}

void PowerCutModel::OnDisk(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(path.empty() ? fs::path(".") : fs::path(path), error);
  const std::lock_guard<std::mutex> hold(mutex_);
  if (fs::is_directory(absolute, error)) {
    const fs::path canonical = fs::canonical(absolute, error);
    if (!error && entries_.count(canonical.lexically_relative(root_))) TakeFolder(canonical);
  } else {
    TakeFile(absolute);
  }
}

void PowerCutModel::WriteSurvivors(const fs::path& into) {
  const std::lock_guard<std::mutex> hold(mutex_);
  for (const auto& [folder, names] : entries_) {
    fs::create_directories(into / folder);
    for (const auto& [name, inode] : names) {
      const auto bytes = bytes_.find(inode);
      std::ofstream out(into / folder / name, std::ios::binary);
      if (bytes != bytes_.end()) out << bytes->second;
    }
  }
}

void PowerCutModel::ReplaceTree(const fs::path& root, const fs::path& survivors) {
  for (const fs::directory_entry& entry : fs::directory_iterator(root)) fs::remove_all(entry);
  fs::copy(survivors, root, fs::copy_options::recursive);
}

}  // namespace velador::testing

#include "io/locked_file.h"

#include <algorithm>
#include <vector>

#include "io/fault_injection.h"
#include "platform/platform.h"

namespace velador {

LockedFile::LockedFile(const std::string& path, bool wait, int linkFree, bool ownCopy)
    : path_(path) {
  // Each round that finds the name given to another file starts again on that file; only a run
  // that keeps replacing the file makes the rounds run out.
  constexpr int kRounds = 16;
  for (int round = 0; round < kRounds; ++round) {
    file_.reset(platform::OpenFile(path.c_str(), "r+b", linkFree));
    if (!file_) return;
    std::setvbuf(file_.get(), nullptr, _IONBF, 0);
    const bool held =
        wait ? platform::LockExclusive(file_.get()) : platform::TryLockExclusive(file_.get());
    if (!held) return;
    if (platform::NamesOpenFile(path.c_str(), file_.get())) {
      if (!ownCopy || platform::LinkCount(file_.get()) <= 1) {
        locked_ = true;
        return;
      }
      // The copy takes the name; the next round locks it.
      if (!ReplaceWithOwnCopy(path, file_.get(), linkFree)) {
        platform::Unlock(file_.get());
        return;
      }
    }
    platform::Unlock(file_.get());
  }
}

PatchedFile::PatchedFile(const std::string& path, int linkFree, bool ownCopy)
    : path_(path), file_(platform::OpenFile(path.c_str(), "r+b", linkFree)) {
  if (!file_ || !ownCopy || platform::LinkCount(file_.get()) <= 1) return;
  if (!ReplaceWithOwnCopy(path, file_.get(), linkFree)) {
    file_.reset();
    return;
  }
  file_.reset(platform::OpenFile(path.c_str(), "r+b", linkFree));
}

bool PatchedFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count) {
  return file_ && platform::Seek(file_.get(), offset) &&
         std::fwrite(data, 1, count, file_.get()) == count && std::fflush(file_.get()) == 0;
}

bool PatchedFile::Sync() { return file_ && SyncFileToDisk(file_.get(), path_); }

bool SyncFilesToDisk(const std::vector<std::string>& paths, int linkFree) {
  // A group at a time keeps the open files well under what a process may hold.
  constexpr std::size_t kGroup = 128;
  for (std::size_t first = 0; first < paths.size(); first += kGroup) {
    const std::size_t end = std::min(paths.size(), first + kGroup);
    std::vector<UniqueFile> files;
    for (std::size_t i = first; i < end; ++i) {
      files.emplace_back(platform::OpenFile(paths[i].c_str(), "r+b", linkFree));
      if (!files.back()) return false;
      const std::optional<std::uint64_t> size = platform::FileSize(files.back().get());
      if (size) platform::StartWriteBack(files.back().get(), 0, *size);
    }
    for (std::size_t i = first; i < end; ++i) {
      if (!SyncFileToDisk(files[i - first].get(), paths[i])) return false;
    }
  }
  return true;
}

bool ReplaceWithOwnCopy(const std::string& path, std::FILE* file, int linkFree) {
  if (platform::LinkCount(file) <= 1) return true;
  const std::optional<std::uint64_t> size = platform::FileSize(file);
  if (!size) return false;
  try {
    // Written as every result is: beside its place, on the disk, renamed over it, the folder's
    // record synced; renamed, a close failure takes nothing back.
    ResultFile copy(path, linkFree);
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(
        std::min<std::uint64_t>(std::max<std::uint64_t>(*size, 1), kChunkLength)));
    for (std::uint64_t done = 0; done < *size;) {
      const std::size_t count =
          static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), *size - done));
      if (platform::ReadAt(file, done, buffer.data(), count) != count) return false;
      copy.Write(buffer.data(), count);
      done += count;
    }
    copy.Commit();
    copy.SyncFolder();
    return true;
  } catch (const OutputFailure&) {
    return false;
  }
}

LockedFile::~LockedFile() {
  if (locked_) platform::Unlock(file_.get());
}

std::optional<std::uint64_t> LockedFile::Size() {
  if (!locked_) return std::nullopt;
  return platform::FileSize(file_.get());
}

bool LockedFile::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  return locked_ && platform::Seek(file_.get(), offset) &&
         std::fread(data, 1, count, file_.get()) == count;
}

bool LockedFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count) {
  if (!locked_ || fault_injection::Fails(fault_injection::Point::kTableWrite)) return false;
  std::clearerr(file_.get());
  return platform::Seek(file_.get(), offset) && std::fwrite(data, 1, count, file_.get()) == count;
}

bool LockedFile::Sync() {
  return locked_ && !fault_injection::Fails(fault_injection::Point::kTableSync) &&
         SyncFileToDisk(file_.get(), path_);
}

bool LockedFile::Truncate(std::uint64_t length) {
  return locked_ && !fault_injection::Fails(fault_injection::Point::kTableTruncate) &&
         platform::Truncate(file_.get(), length);
}

InterruptsHeld::InterruptsHeld() { platform::HoldInterrupts(); }

InterruptsHeld::~InterruptsHeld() { platform::ReleaseInterrupts(); }

}  // namespace velador

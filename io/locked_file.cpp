#include "io/locked_file.h"

#include "io/fault_injection.h"
#include "platform/platform.h"

namespace velador {

LockedFile::LockedFile(const std::string& path, bool wait, int linkFree) : path_(path) {
  file_.reset(platform::OpenFile(path.c_str(), "r+b", linkFree));
  if (!file_) return;
  std::setvbuf(file_.get(), nullptr, _IONBF, 0);
  locked_ = wait ? platform::LockExclusive(file_.get()) : platform::TryLockExclusive(file_.get());
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

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdio>

#include "platform/platform.h"

namespace velador::platform {

namespace {

char pendingRemoval[4096];
volatile std::sig_atomic_t removalArmed = 0;

extern "C" void RemovePendingAndRaise(int signal) {
  if (removalArmed) unlink(pendingRemoval);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void InstallInterruptHandlers() {
  static bool installed = false;
  if (installed) return;
  installed = true;
  struct sigaction action {};
  action.sa_handler = RemovePendingAndRaise;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
}

}  // namespace

bool IsTerminal(StandardStream stream) {
  return isatty(fileno(StandardFile(stream))) != 0;
}

bool RunPauseCommand() {
  return false;
}

std::FILE* OpenFile(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool RemoveFile(const char* path) {
  return std::remove(path) == 0;
}

bool IsRegularFile(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool Exists(const char* path) {
  struct stat info {};
  return lstat(path, &info) == 0;
}

bool SameFile(const char* first, const char* second) {
  struct stat a {
  }, b{};
  if (stat(first, &a) != 0 || stat(second, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::FILE* CreateNewFile(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, "wb");
  if (file == nullptr) close(fd);
  return file;
}

void RemoveOnInterrupt(const char* path) {
  removalArmed = 0;
  if (path == nullptr || std::strlen(path) >= sizeof pendingRemoval) return;
  InstallInterruptHandlers();
  std::strcpy(pendingRemoval, path);
  removalArmed = 1;
}

bool MoveIntoPlace(const char* from, const char* to) {
  struct stat earlier {};
  if (stat(to, &earlier) == 0) {
    // Best effort: a result that cannot take the old bits still replaces the old file.
    (void)chmod(from, earlier.st_mode & 07777);
  }
  return std::rename(from, to) == 0;
}

bool FlushToDisk(std::FILE* file) {
  return fsync(fileno(file)) == 0;
}

bool Seek(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> FileSize(std::FILE* file) {
  struct stat info {};
  if (fstat(fileno(file), &info) != 0 || info.st_size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool Truncate(std::FILE* file, std::uint64_t length) {
  return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}

bool LockExclusive(std::FILE* file) {
  int result;
  do {
    result = flock(fileno(file), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void Unlock(std::FILE* file) {
  (void)flock(fileno(file), LOCK_UN);
}

}  // namespace velador::platform

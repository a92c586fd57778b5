#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "pending_removals.h"

namespace velador::platform {

namespace {

HANDLE HandleOf(std::FILE* file) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
}

struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

bool IdentityOf(const char* path, FileIdentity& identity) {
  HANDLE handle = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool ok = GetFileInformationByHandle(handle, &info) != 0;
  CloseHandle(handle);
  if (ok) identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return ok;
}

PendingRemovals<kMaxRemovalsOnInterrupt, MAX_PATH + 1> pendingRemovals;
std::atomic<bool> interruptsHeld{false};

// Runs on a thread of its own when the console asks the process to stop. The temporary files
// were opened with delete sharing, so they can be deleted while other threads still hold them.
BOOL WINAPI RemovePendingOnControl(DWORD) {
  while (interruptsHeld.load()) Sleep(1);
  pendingRemovals.RemoveAll([](const char* path) { DeleteFileA(path); });
  return FALSE;  // let the default handler end the process
}

}  // namespace

bool RemoveOnInterrupt(const char* path) {
  static const bool installed = SetConsoleCtrlHandler(RemovePendingOnControl, TRUE) != 0;
  (void)installed;
  return pendingRemovals.Add(path);
}

void KeepOnInterrupt(const char* path) {
  pendingRemovals.Forget(path);
}

bool IsTerminal(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return _isatty(_fileno(stdin)) != 0;
    case StandardStream::kOutput:
      return _isatty(_fileno(stdout)) != 0;
    case StandardStream::kError:
      return _isatty(_fileno(stderr)) != 0;
  }
  return false;
}

bool RunPauseCommand() {
  (void)std::system("Pause");
  return true;
}

void WaitForEnter() {
  int c;
  do {
    c = std::getchar();
  } while (c != '\n' && c != EOF);
}

std::FILE* OpenFile(const char* path, const char* mode) {
  return std::fopen(path, mode);
}

bool RemoveFile(const char* path) {
  return std::remove(path) == 0;
}

bool IsRegularFile(const char* path) {
  struct _stat64 info {};
  return _stat64(path, &info) == 0 && (info.st_mode & _S_IFMT) == _S_IFREG;
}

bool Exists(const char* path) {
  return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool SameFile(const char* first, const char* second) {
  FileIdentity a, b;
  if (!IdentityOf(first, a) || !IdentityOf(second, b)) return false;
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

std::FILE* CreateNewFile(const char* path) {
  HANDLE handle = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

void HoldInterrupts() {
  interruptsHeld.store(true);
}

void ReleaseInterrupts() {
  interruptsHeld.store(false);
}

bool MoveIntoPlace(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

bool SyncFolder(const char*) {
  return true;  // MoveIntoPlace writes the replace through
}

std::uint64_t CopyInSystem(std::FILE*, std::uint64_t, std::FILE*, std::uint64_t, std::uint64_t) {
  return 0;  // copied through memory by the caller
}

bool FlushToDisk(std::FILE* file) {
  return _commit(_fileno(file)) == 0;
}

void StartWriteBack(std::FILE*, std::uint64_t, std::uint64_t) {}

bool Seek(std::FILE* file, std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(INT64_MAX)) return false;
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> FileSize(std::FILE* file) {
  __int64 length = _filelengthi64(_fileno(file));
  if (length < 0) return std::nullopt;
  return static_cast<std::uint64_t>(length);
}

bool Truncate(std::FILE* file, std::uint64_t length) {
  return _chsize_s(_fileno(file), static_cast<__int64>(length)) == 0;
}

// Windows byte-range locks are mandatory: locking the data would make concurrent readers fail.
// Writers agree instead on one byte far past any file's end, which no read ever touches.
OVERLAPPED LockedByte() {
  OVERLAPPED place{};
  place.Offset = 0xFFFFFFFFu;
  place.OffsetHigh = 0x7FFFFFFFu;
  return place;
}

bool LockExclusive(std::FILE* file) {
  OVERLAPPED place = LockedByte();
  return LockFileEx(HandleOf(file), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &place) != 0;
}

void Unlock(std::FILE* file) {
  OVERLAPPED place = LockedByte();
  (void)UnlockFileEx(HandleOf(file), 0, 1, 0, &place);
}

}  // namespace velador::platform

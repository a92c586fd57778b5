#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "pending_removals.h"
#include "platform/platform.h"

namespace velador::platform {

namespace {

HANDLE HandleOf(std::FILE* file) { return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))); }

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The system's own forms: a path taken literally (\\?\C:\x) or a device (\\.\NUL).
bool IsDevicePath(std::wstring_view path) {
  return StartsWith(path, L"\\\\?\\") || StartsWith(path, L"\\\\.\\");
}

// The narrow path in UTF-16, read in the ANSI code page as the narrow calls read it.
std::wstring Widened(const char* path) {
  const int length = MultiByteToWideChar(CP_ACP, 0, path, -1, nullptr, 0);
  if (length <= 1) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide.data(), length) != length) return {};
  wide.pop_back();  // the terminator
  return wide;
}

std::wstring FullPath(const std::wstring& path) {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (int attempt = 0; attempt < 4; ++attempt) {  // more only if the current folder changes
    const DWORD length =
        GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.resize(length);  // the size it needs, terminator included
  }
  return {};
}

// The path the wide calls get for `path`. GetFullPathNameW does to it what the narrow calls do
// before the system sees a path: it joins a relative path to the current folder, resolves "."
// and "..", turns "/" into "\" and drops the blanks and dots Windows never keeps at the end of
// a name. Marked with \\?\ the result then reaches the file system exactly so, without the
// 260-character limit of the narrow calls; marked without those steps, "/", ".." and trailing
// blanks would be taken literally. A path the user marked so already, or one naming a device
// (\\.\NUL), goes as it is. An empty result makes every call fail as for a missing file.
std::wstring SystemPath(const char* path) {
  const std::wstring wide = Widened(path);
  if (wide.empty() || StartsWith(wide, L"\\\\?\\")) return wide;
  const std::wstring full = FullPath(wide);
  if (full.empty() || IsDevicePath(full)) return full;
  if (StartsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);  // \\server\share\...
  return L"\\\\?\\" + full;
}

// A handle for reading what the file system records about `path` (links followed; folders
// open too), or INVALID_HANDLE_VALUE. Opened with every sharing mode so that it disturbs no one.
class QueryHandle {
 public:
  explicit QueryHandle(const char* path)
      : handle_(CreateFileW(SystemPath(path).c_str(), 0,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {}
  ~QueryHandle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  QueryHandle(const QueryHandle&) = delete;
  QueryHandle& operator=(const QueryHandle&) = delete;

  // False when the path did not open or the system answered nothing.
  bool Information(BY_HANDLE_FILE_INFORMATION& info) const {
    return handle_ != INVALID_HANDLE_VALUE && GetFileInformationByHandle(handle_, &info) != 0;
  }
  bool IsDisk() const {
    return handle_ != INVALID_HANDLE_VALUE && GetFileType(handle_) == FILE_TYPE_DISK;
  }

 private:
  HANDLE handle_;
};

struct FileIdentity {
  DWORD volume = 0;
  DWORD indexHigh = 0;
  DWORD indexLow = 0;
};

bool IdentityOf(const char* path, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!QueryHandle(path).Information(info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// The longest path the wide calls take, terminator included.
constexpr std::size_t kLongestSystemPath = 32768;
PendingRemovals<wchar_t, kMaxRemovalsOnInterrupt, kLongestSystemPath> pendingRemovals;
std::atomic<int> interruptsHeld{0};  // threads inside a step that must not be cut
// Set once a control event has begun to remove the pending files: the other threads run on
// until the process ends, and a file they created after the removal would be left behind.
std::atomic<bool> interrupted{false};

// Runs on a thread of its own when the console asks the process to stop. The temporary files
// were opened with delete sharing, so they can be deleted while other threads still hold them.
BOOL WINAPI RemovePendingOnControl(DWORD) {
  interrupted.store(true);
  while (interruptsHeld.load() > 0) Sleep(1);
  pendingRemovals.RemoveAll([](const wchar_t* path) { DeleteFileW(path); });
  return FALSE;  // let the default handler end the process
}

}  // namespace

void OpenMissingStandardStreams() {
  // The C runtime reserves its descriptors 0 to 2 for the standard streams whether or not the
  // process has those handles: a file opened later never takes their numbers.
}

void InstallInterruptCleanup() {
  static const bool installed = SetConsoleCtrlHandler(RemovePendingOnControl, TRUE) != 0;
  (void)installed;
}

bool RemoveOnInterrupt(const char* path) {
  // Converted here, on the calling thread: the handler only deletes.
  if (path == nullptr) return false;
  const std::wstring systemPath = SystemPath(path);
  return !systemPath.empty() && pendingRemovals.Add(systemPath.c_str());
}

void KeepOnInterrupt(const char* path) {
  if (path != nullptr) pendingRemovals.Forget(SystemPath(path).c_str());
}

bool IsTerminal(StandardStream stream) {
  // Only a console answers GetConsoleMode; _isatty would take the NUL device for one too.
  DWORD mode = 0;
  return GetConsoleMode(HandleOf(StandardFile(stream)), &mode) != 0;
}

bool RunPauseCommand() {
  (void)std::system("Pause");
  return true;
}

std::FILE* OpenFile(const char* path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::strlen(mode));  // ASCII letters only
  return _wfopen(SystemPath(path).c_str(), wideMode.c_str());
}

bool RemoveFile(const char* path) {
  const std::wstring systemPath = SystemPath(path);
  const bool removed = DeleteFileW(systemPath.c_str()) != 0;
  pendingRemovals.Forget(systemPath.c_str());
  return removed;
}

bool IsRegularFile(const char* path) {
  QueryHandle file(path);
  BY_HANDLE_FILE_INFORMATION info{};
  return file.IsDisk() && file.Information(info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsFolder(const char* path) {
  const DWORD attributes = GetFileAttributesW(SystemPath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Exists(const char* path) {
  return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameFile(const char* first, const char* second) {
  FileIdentity a, b;
  if (!IdentityOf(first, a) || !IdentityOf(second, b)) return false;
  return a.volume == b.volume && a.indexHigh == b.indexHigh && a.indexLow == b.indexLow;
}

namespace {

// The stream of a file just created with `handle`; null, the handle closed, when none opens.
std::FILE* StreamOf(HANDLE handle) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, "wb");
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace

std::FILE* CreateNewFile(const char* path) {
  const std::wstring systemPath = SystemPath(path);
  // Created and registered as one step: an interrupt comes before or after both. Counted as
  // held before `interrupted` is read: either this sees the event and creates nothing, or the
  // handler waits for the file and removes it.
  HoldInterrupts();
  if (interrupted.load()) {
    ReleaseInterrupts();
    return nullptr;
  }
  HANDLE handle =
      CreateFileW(systemPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  std::FILE* file = handle == INVALID_HANDLE_VALUE ? nullptr : StreamOf(handle);
  if (file != nullptr) {
    (void)pendingRemovals.Add(systemPath.c_str());
  } else if (handle != INVALID_HANDLE_VALUE) {
    DeleteFileW(systemPath.c_str());
  }
  ReleaseInterrupts();
  return file;
}

bool RemoveIfAbandoned(const char* path) {
  // Opening without sharing fails while any process holds the file open, as its maker does
  // until it is done with it; a file no one holds goes when this handle closes.
  const HANDLE handle =
      CreateFileW(SystemPath(path).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                  FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  return CloseHandle(handle) != 0;
}

void HoldInterrupts() { interruptsHeld.fetch_add(1); }

void ReleaseInterrupts() { interruptsHeld.fetch_sub(1); }

std::optional<std::vector<std::string>> FolderEntries(const char* path) {
  std::wstring pattern = SystemPath(path);
  if (pattern.empty()) return std::nullopt;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::string> names;
  do {
    const std::wstring wide = found.cFileName;
    if (wide == L"." || wide == L"..") continue;
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1) continue;
    std::string name(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, name.data(), length, nullptr, nullptr);
    name.pop_back();  // the terminator
    names.push_back(std::move(name));
  } while (FindNextFileW(search, &found));
  const bool complete = GetLastError() == ERROR_NO_MORE_FILES;
  FindClose(search);
  if (!complete) return std::nullopt;
  return names;
}

void KeepInterruptsOffThisThread() {}

namespace {

// True when a failed replace of `target` may succeed a moment later: Windows refuses to replace
// a file while any process holds it open, and scanners, indexers or a reader that has just
// ended (its handles close a little after the process) hold one only briefly. A read-only file
// or a folder at `target` refuses for good.
bool ReplaceMayClearUp(DWORD error, const std::wstring& target) {
  if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
      error != ERROR_LOCK_VIOLATION) {
    return false;
  }
  const DWORD attributes = GetFileAttributesW(target.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) == 0;
}

}  // namespace

bool MoveIntoPlace(const char* from, const char* to) {
  const std::wstring systemFrom = SystemPath(from);
  const std::wstring systemTo = SystemPath(to);
  // About two seconds in all before the replace counts as failed.
  constexpr DWORD kWaitsMs[] = {5, 10, 20, 40, 80, 160, 320, 500, 500, 500};
  for (std::size_t attempt = 0;; ++attempt) {
    if (MoveFileExW(systemFrom.c_str(), systemTo.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
      break;
    }
    if (attempt == std::size(kWaitsMs) || !ReplaceMayClearUp(GetLastError(), systemTo)) {
      return false;
    }
    Sleep(kWaitsMs[attempt]);
  }
  pendingRemovals.Forget(systemFrom.c_str());  // the name now belongs to a finished file
  return true;
}

bool SyncFolder(const char*) {
  return true;  // MoveIntoPlace writes the replace through
}

std::uint64_t CopyInSystem(std::FILE*, std::uint64_t, std::FILE*, std::uint64_t, std::uint64_t) {
  return 0;  // copied through memory by the caller
}

bool FlushToDisk(std::FILE* file) { return _commit(_fileno(file)) == 0; }

void StartWriteBack(std::FILE*, std::uint64_t, std::uint64_t) {}

std::size_t ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  const HANDLE handle = HandleOf(file);
  std::size_t done = 0;
  while (done < count) {
    const std::uint64_t at = offset + done;
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(at);
    place.OffsetHigh = static_cast<DWORD>(at >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count - done, 1u << 30));
    DWORD read = 0;
    if (!ReadFile(handle, data + done, wanted, &read, &place) || read == 0) break;
    done += read;
  }
  return done;
}

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

bool LockShared(std::FILE* file) {
  OVERLAPPED place = LockedByte();
  return LockFileEx(HandleOf(file), 0, 0, 1, 0, &place) != 0;
}

bool TryLockExclusive(std::FILE* file) {
  OVERLAPPED place = LockedByte();
  return LockFileEx(HandleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0,
                    &place) != 0;
}

void Unlock(std::FILE* file) {
  OVERLAPPED place = LockedByte();
  (void)UnlockFileEx(HandleOf(file), 0, 1, 0, &place);
}

}  // namespace velador::platform

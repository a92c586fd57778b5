#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "interrupt_notice.h"
#include "open_mode.h"
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

// The UTF-16 name in the ANSI code page, as the narrow calls would name it; "" when it is none.
std::string Narrowed(const std::wstring& wide) {
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, narrow.data(), length, nullptr, nullptr);
  narrow.pop_back();  // the terminator
  return narrow;
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
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

bool IdentityOf(const char* path, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!QueryHandle(path).Information(info)) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// True for a path that names a device rather than a file in a volume: a reserved name (CON,
// NUL, COM1: GetFullPathNameW makes \\.\CON of them, wherever they stand), a whole volume
// (\\.\C:), a pipe or a mailslot. Opening one is not free of effects (a pipe takes the open
// for a client connecting), so the calls that must not touch such a thing tell it by its name.
bool NamesDevice(std::wstring_view systemPath) {
  if (!IsDevicePath(systemPath)) return false;
  const std::wstring_view rest = systemPath.substr(4);
  const std::size_t separator = rest.find(L'\\');
  if (separator == std::wstring_view::npos) return true;
  const std::wstring first(rest.substr(0, separator));
  return _wcsicmp(first.c_str(), L"pipe") == 0 || _wcsicmp(first.c_str(), L"mailslot") == 0;
}

// How many of the last components of `path` a `linkFree` of that many checks: no more than the
// names the user wrote, so that a relative path never has the current folder checked (the
// user's, resolved as the system resolves them). "." and ".." name no component of their own
// and are not counted; a path that climbs with ".." may so have a folder checked that it only
// passes through, never fewer than it names. An absolute path is all written.
std::size_t CheckedComponents(const char* path, int linkFree) {
  if (linkFree <= 0) return 0;
  const std::wstring wide = Widened(path);
  std::wstring_view rest = wide;
  if (rest.size() >= 2 && rest[1] == L':') rest.remove_prefix(2);  // C:x is relative to C:'s folder
  const auto isSeparator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
  std::size_t written = 0;
  if (!rest.empty() && isSeparator(rest[0])) {
    written = SIZE_MAX;
  } else {
    std::size_t start = 0;
    while (start < rest.size()) {
      std::size_t end = start;
      while (end < rest.size() && !isSeparator(rest[end])) ++end;
      const std::wstring_view name = rest.substr(start, end - start);
      if (!name.empty() && name != L"." && name != L"..") ++written;
      start = end + 1;
    }
  }
  return std::min(written, static_cast<std::size_t>(linkFree));
}

bool IdentityOfOpen(HANDLE handle, FileIdentity& identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(handle, &info) == 0) return false;
  identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
  return true;
}

// What an open handle holds, as the system tells it.
struct Opened {
  EntryKind kind = EntryKind::kNone;  // kNone when the system answered nothing
  bool filtered = false;              // a reparse point that is no link (see Inspect)
};

// Asks what `handle` holds. A link is a reparse point that stands for another name: a symbolic
// link, a junction, a mount point. Any other reparse point (a file kept in the cloud, a
// deduplicated one) is the file or folder itself, its content served by the filter that owns
// it: it comes back as such, marked `filtered`. With `name`, the handle was opened at that name
// with FILE_FLAG_OPEN_REPARSE_POINT, and a name that tells of a reparse point the handle does
// not hold is taken for a link as well: the open went past it, as Windows layers on other
// systems do whatever the flag says.
Opened Inspect(HANDLE handle, const std::wstring* name) {
  Opened opened;
  if (GetFileType(handle) != FILE_TYPE_DISK) {
    opened.kind = EntryKind::kOther;
    return opened;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileInformationByHandle(handle, &info) == 0) return opened;
  const bool reparse = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
  if (reparse) {
    // A reparse point whose kind cannot be told counts as a link.
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (GetFileInformationByHandleEx(handle, FileAttributeTagInfo, &tag, sizeof tag) == 0 ||
        IsReparseTagNameSurrogate(tag.ReparseTag)) {
      opened.kind = EntryKind::kLink;
      return opened;
    }
  } else if (name != nullptr) {
    const DWORD byName = GetFileAttributesW(name->c_str());
    if (byName != INVALID_FILE_ATTRIBUTES && (byName & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      opened.kind = EntryKind::kLink;
      return opened;
    }
  }
  opened.kind = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder
                                                                        : EntryKind::kFile;
  opened.filtered = reparse;
  return opened;
}

// Folders along a path, each checked to be a folder and no link, and held open while
// the object lives: opened for listing without delete sharing, which no rename and no removal
// of the folder gets past, so that none of them can be swapped for a junction or a link while
// the call runs. The folders above them resolve as the system resolves them.
class HeldFolders {
 public:
  // Of the last `count` components of `systemPath` (a path SystemPath made, "\\" between
  // names), the folders: all of them when `withLeaf`, else all but the last, which the call
  // itself then opens without following it. Fails when one is missing, no folder, a link, or
  // cannot be held.
  HeldFolders(const std::wstring& systemPath, std::size_t count, bool withLeaf) {
    if (count == 0) {
      held_ = true;
      return;
    }
    // The root, never checked: \\?\C:\, \\?\UNC\server\share\, \\?\Volume{...}\ and the like.
    std::size_t rootEnd = 0;
    if (IsDevicePath(systemPath)) {
      std::size_t names = 1;
      if (systemPath.size() >= 8 && _wcsnicmp(systemPath.c_str() + 4, L"UNC\\", 4) == 0) names = 3;
      rootEnd = 4;
      for (std::size_t i = 0; i < names && rootEnd != std::wstring::npos; ++i) {
        rootEnd = systemPath.find(L'\\', rootEnd);
        if (rootEnd != std::wstring::npos) ++rootEnd;
      }
      if (rootEnd == std::wstring::npos) rootEnd = systemPath.size();
    }
    std::vector<std::pair<std::size_t, std::size_t>> names;  // offset and length of each name
    for (std::size_t start = rootEnd; start < systemPath.size();) {
      const std::size_t end = std::min(systemPath.find(L'\\', start), systemPath.size());
      if (end > start) names.emplace_back(start, end - start);
      start = end + 1;
    }
    if (names.empty()) return;  // no name to open: nothing stands there to check
    const std::size_t first = names.size() - std::min(count, names.size());
    const std::size_t last = withLeaf ? names.size() : names.size() - 1;
    for (std::size_t i = first; i < last; ++i) {
      const std::wstring folder = systemPath.substr(0, names[i].first + names[i].second);
      // Listing is asked for because sharing binds only a handle that reads, writes or deletes:
      // a handle for attributes alone would keep no one from renaming the folder.
      const HANDLE handle =
          CreateFileW(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (handle == INVALID_HANDLE_VALUE) return;
      handles_.push_back(handle);
      // Asked of the handle and of the name, which the hold keeps on this folder meanwhile.
      if (Inspect(handle, &folder).kind != EntryKind::kFolder) return;
    }
    held_ = true;
  }
  ~HeldFolders() {
    for (HANDLE handle : handles_) CloseHandle(handle);
  }
  HeldFolders(const HeldFolders&) = delete;
  HeldFolders& operator=(const HeldFolders&) = delete;

  bool Held() const { return held_; }

 private:
  std::vector<HANDLE> handles_;
  bool held_ = false;
};

// Marks the file open as `handle` (opened with DELETE access) for removal when it is closed.
bool MarkForRemoval(HANDLE handle) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = TRUE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition,
                                    sizeof disposition) != 0;
}

// Removes what stands at `systemPath` itself: a file, or a link, never what a link leads to and
// never a folder. DeleteFileW removes files and links to files; a link to a folder (a symbolic
// link or a junction) is a folder to it and is removed here through a handle to the link
// itself, so that nothing put in its place meanwhile is removed instead.
bool RemoveEntry(const std::wstring& systemPath) {
  if (DeleteFileW(systemPath.c_str()) != 0) return true;
  if (GetLastError() != ERROR_ACCESS_DENIED) return false;  // what a folder answers
  const HANDLE handle =
      CreateFileW(systemPath.c_str(), DELETE | FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  // Asked of the handle alone: removed is what the handle holds, so it must be the link.
  const bool removed = Inspect(handle, nullptr).kind == EntryKind::kLink && MarkForRemoval(handle);
  CloseHandle(handle);
  return removed;
}

// The longest path the wide calls take, terminator included.
constexpr std::size_t kLongestSystemPath = 32768;
PendingRemovals<wchar_t, kMaxRemovalsOnInterrupt, kLongestSystemPath> pendingRemovals;
std::atomic<int> interruptsHeld{0};  // threads inside a step that must not be cut
InterruptNoticeText notice;
// Set once a control event has begun to remove the pending files: the other threads run on
// until the process ends, and a file they created after the removal would be left behind.
std::atomic<bool> interrupted{false};

// Runs on a thread of its own when the console asks the process to stop. The temporary files
// were opened with delete sharing, so they can be deleted while other threads still hold them.
BOOL WINAPI RemovePendingOnControl(DWORD) {
  interrupted.store(true);
  while (interruptsHeld.load() > 0) Sleep(1);
  pendingRemovals.RemoveAll([](const wchar_t* path) {
    if (!DeleteFileW(path)) RemoveDirectoryW(path);
  });
  DWORD written = 0;
  if (notice.Length() > 0) {
    (void)WriteFile(GetStdHandle(STD_ERROR_HANDLE), notice.Bytes(),
                    static_cast<DWORD>(notice.Length()), &written, nullptr);
  }
  // Ended as a POSIX shell reports an interrupted program (128 + SIGINT), never with the status
  // of a success: the default handler's status is not one every host keeps (wine gives 0).
  // Terminated, not exited: another thread may hold a lock of the C runtime's.
  TerminateProcess(GetCurrentProcess(), 130);
  return TRUE;
}

}  // namespace

void OpenMissingStandardStreams() {
  // The C runtime reserves its descriptors 0 to 2 for the standard streams whether or not the
  // process has those handles: a file opened later never takes their numbers.
}

void KeepFreedMemoryForReuse() {
  // The C runtime's heap keeps what is freed already.
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

void SetInterruptNotice(std::string_view text) {
  HoldInterrupts();
  if (!interrupted.load()) notice.Set(text);
  ReleaseInterrupts();
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

namespace {

// The stream of `handle`, which `flags` (_O_RDONLY, _O_RDWR, _O_WRONLY) and `mode` describe
// alike; null, the handle closed, when none opens.
std::FILE* StreamOf(HANDLE handle, int flags, const char* mode) {
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags | _O_BINARY);
  if (fd < 0) {
    CloseHandle(handle);
    return nullptr;
  }
  std::FILE* file = _fdopen(fd, mode);
  if (file == nullptr) _close(fd);
  return file;
}

}  // namespace

std::FILE* OpenFile(const char* path, const char* mode, int linkFree) {
  const std::optional<bool> forUpdate = OpensForUpdate(mode);
  if (!forUpdate) return nullptr;
  const bool update = *forUpdate;
  const std::wstring systemPath = SystemPath(path);
  if (NamesDevice(systemPath)) {
    errno = EINVAL;
    return nullptr;
  }
  const HeldFolders folders(systemPath, CheckedComponents(path, linkFree), false);
  if (!folders.Held()) {
    errno = ENOENT;
    return nullptr;
  }
  // Shared for reading and writing, as the C library's fopen shares. Without backup semantics a
  // folder does not open at all; with linkFree a link at the name opens as itself, and is
  // refused below.
  const auto open = [&](DWORD flags) {
    return CreateFileW(systemPath.c_str(), GENERIC_READ | (update ? GENERIC_WRITE : 0),
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL | flags, nullptr);
  };
  HANDLE handle = open(linkFree > 0 ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                ? ENOENT
                : EACCES;
    return nullptr;
  }
  const Opened opened = Inspect(handle, linkFree > 0 ? &systemPath : nullptr);
  if (opened.kind == EntryKind::kFile && opened.filtered && linkFree > 0) {
    // The flag that keeps a link from being followed may also keep the filter that owns this
    // reparse point from serving the content: opened once more as usual, and kept only when
    // that opened this very file (the first handle, still open, keeps it from being replaced).
    const HANDLE usual = open(0);
    FileIdentity first, second;
    const bool same =
        usual != INVALID_HANDLE_VALUE && Inspect(usual, nullptr).kind == EntryKind::kFile &&
        IdentityOfOpen(handle, first) && IdentityOfOpen(usual, second) && first == second;
    CloseHandle(handle);
    handle = usual;
    if (!same) {
      if (usual != INVALID_HANDLE_VALUE) CloseHandle(usual);
      errno = EINVAL;
      return nullptr;
    }
  } else if (opened.kind != EntryKind::kFile) {
    CloseHandle(handle);
    errno = EINVAL;
    return nullptr;
  }
  return StreamOf(handle, update ? _O_RDWR : _O_RDONLY, update ? "r+b" : "rb");
}

bool RemoveFile(const char* path, int linkFree) {
  const std::wstring systemPath = SystemPath(path);
  bool removed = false;
  {
    const HeldFolders folders(systemPath, CheckedComponents(path, linkFree), false);
    removed = folders.Held() && RemoveEntry(systemPath);
  }
  pendingRemovals.Forget(systemPath.c_str());
  return removed;
}

EntryKind KindOf(const char* path) {
  const std::wstring systemPath = SystemPath(path);
  if (NamesDevice(systemPath)) return EntryKind::kOther;            // told by name, never opened
  const DWORD attributes = GetFileAttributesW(systemPath.c_str());  // the name itself
  if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::kNone;
  // Opened only to read what it is, which disturbs no one.
  const HANDLE handle =
      CreateFileW(systemPath.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  EntryKind kind = EntryKind::kNone;
  if (handle != INVALID_HANDLE_VALUE) {
    kind = Inspect(handle, &systemPath).kind;
    CloseHandle(handle);
  }
  if (kind != EntryKind::kNone) return kind;
  // As the attributes say, where the system tells no more; a reparse point counts as a link.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? EntryKind::kFolder : EntryKind::kFile;
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

std::optional<FileStamp> StampOf(const char* path) {
  const std::wstring system = SystemPath(path);
  if (system.empty() || NamesDevice(system)) return std::nullopt;
  const HANDLE handle =
      CreateFileW(system.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  FILE_BASIC_INFO times{};
  const bool answered =
      GetFileInformationByHandle(handle, &info) != 0 &&
      GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times) != 0;
  CloseHandle(handle);
  // A file system that keeps no change time (FAT, exFAT) cannot tell a write whose maker set the
  // modification time back: no stamp at all there, rather than one that could miss it.
  if (answered && times.ChangeTime.QuadPart == 0) return std::nullopt;
  if (!answered ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return std::nullopt;
  }
  // File times count 100 ns from 1601; 11644473600 s lie between 1601 and 1970.
  const auto nanoseconds = [](const LARGE_INTEGER& time) {
    return (time.QuadPart - 116444736000000000LL) * 100;
  };
  FileStamp stamp;
  stamp.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  stamp.modifiedNs = nanoseconds(times.LastWriteTime);
  stamp.changedNs = nanoseconds(times.ChangeTime);
  stamp.volume = info.dwVolumeSerialNumber;
  stamp.index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return stamp;
}

std::optional<std::string> UserCacheFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  if (local == nullptr || local[0] == L'\0') return std::nullopt;
  const std::string folder = Narrowed(local);
  if (folder.size() < 3 || folder[1] != ':') return std::nullopt;
  return folder;
}

bool Exists(const char* path) {
  return GetFileAttributesW(SystemPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameFile(const char* first, const char* second) {
  FileIdentity a, b;
  if (!IdentityOf(first, a) || !IdentityOf(second, b)) return false;
  return a == b;
}

std::FILE* CreateNewFile(const char* path, int linkFree) {
  const std::wstring systemPath = SystemPath(path);
  // Created and registered as one step: an interrupt comes before or after both. Counted as
  // held before `interrupted` is read: either this sees the event and creates nothing, or the
  // handler waits for the file and removes it.
  HoldInterrupts();
  if (interrupted.load()) {
    ReleaseInterrupts();
    return nullptr;
  }
  // CREATE_NEW makes nothing where any name, a link among them, stands already.
  HANDLE handle = INVALID_HANDLE_VALUE;
  {
    const HeldFolders folders(systemPath, CheckedComponents(path, linkFree), false);
    if (folders.Held()) {
      handle = CreateFileW(systemPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                           nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  std::FILE* file = handle == INVALID_HANDLE_VALUE ? nullptr : StreamOf(handle, _O_WRONLY, "wb");
  // A file no interrupt would remove is not made at all.
  if (file != nullptr && !pendingRemovals.Add(systemPath.c_str())) {
    std::fclose(file);
    file = nullptr;
  }
  if (file == nullptr && handle != INVALID_HANDLE_VALUE) DeleteFileW(systemPath.c_str());
  ReleaseInterrupts();
  return file;
}

bool RemoveIfAbandoned(const char* path) {
  const std::wstring systemPath = SystemPath(path);
  if (NamesDevice(systemPath)) return false;
  // Opening without sharing fails at once while any process holds the file open, as its maker
  // does until it is done with it. What stands at the name is opened itself, never what a link
  // leads to (a folder, a link to one included, does not open without backup semantics), and
  // is marked for removal only once it has shown to be a file on a disk, no link: it goes when
  // this handle closes.
  const HANDLE handle = CreateFileW(systemPath.c_str(), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool marked =
      Inspect(handle, &systemPath).kind == EntryKind::kFile && MarkForRemoval(handle);
  return CloseHandle(handle) != 0 && marked;
}

void HoldInterrupts() { interruptsHeld.fetch_add(1); }

void ReleaseInterrupts() { interruptsHeld.fetch_sub(1); }

std::optional<std::vector<std::string>> FolderEntries(const char* path, int linkFree) {
  std::wstring pattern = SystemPath(path);
  if (pattern.empty()) return std::nullopt;
  // The folder itself among them: held, it stays the one listed until the listing ends.
  const HeldFolders folders(pattern, CheckedComponents(path, linkFree), true);
  if (!folders.Held()) return std::nullopt;
  if (pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return std::nullopt;
  std::vector<std::string> names;
  do {
    const std::wstring wide = found.cFileName;
    if (wide == L"." || wide == L"..") continue;
    std::string name = Narrowed(wide);
    if (name.empty()) continue;
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

// Another program that holds a file (a scanner, an indexer) mostly lets go within moments: runs
// `step` (true: done) again after each of the waits while `mayClearUp` says its failure (the
// thread's last error right after it) is one such a holder causes. False once the waits run
// out, or at once for a failure of another kind.
template <std::size_t kWaits, typename Step, typename MayClearUp>
bool RetryWhileHeld(const DWORD (&waitsMs)[kWaits], Step step, MayClearUp mayClearUp) {
  for (std::size_t attempt = 0;; ++attempt) {
    if (step()) return true;
    if (attempt == kWaits || !mayClearUp(GetLastError())) return false;
    Sleep(waitsMs[attempt]);
  }
}

}  // namespace

bool MoveIntoPlace(const char* from, const char* to, int linkFree) {
  const std::wstring systemFrom = SystemPath(from);
  const std::wstring systemTo = SystemPath(to);
  // The rename takes the names themselves, a link at either one included, never what it leads
  // to; the folders above them are held until the rename is done or has failed.
  const HeldFolders fromFolders(systemFrom, CheckedComponents(from, linkFree), false);
  const HeldFolders toFolders(systemTo, CheckedComponents(to, linkFree), false);
  if (!fromFolders.Held() || !toFolders.Held()) return false;
  // About two seconds in all before the replace counts as failed.
  constexpr DWORD kWaitsMs[] = {5, 10, 20, 40, 80, 160, 320, 500, 500, 500};
  const bool moved = RetryWhileHeld(
      kWaitsMs,
      [&] {
        return MoveFileExW(systemFrom.c_str(), systemTo.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
      },
      [&](DWORD error) { return ReplaceMayClearUp(error, systemTo); });
  if (!moved) return false;
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

bool MayChange(const char* path, ChangeAccess access) {
  const std::wstring systemPath = SystemPath(path);
  if (systemPath.empty() || NamesDevice(systemPath)) return false;
  const DWORD attributes = GetFileAttributesW(systemPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  // A read-only file is neither written nor removed nor replaced.
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return false;
  // Opened as the change will open it, sharing everything, so that only a holder that shares
  // less than the change needs makes this fail; closed at once. A holder that lets go within
  // about a second (a scanner, say) is waited for, as MoveIntoPlace waits.
  const DWORD wanted = access == ChangeAccess::kWrite ? GENERIC_WRITE : DELETE;
  constexpr DWORD kWaitsMs[] = {5, 10, 20, 40, 80, 160, 320, 500};
  return RetryWhileHeld(
      kWaitsMs,
      [&] {
        const HANDLE handle = CreateFileW(
            systemPath.c_str(), wanted, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
          CloseHandle(handle);
          return true;
        }
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
      },
      [](DWORD error) {
        return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
      });
}

std::uint64_t LinkCount(std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(HandleOf(file), &info) != 0 ? info.nNumberOfLinks : 0;
}

bool NamesOpenFile(const char* path, std::FILE* file) {
  // The name is looked at as it stands: a link there is not the file it leads to.
  const std::wstring systemPath = SystemPath(path);
  if (systemPath.empty() || NamesDevice(systemPath)) return false;
  const HANDLE named = CreateFileW(systemPath.c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return false;
  FileIdentity atPath, open;
  const bool same =
      IdentityOfOpen(named, atPath) && IdentityOfOpen(HandleOf(file), open) && atPath == open;
  CloseHandle(named);
  return same;
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

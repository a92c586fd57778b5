#include <dirent.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/sendfile.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "interrupt_notice.h"
#include "open_mode.h"
#include "pending_removals.h"
#include "platform/platform.h"

namespace velador::platform {

namespace {

PendingRemovals<char, kMaxRemovalsOnInterrupt, 4096> pendingRemovals;
InterruptNoticeText notice;

// Threads inside a step that must not be cut (see HoldInterrupts). The handler, on whichever
// thread the system picks, waits until none is left before it removes anything.
std::atomic<int> holds{0};

// Set once an interrupt has begun to remove the pending files. The process lives on for a
// moment after the removal, and the other threads with it: a file created then would be left
// behind, so from now on CreateNewFile creates none.
std::atomic<bool> interrupted{false};

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void RemovePendingAndRaise(int signal) {
  interrupted.store(true);
  while (holds.load() > 0) {
  }
  pendingRemovals.RemoveAll([](const char* path) {
    if (unlink(path) != 0) rmdir(path);
  });
  const char* text = notice.Bytes();
  for (std::size_t left = notice.Length(); left > 0;) {
    const ssize_t written = write(STDERR_FILENO, text, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) break;
    text += written;
    left -= static_cast<std::size_t>(written);
  }
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

// Whether `path` still names the file open as `fd` (no one removed or replaced it meanwhile).
bool StillNamedBy(int fd, const char* path) {
  struct stat opened {
  }, named{};
  return fstat(fd, &opened) == 0 && lstat(path, &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// One round of the kernel's copy between two files; 0 when it copied nothing.
std::uint64_t CopyOnce(int from, std::uint64_t fromOffset, int to, std::uint64_t toOffset,
                       std::uint64_t count) {
#if defined(__linux__)
  // Rounds of at most 1 GiB keep every count inside what the calls accept.
  const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(count, 1u << 30));
  off_t in = static_cast<off_t>(fromOffset);
  off_t out = static_cast<off_t>(toOffset);
  ssize_t copied = copy_file_range(from, &in, to, &out, length, 0);
  if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
    // Older systems copy only within one file system; sendfile writes at the file position.
    if (lseek(to, static_cast<off_t>(toOffset), SEEK_SET) < 0) return 0;
    copied = sendfile(to, from, &in, length);
  }
  return copied > 0 ? static_cast<std::uint64_t>(copied) : 0;
#else
  (void)from, (void)fromOffset, (void)to, (void)toOffset, (void)count;
  return 0;
#endif
}

// The folder that holds the last component of `path`, opened so that none of the `linkFree`
// last components but the leaf is followed if it is a link; the leaf's name goes to `leaf`. The
// folders above those resolve as the system resolves them. Not opened, errno set, on failure
// (ELOOP or ENOTDIR where a link stands for a folder). With `linkFree` 0 nothing is opened: the
// "at" calls then take the whole path from the current folder, as the plain calls would.
class ParentFolder {
 public:
  ParentFolder(const char* path, int linkFree) {
    if (linkFree <= 0) {
      // Nothing checked: the whole path resolves from the current folder, as the system's
      // calls without "at" resolve it.
      fd_ = AT_FDCWD;
      leaf_ = path;
      return;
    }
    std::vector<std::string> parts;
    const std::string text = path;
    std::size_t start = 0;
    while (start <= text.size()) {
      const std::size_t end = std::min(text.find('/', start), text.size());
      if (end > start) parts.emplace_back(text, start, end - start);
      start = end + 1;
    }
    if (parts.empty()) {
      errno = ENOENT;
      return;
    }
    leaf_ = parts.back();
    parts.pop_back();
    const std::size_t walked =
        std::min<std::size_t>(parts.size(), static_cast<std::size_t>(std::max(linkFree - 1, 0)));
    std::string above;
    if (text[0] == '/') above.push_back('/');
    for (std::size_t i = 0; i + walked < parts.size(); ++i) {
      above.append(parts[i]);
      above.push_back('/');
    }
    if (above.empty()) above.push_back('.');
    fd_ = open(above.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    for (std::size_t i = parts.size() - walked; i < parts.size() && fd_ >= 0; ++i) {
      const int next =
          openat(fd_, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int saved = errno;
      close(fd_);
      fd_ = next;
      errno = saved;
    }
  }
  ~ParentFolder() {
    if (fd_ >= 0) close(fd_);
  }
  ParentFolder(const ParentFolder&) = delete;
  ParentFolder& operator=(const ParentFolder&) = delete;

  // False when a folder on the way did not open (or was a link); nothing is to be done then.
  bool Opened() const { return fd_ != -1; }
  int Fd() const { return fd_; }
  const char* Leaf() const { return leaf_.c_str(); }

 private:
  int fd_ = -1;
  std::string leaf_;
};

// Opens `path` with `flags`, never waiting on a pipe or a device and, with `linkFree`, never
// through a link; -1 unless what opened is a regular file.
int OpenRegular(const char* path, int flags, int linkFree) {
  flags |= O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  const ParentFolder parent(path, linkFree);
  if (!parent.Opened()) return -1;
  const int fd = openat(parent.Fd(), parent.Leaf(), flags | (linkFree > 0 ? O_NOFOLLOW : 0));
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  // Reads and writes of a regular file wait as usual.
  (void)fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

bool IsTerminal(StandardStream stream) { return isatty(fileno(StandardFile(stream))) != 0; }

bool RunPauseCommand() { return false; }

std::FILE* OpenFile(const char* path, const char* mode, int linkFree) {
  const std::optional<bool> forUpdate = OpensForUpdate(mode);
  if (!forUpdate) return nullptr;
  const bool update = *forUpdate;
  const int fd = OpenRegular(path, update ? O_RDWR : O_RDONLY, linkFree);
  if (fd < 0) return nullptr;
  std::FILE* file = fdopen(fd, update ? "r+b" : "rb");
  if (file == nullptr) close(fd);
  return file;
}

bool RemoveFile(const char* path, int linkFree) {
  const ParentFolder parent(path, linkFree);
  const bool removed = parent.Opened() && unlinkat(parent.Fd(), parent.Leaf(), 0) == 0;
  pendingRemovals.Forget(path);
  return removed;
}

EntryKind KindOf(const char* path) {
  struct stat info {};
  if (lstat(path, &info) != 0) return EntryKind::kNone;
  if (S_ISREG(info.st_mode)) return EntryKind::kFile;
  if (S_ISDIR(info.st_mode)) return EntryKind::kFolder;
  if (S_ISLNK(info.st_mode)) return EntryKind::kLink;
  return EntryKind::kOther;
}

bool IsRegularFile(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

bool IsFolder(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool Exists(const char* path) {
  struct stat info {};
  return lstat(path, &info) == 0;
}

std::optional<FileStamp> StampOf(const char* path) {
  struct stat info {};
  if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  const auto nanoseconds = [](const timespec& time) {
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
  };
  FileStamp stamp;
  stamp.size = static_cast<std::uint64_t>(info.st_size);
  stamp.modifiedNs = nanoseconds(info.st_mtim);
  stamp.changedNs = nanoseconds(info.st_ctim);
  stamp.volume = static_cast<std::uint64_t>(info.st_dev);
  stamp.index = static_cast<std::uint64_t>(info.st_ino);
  return stamp;
}

std::optional<std::string> UserCacheFolder() {
  const char* cache = std::getenv("XDG_CACHE_HOME");
  if (cache != nullptr && cache[0] == '/') return std::string(cache);
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return std::string(home) + "/.cache";
  return std::nullopt;
}

bool SameFile(const char* first, const char* second) {
  struct stat a {
  }, b{};
  if (stat(first, &a) != 0 || stat(second, &b) != 0) return false;
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void OpenMissingStandardStreams() {
  for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
    if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
    // The lowest free number: this one, as every lower one is open by now.
    const int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != descriptor) {
      (void)dup2(opened, descriptor);
      close(opened);
    }
  }
}

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 1);
  mallopt(M_MMAP_THRESHOLD, 16 << 20);
  mallopt(M_TRIM_THRESHOLD, 64 << 20);
#endif
}

void InstallInterruptCleanup() {
  static const bool installed = [] {
    struct sigaction action {};
    action.sa_handler = RemovePendingAndRaise;
    sigemptyset(&action.sa_mask);
    for (int signal : kInterrupts) sigaction(signal, &action, nullptr);
    // A write past a file-size limit then fails like any other write, and the run cleans up
    // and says so, instead of ending at once and leaving its temporary files behind.
    std::signal(SIGXFSZ, SIG_IGN);
    return true;
  }();
  (void)installed;
}

std::FILE* CreateNewFile(const char* path, int linkFree) {
  // Created and registered as one step: an interrupt comes before or after both. The hold is
  // counted before `interrupted` is read, and the handler sets it before it reads the holds, so
  // either this sees the interrupt and creates nothing, or the handler waits for the file.
  HoldInterrupts();
  if (interrupted.load()) {
    ReleaseInterrupts();
    errno = EINTR;
    return nullptr;
  }
  // Locked for as long as it is open, which tells every other process that its maker is alive
  // (see RemoveIfAbandoned). Another process that locks it in the instant between the creation
  // and the lock takes it for abandoned and removes it: the name is then free again, and the
  // file is made anew.
  std::FILE* file = nullptr;
  for (int attempt = 0; attempt < 8 && file == nullptr; ++attempt) {
    constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
    const ParentFolder parent(path, linkFree);
    const int fd = parent.Opened() ? openat(parent.Fd(), parent.Leaf(), kFlags, 0666) : -1;
    if (fd < 0) break;
    if (flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamedBy(fd, path)) {
      file = fdopen(fd, "wb");
      if (file == nullptr) unlink(path);
    }
    if (file == nullptr) close(fd);
  }
  // A file no interrupt would remove is not made at all.
  if (file != nullptr && !pendingRemovals.Add(path)) {
    std::fclose(file);
    unlink(path);
    file = nullptr;
    errno = ENOMEM;
  }
  ReleaseInterrupts();
  return file;
}

bool RemoveIfAbandoned(const char* path) {
  const int fd = OpenRegular(path, O_RDONLY | O_NOFOLLOW, 0);
  if (fd < 0) return false;
  // The lock is free only when no process holds the file open as its maker.
  const bool abandoned = flock(fd, LOCK_EX | LOCK_NB) == 0 && StillNamedBy(fd, path);
  const bool removed = abandoned && unlink(path) == 0;
  close(fd);
  return removed;
}

bool RemoveOnInterrupt(const char* path) { return pendingRemovals.Add(path); }

void SetInterruptNotice(std::string_view text) {
  // As in CreateNewFile: either the handler has begun, and reads the text as it stands, or it
  // waits for this hold to end.
  HoldInterrupts();
  if (!interrupted.load()) notice.Set(text);
  ReleaseInterrupts();
}

void KeepOnInterrupt(const char* path) { pendingRemovals.Forget(path); }

namespace {

// Restored on the last release, so that signals blocked by whoever started the tool stay
// blocked. Holds nest: only the outermost one changes the mask.
thread_local sigset_t maskBeforeHold;
thread_local int holdDepth = 0;

sigset_t InterruptSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : kInterrupts) sigaddset(&signals, signal);
  return signals;
}

}  // namespace

void HoldInterrupts() {
  if (holdDepth++ == 0) {
    const sigset_t signals = InterruptSignals();
    (void)pthread_sigmask(SIG_BLOCK, &signals, &maskBeforeHold);
  }
  holds.fetch_add(1);
}

void ReleaseInterrupts() {
  holds.fetch_sub(1);
  // A signal that arrived meanwhile is delivered here.
  if (--holdDepth == 0) (void)pthread_sigmask(SIG_SETMASK, &maskBeforeHold, nullptr);
}

std::optional<std::vector<std::string>> FolderEntries(const char* path, int linkFree) {
  const ParentFolder parent(path, linkFree);
  const int fd = parent.Opened()
                     ? openat(parent.Fd(), parent.Leaf(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC | (linkFree > 0 ? O_NOFOLLOW : 0))
                     : -1;
  DIR* folder = fd >= 0 ? fdopendir(fd) : nullptr;
  if (folder == nullptr) {
    if (fd >= 0) close(fd);
    return std::nullopt;
  }
  std::vector<std::string> names;
  errno = 0;
  while (const dirent* entry = readdir(folder)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  const bool complete = errno == 0;
  closedir(folder);
  if (!complete) return std::nullopt;
  return names;
}

void KeepInterruptsOffThisThread() {
  const sigset_t signals = InterruptSignals();
  (void)pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool MoveIntoPlace(const char* from, const char* to, int linkFree) {
  // Without `linkFree`, both names resolve from the current folder as the system resolves them.
  const ParentFolder fromFolder(from, linkFree);
  const ParentFolder toFolder(to, linkFree);
  if (!fromFolder.Opened() || !toFolder.Opened()) return false;
  const int fromAt = fromFolder.Fd();
  const char* fromName = fromFolder.Leaf();
  const int toAt = toFolder.Fd();
  const char* toName = toFolder.Leaf();
  struct stat earlier {};
  if (fstatat(toAt, toName, &earlier, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(earlier.st_mode)) {
    // Best effort: a result that cannot take the old bits still replaces the old file. Never
    // through a link, which would change the bits of whatever it leads to.
    if (fchmodat(fromAt, fromName, earlier.st_mode & 07777, AT_SYMLINK_NOFOLLOW) != 0) {
      errno = 0;
    }
  }
  const int renamed = renameat(fromAt, fromName, toAt, toName);
  if (renamed != 0) return false;
  pendingRemovals.Forget(from);  // the name now belongs to a finished file
  return true;
}

bool SyncFolder(const char* folder) {
  const int fd = open(*folder == '\0' ? "." : folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder the user may write to but not read cannot be opened to sync it: nothing to do.
  if (fd < 0) return true;
  int result;
  do {
    result = fsync(fd);
  } while (result != 0 && errno == EINTR);
  // Some file systems keep no folder record of their own to sync and refuse the call.
  const bool synced = result == 0 || errno == EINVAL || errno == EROFS || errno == ENOTSUP;
  close(fd);
  return synced;
}

std::uint64_t CopyInSystem(std::FILE* from, std::uint64_t fromOffset, std::FILE* to,
                           std::uint64_t toOffset, std::uint64_t count) {
  if (fromOffset > static_cast<std::uint64_t>(INT64_MAX) ||
      toOffset > static_cast<std::uint64_t>(INT64_MAX)) {
    return 0;
  }
  std::uint64_t copied = 0;
  while (copied < count) {
    const std::uint64_t round =
        CopyOnce(fileno(from), fromOffset + copied, fileno(to), toOffset + copied, count - copied);
    if (round == 0) break;
    copied += round;
  }
  return copied;
}

bool FlushToDisk(std::FILE* file) { return fsync(fileno(file)) == 0; }

void StartWriteBack(std::FILE* file, std::uint64_t offset, std::uint64_t length) {
#if defined(__linux__)
  (void)sync_file_range(fileno(file), static_cast<off_t>(offset), static_cast<off_t>(length),
                        SYNC_FILE_RANGE_WRITE);
#else
  (void)file, (void)offset, (void)length;
#endif
}

std::size_t ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  const int fd = fileno(file);
  std::size_t done = 0;
  while (done < count && offset + done <= static_cast<std::uint64_t>(INT64_MAX)) {
    const ssize_t read = pread(fd, data + done, count - done, static_cast<off_t>(offset + done));
    if (read < 0 && errno == EINTR) continue;
    if (read <= 0) break;
    done += static_cast<std::size_t>(read);
  }
  return done;
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

bool MayChange(const char*, ChangeAccess) { return true; }

std::uint64_t LinkCount(std::FILE* file) {
  struct stat info {};
  return fstat(fileno(file), &info) == 0 ? static_cast<std::uint64_t>(info.st_nlink) : 0;
}

bool NamesOpenFile(const char* path, std::FILE* file) { return StillNamedBy(fileno(file), path); }

bool LockExclusive(std::FILE* file) {
  int result;
  do {
    result = flock(fileno(file), LOCK_EX);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool LockShared(std::FILE* file) {
  int result;
  do {
    result = flock(fileno(file), LOCK_SH);
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

bool TryLockExclusive(std::FILE* file) { return flock(fileno(file), LOCK_EX | LOCK_NB) == 0; }

void Unlock(std::FILE* file) { (void)flock(fileno(file), LOCK_UN); }

}  // namespace velador::platform

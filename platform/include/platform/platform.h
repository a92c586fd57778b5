#pragma once

// The few services whose system calls differ between Windows and the POSIX systems. Paths are
// narrow strings as the user gave them on the command line (on Windows, in the ANSI code page),
// relative to the current folder or absolute, and of any length the system's file names allow:
// on Windows also past the 260 characters of its narrow calls. Each names the file the
// system's own rules make of it (on Windows: "/" or "\" between names, letters of either case,
// no trailing blanks or dots).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velador::platform {

enum class StandardStream { kInput, kOutput, kError };

// The C library's stream for `stream`.
std::FILE* StandardFile(StandardStream stream);

// True when the stream is a terminal (a console window on Windows), not a file or a pipe.
bool IsTerminal(StandardStream stream);

// Where the system has a command of its own that keeps the console open until a key is pressed
// (the command interpreter's "Pause" on Windows), runs it and answers true; elsewhere answers
// false at once.
bool RunPauseCommand();

// Waits until a line (the Enter key) or the end of standard input arrives.
void WaitForEnter();

// `linkFree`, where a call takes it: how many of the last components of `path` must be what
// they are, never a symbolic link (on Windows, never a reparse point), checked as the call goes
// so that swapping one for a link meanwhile fails the call. A disc image may come from anyone:
// its files ("img/ADV_OBJ/a.js", "img/AACS/T") are opened with kImageFile, its folders
// ("img/ADV_OBJ") with kImageFolder, so that no name inside an image reaches outside it; the
// folders above those are the user's and resolve as the system resolves them. 0 follows every
// link.
inline constexpr int kImageFile = 2;
inline constexpr int kImageFolder = 1;

// Opens an existing regular file as std::fopen does with `mode` ("rb" or "r+b"); null on
// failure. Never waits: a pipe, a device or a folder at `path` is refused at once, and what was
// opened is checked to be a regular file. Every file the tool opens by name goes through here,
// so that the system's path rules apply alike.
std::FILE* OpenFile(const char* path, const char* mode, int linkFree = 0);

// Removes the file at `path`, and drops it from the files an interrupt removes; false when
// nothing was removed. A link at `path` is removed itself, never what it leads to.
bool RemoveFile(const char* path, int linkFree = 0);

// What a change is about to do to an existing file: write into it, or remove or replace it.
enum class ChangeAccess : std::uint8_t { kWrite, kRemove };

// False when another program holds the file at `path` open in a way that would make the change
// fail (on Windows, a viewer or a scanner that opened it without sharing that access); true
// otherwise, and when nothing stands at `path`. Nothing is kept open: a change that must not
// fail halfway asks this of every file it touches before its point of no return. Systems
// where an open file never keeps another process from writing, removing or replacing it
// answer true.
bool MayChange(const char* path, ChangeAccess access);

// What stands at `path` itself, a link not followed.
enum class EntryKind : std::uint8_t { kNone, kFile, kFolder, kLink, kOther };
EntryKind KindOf(const char* path);

// True when `path` names an existing regular file (links followed).
bool IsRegularFile(const char* path);

// True when `path` names an existing folder (links followed).
bool IsFolder(const char* path);

// The names of the entries of the folder at `path` (neither "." nor ".."), in the narrow form
// paths take (on Windows, the ANSI code page), in no particular order; none when the folder
// cannot be read. A name the ANSI code page cannot spell comes back with "?" in its place and
// opens as no file.
std::optional<std::vector<std::string>> FolderEntries(const char* path, int linkFree = 0);

// True when something (a file, folder, link, even a dangling one) stands at `path`.
bool Exists(const char* path);

// What tells one state of a file from another without reading it: a write to the file changes
// its size or its times, and a file put in its place under the same name has another identity.
// The status-change time moves on with every write and every change of the other fields, and
// no program can set it back, so a file whose stamp is the same was not written meanwhile, short
// of one written within the times' own granularity (see a caller's racy window).
struct FileStamp {
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // since 1970, in nanoseconds
  std::int64_t changedNs = 0;   // the status change (POSIX ctime; the Windows change time)
  std::uint64_t volume = 0;     // device (POSIX) or volume serial number (Windows)
  std::uint64_t index = 0;      // inode (POSIX) or file index (Windows)
  friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

// The stamp of the regular file at `path`, a link not followed; none for anything else, when
// the system answers nothing, or (Windows) on a file system that keeps no change time.
std::optional<FileStamp> StampOf(const char* path);

// The folder the user's programs keep their caches in: $XDG_CACHE_HOME, else $HOME/.cache; on
// Windows %LOCALAPPDATA%. None when the environment names none (relative names count as none).
std::optional<std::string> UserCacheFolder();

// True when both paths name one existing file, however they are spelt: relative or absolute,
// through links, or as two hard links of one file.
bool SameFile(const char* first, const char* second);

// Opens the null device on each of the standard descriptors 0, 1 and 2 that is closed, so that
// no file the program opens afterwards is given one of those numbers and receives what the
// program writes to a standard stream (a report in a disc image's table, say). For a program's
// start-up, before it opens any file. On Windows the C runtime keeps its descriptors 0 to 2 for
// the standard streams even when the process was started without such a handle (writes to it
// then fail), so no file can take their place there and this does nothing.
void OpenMissingStandardStreams();

// Makes an interrupt (Ctrl-C, a request to terminate, a hang-up; on Windows a console control
// event) remove the files registered for removal (see RemoveOnInterrupt) before it ends the
// process (on POSIX by the signal's default action; on Windows with status 130, as a POSIX shell
// reports an interrupted program, never 0), and, on POSIX, makes a write past the file-size limit
// fail like any other write instead of ending the process (SIGXFSZ is ignored). For a program to
// call once at start-up, before it creates any file; further calls do nothing. The library never
// installs this itself, so that a program linking it keeps the signal handling it chose: without
// it, files stay registered and an interrupt ends the process as the system's default does, leaving
// them.
void InstallInterruptCleanup();

// Has the C library keep the memory the program frees for its next allocations, instead of
// handing it back to the system and mapping it afresh: the pipelines take a ring of chunks for
// each file they stream, and on a virtual machine touching a fresh page costs more than reading
// the bytes put in it. One heap for every thread, blocks up to 16 MiB taken from it, and up to
// 64 MiB of freed memory kept. For a program to call once at start-up, before any thread is
// started; where the C library offers no such setting (Windows, other C libraries) it does
// nothing. The library never calls it itself.
void KeepFreedMemoryForReuse();

// What an interrupt says on its way out, once InstallInterruptCleanup has run: `text` is written
// to the standard error as it stands, after the registered files are removed and before the
// process ends, so that whoever pressed Ctrl-C learns what state the run left. Any thread may set
// it at any moment; the text set last before the interrupt is the one written, whole (a text set
// inside a step that holds interrupts is true of what that step did). At most
// kMaxInterruptNotice bytes are kept; "" says nothing, as before the first call.
inline constexpr std::size_t kMaxInterruptNotice = 4096;
void SetInterruptNotice(std::string_view text);

// Creates `path` and opens it for writing in binary mode. Fails, touching nothing, when
// anything already stands at `path`. Null on failure. A file made here is at once among the
// files an interrupt removes (see RemoveOnInterrupt), until it is removed with RemoveFile or
// renamed with MoveIntoPlace: once InstallInterruptCleanup has run, no interrupt leaves it
// behind, whatever moment it comes. Once an interrupt has begun to remove the registered files,
// no file is created any more (null), so that none appears after the removal.
std::FILE* CreateNewFile(const char* path, int linkFree = 0);

// Removes the file at `path` if no process holds it open as its maker: a file made by
// CreateNewFile is held so, on every system, until it is closed, so that what a run killed
// outright left behind can be told from what a live run is still writing. True when it was
// removed; false when it is in use, is gone already, or could not be removed. Never waits and
// never follows a link: whatever else stands under such a name is left alone.
bool RemoveIfAbandoned(const char* path);

// While a path is registered, an interrupt removes that file before the process ends (once
// InstallInterruptCleanup has run), so that a half-written temporary file is not left among the
// user's files (say, in a disc image's ADV_OBJ folder). Any number of paths at once, registered
// and dropped from any thread (places come kMaxRemovalsOnInterrupt at a time, more made as they
// are needed); false, registering nothing, only when the path is too long or no memory is left,
// which CreateNewFile reports by creating nothing. Files made by CreateNewFile can be removed
// this way while they are still open. A folder may be registered too: it is removed once the
// files in it that were registered are gone, if nothing else is left in it.
inline constexpr int kMaxRemovalsOnInterrupt = 8;
bool RemoveOnInterrupt(const char* path);

// Drops `path` from the files an interrupt removes (it was renamed into place or removed).
void KeepOnInterrupt(const char* path);

// Between HoldInterrupts and ReleaseInterrupts an interrupt waits: a step that must not be cut
// in the middle (creating a file and registering it for removal, adding entries to a shared
// table, renaming the file that names them, putting the table back) runs to its end, and the
// interrupt then takes effect as usual. Any thread may hold; holds may overlap.
void HoldInterrupts();
void ReleaseInterrupts();

// Interrupts are never delivered to the calling thread from now on, nor to the threads it
// starts afterwards: for threads that work beside the main one, so that an interrupt always
// arrives on the main thread and waits while that thread holds interrupts, however many threads
// run. Nothing to do on Windows, where HoldInterrupts holds them for the whole process.
void KeepInterruptsOffThisThread();

// Puts the file `from` in the place of `to` in one step, replacing an earlier `to` (on POSIX the
// new file takes over the earlier one's permission bits), and drops `from` from the files an
// interrupt removes. On failure `to` is left as it was. Where the system refuses to replace a
// file another process holds open (Windows), it waits up to about two seconds for the holder to
// let go before it fails. A link at `to` is replaced itself; `linkFree` applies to both paths.
bool MoveIntoPlace(const char* from, const char* to, int linkFree = 0);

// Puts the folder's own record of its entries on the disk, so that a file just renamed into it
// is found there after a power failure. False only when the system reports that it failed; where
// the system keeps no such record apart or offers no way to sync it, there is nothing to do. On
// Windows MoveIntoPlace already writes the rename through, and this answers true.
bool SyncFolder(const char* folder);

// Copies up to `count` bytes from offset `fromOffset` of `from` to offset `toOffset` of `to` inside
// the system, without passing them through the process's memory. `to` must have been flushed, and
// must be positioned again before it is written through the stream. Answers how many bytes were
// copied, 0 when none were: at the end of `from`, where the system offers no such copy for these
// files, and on any failure. The caller then copies the rest through memory, which tells a failed
// read from a failed write.
std::uint64_t CopyInSystem(std::FILE* from, std::uint64_t fromOffset, std::FILE* to,
                           std::uint64_t toOffset, std::uint64_t count);

// Asks the system to put what was written to the open (flushed) file on the disk, so that a
// file renamed into place afterwards cannot turn up empty after a power failure.
bool FlushToDisk(std::FILE* file);

// Asks the system to start writing `length` bytes of the open (flushed) file from `offset` on to
// the disk, without waiting for them, so that a later FlushToDisk has little left to wait for.
// Does nothing where the system offers no such call.
void StartWriteBack(std::FILE* file, std::uint64_t offset, std::uint64_t length);

// Reads up to `count` bytes from offset `offset` of the open file in one call of the system's
// own (no seek, no stream buffer), as many calls as it takes; answers how many were read, fewer
// only at the end of the file or on a failure. Several threads may read one file at once.
std::size_t ReadAt(std::FILE* file, std::uint64_t offset, std::uint8_t* data, std::size_t count);

// 64-bit positioning and length of an open stream (a `long` is 32 bits on Windows).
bool Seek(std::FILE* file, std::uint64_t offset);
std::optional<std::uint64_t> FileSize(std::FILE* file);

// Cuts an open file (flushed by the caller) to `length` bytes.
bool Truncate(std::FILE* file, std::uint64_t length);

// How many names (hard links) the open file has; 0 when the system does not say.
std::uint64_t LinkCount(std::FILE* file);

// True when `path`, as it stands now, names the very file open as `file`: not when the name
// was given to another file since, nor when a link at `path` leads to it.
bool NamesOpenFile(const char* path, std::FILE* file);

// Takes an exclusive lock on the open file, waiting until other processes release theirs. The
// lock is advisory: it keeps out others that take it too, never plain reads or writes. It ends
// with Unlock or when the file is closed.
bool LockExclusive(std::FILE* file);
// A shared lock: any number of holders at once, none while another holds the exclusive one.
bool LockShared(std::FILE* file);
// As LockExclusive, but answers false at once when another holds a lock on the file.
bool TryLockExclusive(std::FILE* file);
void Unlock(std::FILE* file);

}  // namespace velador::platform

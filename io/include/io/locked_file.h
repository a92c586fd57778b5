#pragma once

// A shared file that several runs update in turn, such as a disc image's content hash table.
//
// Such a file may have other names: authors keep snapshots of an image with hard links. A write
// in place would change every one of them, so an updater first puts a copy of the file in its
// place under the name it updates (ReplaceWithOwnCopy), and the other names keep the file as it
// was.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "io/checked_file.h"

namespace velador {

// Opens the regular file at `path` for updating and holds an exclusive lock on it until the
// object is destroyed, so that runs updating the same file never interleave. The lock is one
// that other updaters take too; plain readers are never blocked by it. Writes are unbuffered:
// a failed write is known at once, and nothing reaches the file after the lock is released.
//
// The lock is on the file, not on its name: a run that locked a file the name no longer names
// (another run gave the name a copy meanwhile) lets it go and locks what the name holds now.
class LockedFile {
 public:
  // With `wait` false the lock is taken only if no one holds it now. `linkFree` as in
  // platform::OpenFile. With `ownCopy`, a file that has other names is first replaced at `path`
  // by a copy of its own (see ReplaceWithOwnCopy), so that writes through this object change
  // no other name's bytes; a copy that cannot be made leaves the object unlocked.
  explicit LockedFile(const std::string& path, bool wait = true, int linkFree = 0,
                      bool ownCopy = false);
  ~LockedFile();
  LockedFile(const LockedFile&) = delete;
  LockedFile& operator=(const LockedFile&) = delete;

  // False when the file did not open or the lock was not granted; nothing else then works.
  bool IsLocked() const { return locked_; }

  std::optional<std::uint64_t> Size();
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count);
  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count);
  bool Sync();  // puts what was written on the disk
  bool Truncate(std::uint64_t length);

 private:
  std::string path_;
  UniqueFile file_;
  bool locked_ = false;
};

// When the file open as `file` at `path` (the caller keeps others from changing it) has other
// names, puts a copy of it in its place: a new file with the same bytes, written and put on the
// disk beside it, renamed over `path`, the folder's record synced. Other names keep the file as
// it was; what `path` holds reads the same before, during and after. True at once for a file
// with no other name. False when the copy could not be put in place: it is then gone, and
// `path` names the copy or the file, which hold the same bytes.
bool ReplaceWithOwnCopy(const std::string& path, std::FILE* file, int linkFree);

// An existing regular file opened to change bytes in place (a container's trailer, a record's
// seal byte), reached without a link within its `linkFree` last components (as in
// platform::OpenFile). With `ownCopy`, a file that has other names (a snapshot made with hard
// links) is first given a name of its own (see ReplaceWithOwnCopy), so that the change reaches
// no other name's file. Every call answers whether it succeeded; a write is flushed to the
// system before it returns, and Sync puts it on the disk.
class PatchedFile {
 public:
  PatchedFile(const std::string& path, int linkFree, bool ownCopy = false);

  // False when the file did not open (or did not get a name of its own): nothing else works.
  bool IsOpen() const { return file_ != nullptr; }

  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count);

  bool Sync();

 private:
  const std::string path_;
  UniqueFile file_;
};

// Puts the files at `paths` on the disk together: the writing out of each of a group is started
// before the first of them is waited for, so that the disk works on all of them at once and a
// run of many files waits about as long as for one large file, not once per file. Each file is
// reached as PatchedFile reaches it. False when one did not open or could not be put on the disk
// (a full disk shows here).
bool SyncFilesToDisk(const std::vector<std::string>& paths, int linkFree);

// While an object lives, interrupts (Ctrl-C, a request to terminate) wait, so that a step on a
// shared file that must not be cut in the middle runs to its end; the interrupt then takes
// effect as usual. Made and destroyed on the one thread that runs while it lives.
class InterruptsHeld {
 public:
  InterruptsHeld();
  ~InterruptsHeld();
  InterruptsHeld(const InterruptsHeld&) = delete;
  InterruptsHeld& operator=(const InterruptsHeld&) = delete;
};

}  // namespace velador

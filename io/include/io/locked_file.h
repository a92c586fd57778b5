#pragma once

// A shared file that several runs update in turn, such as a disc image's content hash table.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "io/checked_file.h"

namespace velador {

// Opens the regular file at `path` for updating and holds an exclusive lock on it until the
// object is destroyed, so that runs updating the same file never interleave. The lock is one
// that other updaters take too; plain readers are never blocked by it. Writes are unbuffered:
// a failed write is known at once, and nothing reaches the file after the lock is released.
class LockedFile {
 public:
  // With `wait` false the lock is taken only if no one holds it now. `linkFree` as in
  // platform::OpenFile.
  explicit LockedFile(const std::string& path, bool wait = true, int linkFree = 0);
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

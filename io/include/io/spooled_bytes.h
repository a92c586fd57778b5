#pragma once

// Bytes that a run collects in order and reads back later, such as the digests of the units of
// a long file, with a bound on the memory they take whatever their number.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "io/checked_file.h"

namespace velador {

// Keeps what is appended in memory up to `memoryBound` bytes; past that, everything goes to a
// hidden temporary file (".velador-XXXXXXXX.tmp") in `folder`, which is removed when the object
// goes and when the run is interrupted. Appending and reading back may happen on different
// threads only when something orders them, such as joining the appending thread.
class SpooledBytes {
 public:
  SpooledBytes(std::string folder, std::size_t memoryBound);
  ~SpooledBytes();
  SpooledBytes(const SpooledBytes&) = delete;
  SpooledBytes& operator=(const SpooledBytes&) = delete;

  void Append(const std::uint8_t* data, std::size_t count);  // throws OutputFailure

  std::uint64_t Size() const { return size_; }

  // Copies `count` appended bytes from `offset` on into `data`. The run's own file failing to
  // give back what it was given means the result cannot be completed: OutputFailure.
  void ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count);

  // True once the bytes went to the temporary file.
  bool Spilled() const { return !spoolPath_.empty(); }

 private:
  void Spill();

  std::string folder_;
  std::size_t memoryBound_;
  std::vector<std::uint8_t> memory_;
  std::uint64_t size_ = 0;
  std::string spoolPath_;
  std::FILE* writer_ = nullptr;
  std::FILE* reader_ = nullptr;
};

}  // namespace velador

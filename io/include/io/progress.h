#pragma once

// How far the reading of input has come. The caller of an operation creates a ByteCounter and
// hands it down; every byte read through an InputFile given that counter is added to it, so
// that another thread can show the progress of a long operation without the operation knowing.
// Counting costs one relaxed atomic addition per read; it never orders or slows other memory
// accesses.

#include <atomic>
#include <cstdint>

namespace velador {

class ByteCounter {
 public:
  // Every count added here is added to `passOn` too, when given: a part of an operation can
  // then be counted apart (to tell how much of it was read) while the whole still grows.
  explicit ByteCounter(ByteCounter* passOn = nullptr) : passOn_(passOn) {}

  // Adds `count` bytes; safe from any thread.
  void Add(std::uint64_t count) {
    bytes_.fetch_add(count, std::memory_order_relaxed);
    if (passOn_ != nullptr) passOn_->Add(count);
  }

  // The bytes counted so far. The count only grows: a watcher measures a stretch of an
  // operation as the difference between two readings.
  std::uint64_t Bytes() const { return bytes_.load(std::memory_order_relaxed); }

 private:
  ByteCounter* const passOn_;
  std::atomic<std::uint64_t> bytes_{0};
};

}  // namespace velador

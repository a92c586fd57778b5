#pragma once

// How far the reading of input has come: every byte an InputFile reads is counted here, so that
// another thread can show the progress of a long operation without the operation knowing.
// Counting costs one relaxed atomic addition per read; it never orders or slows other memory
// accesses.

#include <atomic>
#include <cstdint>

namespace velador::progress {

namespace detail {
inline std::atomic<std::uint64_t> inputBytesRead{0};
}  // namespace detail

// Adds `count` bytes to the process-wide count; safe from any thread.
inline void CountInputBytes(std::uint64_t count) {
  detail::inputBytesRead.fetch_add(count, std::memory_order_relaxed);
}

// Input bytes read by the whole process so far. The count only grows: a watcher measures an
// operation as the difference between two readings.
inline std::uint64_t InputBytesRead() {
  return detail::inputBytesRead.load(std::memory_order_relaxed);
}

}  // namespace velador::progress

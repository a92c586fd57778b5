#pragma once

// The files an interrupt must remove, kept so that a signal handler (POSIX) or the console's
// control thread (Windows) can walk them while other threads add and drop paths. Internal to
// the platform layer.

#include <atomic>
#include <cstddef>
#include <string>

namespace velador::platform {

// Paths are strings of `Char`: the system's own form, so that the handler only removes.
template <class Char, std::size_t kSlots, std::size_t kPathLength>
class PendingRemovals {
  using Traits = std::char_traits<Char>;

 public:
  // Lock-free atomics are the only shared state a signal handler may touch.
  static_assert(std::atomic<int>::is_always_lock_free);

  // False, registering nothing, when `path` is too long or every slot is taken.
  bool Add(const Char* path) {
    if (path == nullptr || Traits::length(path) >= kPathLength) return false;
    for (Slot& slot : slots_) {
      int expected = kFree;
      if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
      Traits::copy(slot.path, path, Traits::length(path) + 1);
      slot.state.store(kArmed, std::memory_order_release);
      return true;
    }
    return false;
  }

  // Drops `path`; only the thread that added a path drops it.
  void Forget(const Char* path) {
    if (path == nullptr) return;
    const std::size_t length = Traits::length(path) + 1;
    for (Slot& slot : slots_) {
      if (slot.state.load(std::memory_order_acquire) == kArmed && length <= kPathLength &&
          Traits::compare(slot.path, path, length) == 0) {
        slot.state.store(kFree, std::memory_order_release);
        return;
      }
    }
  }

  // Calls remove(path) for every armed path; safe inside a signal handler when `remove` is.
  template <class Remove>
  void RemoveAll(Remove remove) {
    for (Slot& slot : slots_) {
      if (slot.state.load(std::memory_order_acquire) == kArmed) remove(slot.path);
    }
  }

 private:
  enum : int { kFree, kFilling, kArmed };
  struct Slot {
    std::atomic<int> state{kFree};
    Char path[kPathLength];
  };
  Slot slots_[kSlots];
};

}  // namespace velador::platform

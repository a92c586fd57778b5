#pragma once

// The files an interrupt must remove, kept so that a signal handler (POSIX) or the console's
// control thread (Windows) can walk them while other threads add and drop paths. Internal to
// the platform layer.

#include <atomic>
#include <cstddef>
#include <cstring>

namespace velador::platform {

template <std::size_t kSlots, std::size_t kPathLength>
class PendingRemovals {
 public:
  // Lock-free atomics are the only shared state a signal handler may touch.
  static_assert(std::atomic<int>::is_always_lock_free);

  // False, registering nothing, when `path` is too long or every slot is taken.
  bool Add(const char* path) {
    if (path == nullptr || std::strlen(path) >= kPathLength) return false;
    for (Slot& slot : slots_) {
      int expected = kFree;
      if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
      std::strcpy(slot.path, path);
      slot.state.store(kArmed, std::memory_order_release);
      return true;
    }
    return false;
  }

  // Drops `path`; only the thread that added a path drops it.
  void Forget(const char* path) {
    if (path == nullptr) return;
    for (Slot& slot : slots_) {
      if (slot.state.load(std::memory_order_acquire) == kArmed &&
          std::strcmp(slot.path, path) == 0) {
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
    char path[kPathLength];
  };
  Slot slots_[kSlots];
};

}  // namespace velador::platform

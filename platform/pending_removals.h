#pragma once

// The files an interrupt must remove, kept so that a signal handler (POSIX) or the console's
// control thread (Windows) can walk them while other threads add and drop paths. Internal to
// the platform layer.

#include <atomic>
#include <cstddef>
#include <new>
#include <string>

namespace velador::platform {

// Paths are strings of `Char`: the system's own form, so that the handler only removes. Slots
// come in chunks of `kSlots`; when every slot is taken, the thread that registers one more adds
// a chunk, so that there is no bound on how many files are registered at once. Chunks are never
// freed: a handler may be walking them at any moment.
template <class Char, std::size_t kSlots, std::size_t kPathLength>
class PendingRemovals {
  using Traits = std::char_traits<Char>;

 public:
  // Lock-free atomics are the only shared state a signal handler may touch.
  static_assert(std::atomic<int>::is_always_lock_free);
  static_assert(std::atomic<void*>::is_always_lock_free);

  // False, registering nothing, only when `path` is too long or no memory is left for a chunk.
  bool Add(const Char* path) {
    if (path == nullptr || Traits::length(path) >= kPathLength) return false;
    for (Chunk* chunk = &first_;;) {
      for (Slot& slot : chunk->slots) {
        int expected = kFree;
        if (!slot.state.compare_exchange_strong(expected, kFilling)) continue;
        Traits::copy(slot.path, path, Traits::length(path) + 1);
        slot.state.store(kArmed, std::memory_order_release);
        return true;
      }
      chunk = NextOf(*chunk);
      if (chunk == nullptr) return false;
    }
  }

  // Drops `path`; only the thread that added a path drops it.
  void Forget(const Char* path) {
    if (path == nullptr) return;
    const std::size_t length = Traits::length(path) + 1;
    if (length > kPathLength) return;
    for (Chunk* chunk = &first_; chunk != nullptr;
         chunk = chunk->next.load(std::memory_order_acquire)) {
      for (Slot& slot : chunk->slots) {
        if (slot.state.load(std::memory_order_acquire) == kArmed &&
            Traits::compare(slot.path, path, length) == 0) {
          slot.state.store(kFree, std::memory_order_release);
          return;
        }
      }
    }
  }

  // Calls remove(path) for every armed path, in three passes: `remove` takes a file, or a folder
  // once it is empty. Files go in the first pass, then the folders registered; each further pass
  // takes a folder whose sub-folders were registered after it, three levels deep. Safe inside a
  // signal handler when `remove` is.
  template <class Remove>
  void RemoveAll(Remove remove) {
    for (int pass = 0; pass < 3; ++pass) {
      for (Chunk* chunk = &first_; chunk != nullptr;
           chunk = chunk->next.load(std::memory_order_acquire)) {
        for (Slot& slot : chunk->slots) {
          if (slot.state.load(std::memory_order_acquire) == kArmed) remove(slot.path);
        }
      }
    }
  }

 private:
  enum : int { kFree, kFilling, kArmed };
  struct Slot {
    std::atomic<int> state{kFree};
    Char path[kPathLength];
  };
  struct Chunk {
    Slot slots[kSlots];
    std::atomic<Chunk*> next{nullptr};
  };

  // The chunk after `chunk`, made now when there is none yet; null when no memory is left.
  static Chunk* NextOf(Chunk& chunk) {
    Chunk* next = chunk.next.load(std::memory_order_acquire);
    if (next != nullptr) return next;
    Chunk* fresh = new (std::nothrow) Chunk;
    if (fresh == nullptr) return nullptr;
    if (chunk.next.compare_exchange_strong(next, fresh, std::memory_order_acq_rel)) return fresh;
    delete fresh;  // another thread linked one first
    return next;
  }

  Chunk first_;
};

}  // namespace velador::platform

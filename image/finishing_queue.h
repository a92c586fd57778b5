#pragma once

// The ordered pool of a batch (internal to the image library): workers encapsulate files side by
// side, while the steps that complete them (table entries, trailer, rename) run one at a time,
// on one thread, in the order of the files.

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "image/transaction.h"

namespace velador {

// Runs the completing steps of the batch's files on one thread, one at a time, in the order of
// the files: a file's entries get their numbers, go to the table and are kept or put back
// before the next file's step starts, so that a failure of one file never touches another's.
class FinishingQueue {
 public:
  FinishingQueue(std::size_t files, LockedHashTable* table) : slots_(files), table_(table) {}

  // On a worker: hands `step` of file `index` to the serving thread and waits until it ran.
  void RunInTurn(std::size_t index, const std::function<void()>& step) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    slot.step = &step;
    changed_.notify_all();
    changed_.wait(lock, [&] { return slot.ran; });
    if (slot.thrown) std::rethrow_exception(slot.thrown);
  }

  // On a worker: file `index` is done, whether or not it had a step.
  void Done(std::size_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_[index].done = true;
    }
    changed_.notify_all();
  }

  // The entries the step of file `index` kept: first and last, or none.
  std::pair<std::uint32_t, std::uint32_t> EntriesOf(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return {slots_[index].counterBefore + 1, slots_[index].counterAfter};
  }

  // On the serving thread: runs the steps in order; `settled` and then `served` are called with
  // each index once its file is done. From the start of a file's step until `settled` returned,
  // interrupts wait: whatever `settled` records of the file is true whenever an interrupt ends
  // the run, so it must be quick and never block. `served` runs after, interruptible.
  void Serve(const std::function<void(std::size_t)>& settled,
             const std::function<void(std::size_t)>& served) {
    for (std::size_t index = 0; index < slots_.size(); ++index) {
      std::optional<InterruptsHeld> held;
      std::unique_lock<std::mutex> lock(mutex_);
      Slot& slot = slots_[index];
      for (;;) {
        changed_.wait(lock, [&] { return slot.done || (slot.step != nullptr && !slot.ran); });
        if (slot.done) break;
        if (!held) held.emplace();
        lock.unlock();
        RunStep(slot);
        lock.lock();
        slot.ran = true;
        changed_.notify_all();
      }
      lock.unlock();
      if (settled) settled(index);
      held.reset();
      if (served) served(index);
    }
  }

 private:
  struct Slot {
    const std::function<void()>* step = nullptr;
    bool ran = false;
    bool done = false;
    std::exception_ptr thrown;
    std::uint32_t counterBefore = 0;
    std::uint32_t counterAfter = 0;
  };

  // Only the serving thread writes a slot's step results, before it marks the step as run.
  void RunStep(Slot& slot) {
    slot.counterBefore = table_ != nullptr ? table_->Counter() : 0;
    try {
      (*slot.step)();
    } catch (...) {
      slot.thrown = std::current_exception();
    }
    slot.counterAfter = table_ != nullptr ? table_->Counter() : 0;
  }

  std::vector<Slot> slots_;
  LockedHashTable* const table_;
  std::mutex mutex_;
  std::condition_variable changed_;
};

}  // namespace velador

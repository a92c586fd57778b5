#pragma once

// Work on the items of a batch two at a time (internal to the image library): reading and
// checking files is bound by the processor as much as by the disk, so two workers keep both
// busy, while what follows each item (progress, decisions) happens on the calling thread in
// the order of the items.

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace velador {

// Calls `work(i)` for every i below `count` on two worker threads, and `done(i)` on the calling
// thread for each i in order, once its work is over. `work` must not throw; it runs with
// interrupts kept off its thread, so that the calling thread's handler sees them.
inline void RunSideBySide(std::size_t count, const std::function<void(std::size_t)>& work,
                          const std::function<void(std::size_t)>& done) {
  std::mutex mutex;
  std::condition_variable finished;
  std::vector<bool> over(count, false);
  std::size_t next = 0;
  const auto worker = [&] {
    platform::KeepInterruptsOffThisThread();
    for (;;) {
      std::size_t i = 0;
      {
        std::lock_guard<std::mutex> lock(mutex);
        if (next == count) return;
        i = next++;
      }
      work(i);
      {
        std::lock_guard<std::mutex> lock(mutex);
        over[i] = true;
      }
      finished.notify_all();
    }
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < 2; ++i) workers.emplace_back(worker);
  for (std::size_t i = 0; i < count; ++i) {
    std::unique_lock<std::mutex> lock(mutex);
    finished.wait(lock, [&] { return over[i]; });
    lock.unlock();
    if (done) done(i);
  }
  for (std::thread& thread : workers) thread.join();
}

}  // namespace velador

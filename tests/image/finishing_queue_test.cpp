// The ordered pool of a batch: whatever order the workers finish in, the completing steps run
// one at a time, on the serving thread, in the order of the files.

#include "finishing_queue.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace velador {
namespace {

// Workers that reach the queue in the reverse order of their files, some with a step and some
// without, one step throwing: steps and the served callback still come in file order, the
// throw reaches its own worker only.
TEST(FinishingQueue, RunsStepsInFileOrderWhateverOrderTheyArrive) {
  constexpr std::size_t kFiles = 6;
  FinishingQueue queue(kFiles, nullptr);
  const std::thread::id server = std::this_thread::get_id();
  std::vector<std::size_t> stepsRun;
  std::vector<std::size_t> served;
  std::vector<bool> threw(kFiles, false);
  bool stepsOnServer = true;
  std::vector<std::thread> workers;
  for (std::size_t i = kFiles; i-- > 0;) {
    workers.emplace_back([&, i] {
      if (i % 3 != 1) {  // files 1 and 4 have nothing to complete
        const std::function<void()> step = [&, i] {
          stepsOnServer = stepsOnServer && std::this_thread::get_id() == server;
          stepsRun.push_back(i);
          if (i == 2) throw std::runtime_error("step of file 2");
        };
        try {
          queue.RunInTurn(i, step);
        } catch (const std::runtime_error&) {
          threw[i] = true;
        }
      }
      queue.Done(i);
    });
  }
  queue.Serve(nullptr, [&](std::size_t index) { served.push_back(index); });
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(stepsRun, (std::vector<std::size_t>{0, 2, 3, 5}));
  EXPECT_EQ(served, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_TRUE(stepsOnServer);
  EXPECT_EQ(threw, (std::vector<bool>{false, false, true, false, false, false}));
}

}  // namespace
}  // namespace velador

#pragma once

// A fault injector for tests: counts the fault points a run passes and makes a chosen one fail,
// or interrupts the process there.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "io/fault_injection.h"
#include "support/power_cut.h"

namespace velador::testing {

class CountingFaults : public fault_injection::FaultInjector {
 public:
  using Point = fault_injection::Point;
  // kKill ends the process at once, as a kill -9 would: no destructor, no handler, nothing
  // removed or put back. kPowerCut does the same after writing out what the power-cut model
  // given to ModelPowerCut says would survive (for the test to put in place of the tree).
  enum class Action : std::uint8_t { kFail, kInterrupt, kKill, kPowerCut };

  ~CountingFaults() override;

  // Sets this injector and counts the points passed from now on: the n-th fails (n = 0: none
  // does) or, with kInterrupt, raises SIGINT there and lets the point pass.
  void Arm(std::uint64_t failingPoint, Action action = Action::kFail);

  // Stops counting: no injector is set any more.
  void Disarm();

  std::uint64_t PointsPassed() const { return passed_.load(); }
  std::optional<Point> FailedPoint() const;

  // The points passed since Arm, in order (the first thousand).
  std::vector<Point> PointsSeen() const;

  // The point the thread that passed the n-th point (counted from 1) passed just before it,
  // if any: threads interleave their points differently from run to run, a thread's own do not.
  std::optional<Point> PreviousOnItsThread(std::uint64_t n) const;

  // Tells `model` of every sync from now on; with kPowerCut, the chosen point writes the
  // model's survivors into `survivors` and ends the process.
  void ModelPowerCut(PowerCutModel* model, std::filesystem::path survivors);

  // From now on, finds files as a file system that folds letters A to Z would: a path spelt
  // with other letter cases than the entry that stands there names that entry.
  void FoldLetters(bool fold) { foldLetters_ = fold; }

  bool Fails(Point point) override;
  void OnDisk(const std::string& path) override;
  std::string NameOnDisk(const std::string& path) override;

 private:
  static constexpr std::size_t kTraceLength = 1000;
  std::atomic<std::uint64_t> passed_{0};
  std::atomic<std::uint64_t> failing_{0};
  std::atomic<int> failedPoint_{-1};
  std::atomic<Action> action_{Action::kFail};
  std::atomic<std::uint8_t> trace_[kTraceLength] = {};
  std::atomic<std::uint32_t> threadOf_[kTraceLength] = {};
  bool armed_ = false;
  bool foldLetters_ = false;
  PowerCutModel* model_ = nullptr;
  std::filesystem::path survivors_;
};

}  // namespace velador::testing

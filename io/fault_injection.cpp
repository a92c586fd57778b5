#include "io/fault_injection.h"

#include <atomic>
#include <csignal>

namespace velador::fault_injection {

namespace {

std::atomic<bool> armed{false};
std::atomic<std::uint64_t> passed{0};
std::atomic<std::uint64_t> failing{0};
std::atomic<int> failedPoint{-1};
std::atomic<Action> armedAction{Action::kFail};

}  // namespace

bool Fails(Point point) {
  if (!armed.load(std::memory_order_relaxed)) return false;
  const std::uint64_t number = passed.fetch_add(1) + 1;
  if (number != failing.load()) return false;
  failedPoint.store(static_cast<int>(point));
  if (armedAction.load() == Action::kInterrupt) {
    std::raise(SIGINT);
    return false;
  }
  return true;
}

void Arm(std::uint64_t failingPoint, Action action) {
  armedAction.store(action);
  passed.store(0);
  failing.store(failingPoint);
  failedPoint.store(-1);
  armed.store(true);
}

void Disarm() {
  armed.store(false);
}

std::uint64_t PointsPassed() {
  return passed.load();
}

std::optional<Point> FailedPoint() {
  const int point = failedPoint.load();
  if (point < 0) return std::nullopt;
  return static_cast<Point>(point);
}

}  // namespace velador::fault_injection

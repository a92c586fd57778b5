#include "io/fault_injection.h"

#include <algorithm>
#include <atomic>
#include <csignal>

namespace velador::fault_injection {

namespace {

std::atomic<bool> armed{false};
std::atomic<std::uint64_t> passed{0};
std::atomic<std::uint64_t> failing{0};
std::atomic<int> failedPoint{-1};
std::atomic<Action> armedAction{Action::kFail};
constexpr std::size_t kTraceLength = 1000;
std::atomic<std::uint8_t> trace[kTraceLength];

}  // namespace

bool Fails(Point point) {
  if (!armed.load(std::memory_order_relaxed)) return false;
  const std::uint64_t number = passed.fetch_add(1) + 1;
  if (number <= kTraceLength) trace[number - 1].store(static_cast<std::uint8_t>(point));
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

void Disarm() { armed.store(false); }

std::uint64_t PointsPassed() { return passed.load(); }

std::vector<Point> PointsSeen() {
  std::vector<Point> seen;
  const std::uint64_t count = std::min<std::uint64_t>(passed.load(), kTraceLength);
  for (std::uint64_t i = 0; i < count; ++i) seen.push_back(static_cast<Point>(trace[i].load()));
  return seen;
}

std::optional<Point> FailedPoint() {
  const int point = failedPoint.load();
  if (point < 0) return std::nullopt;
  return static_cast<Point>(point);
}

}  // namespace velador::fault_injection

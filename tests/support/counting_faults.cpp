#include "support/counting_faults.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>

namespace velador::testing {

CountingFaults::~CountingFaults() { Disarm(); }

void CountingFaults::Arm(std::uint64_t failingPoint, Action action) {
  action_.store(action);
  passed_.store(0);
  failing_.store(failingPoint);
  failedPoint_.store(-1);
  armed_ = true;
  fault_injection::SetFaultInjector(this);
}

void CountingFaults::Disarm() {
  if (armed_) fault_injection::SetFaultInjector(nullptr);
  armed_ = false;
}

bool CountingFaults::Fails(Point point) {
  const std::uint64_t number = passed_.fetch_add(1) + 1;
  if (number <= kTraceLength) trace_[number - 1].store(static_cast<std::uint8_t>(point));
  if (number != failing_.load()) return false;
  failedPoint_.store(static_cast<int>(point));
  if (action_.load() == Action::kPowerCut && model_ != nullptr) {
    model_->WriteSurvivors(survivors_);
    _exit(137);
  }
  if (action_.load() == Action::kKill) _exit(137);
  if (action_.load() == Action::kInterrupt) {
    std::raise(SIGINT);
    return false;
  }
  return true;
}

void CountingFaults::ModelPowerCut(PowerCutModel* model, std::filesystem::path survivors) {
  model_ = model;
  survivors_ = std::move(survivors);
}

void CountingFaults::OnDisk(const std::string& path) {
  if (model_ != nullptr) model_->OnDisk(path);
}

std::optional<CountingFaults::Point> CountingFaults::FailedPoint() const {
  const int point = failedPoint_.load();
  if (point < 0) return std::nullopt;
  return static_cast<Point>(point);
}

std::vector<CountingFaults::Point> CountingFaults::PointsSeen() const {
  std::vector<Point> seen;
  const std::uint64_t count = std::min<std::uint64_t>(passed_.load(), kTraceLength);
  for (std::uint64_t i = 0; i < count; ++i) seen.push_back(static_cast<Point>(trace_[i].load()));
  return seen;
}

}  // namespace velador::testing

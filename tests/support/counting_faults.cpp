#include "support/counting_faults.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <filesystem>

namespace velador::testing {
namespace {

// A small number for the calling thread, the same for its whole life.
std::uint32_t ThisThreadNumber() {
  static std::atomic<std::uint32_t> next{1};
  thread_local const std::uint32_t number = next.fetch_add(1);
  return number;
}

}  // namespace

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
  if (number <= kTraceLength) {
    trace_[number - 1].store(static_cast<std::uint8_t>(point));
    threadOf_[number - 1].store(ThisThreadNumber());
  }
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

std::string CountingFaults::NameOnDisk(const std::string& path) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (!foldLetters_ || fs::symlink_status(path, error).type() != fs::file_type::not_found) {
    return path;
  }
  const auto folded = [](std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
  };
  const fs::path wanted(path);
  const std::string name = folded(wanted.filename().string());
  for (const auto& entry : fs::directory_iterator(wanted.parent_path(), error)) {
    if (folded(entry.path().filename().string()) == name) return entry.path().string();
  }
  return path;
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

std::optional<CountingFaults::Point> CountingFaults::PreviousOnItsThread(std::uint64_t n) const {
  const std::uint64_t count = std::min<std::uint64_t>(passed_.load(), kTraceLength);
  if (n == 0 || n > count) return std::nullopt;
  const std::uint32_t thread = threadOf_[n - 1].load();
  for (std::uint64_t i = n - 1; i > 0; --i) {
    if (threadOf_[i - 1].load() == thread) return static_cast<Point>(trace_[i - 1].load());
  }
  return std::nullopt;
}

}  // namespace velador::testing

#include "app/progress_line.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <utility>

#include "app/console.h"
#include "app/texts.h"
#include "platform/platform.h"

namespace velador {

namespace {

using Clock = std::chrono::steady_clock;

// `bytes` in tenths of `unit`, rounded to the nearest tenth, without overflow for any count.
std::uint64_t Tenths(std::uint64_t bytes, std::uint64_t unit) {
  return bytes / unit * 10 + ((bytes % unit) * 10 + unit / 2) / unit;
}

unsigned Percent(std::uint64_t done, std::uint64_t total) {
  if (done >= total) return 100;
  return static_cast<unsigned>(static_cast<double>(done) / static_cast<double>(total) * 100);
}

// The byte line of `counter` against `total`, measured from now.
std::function<std::string()> ByteLine(const ByteCounter& counter, std::uint64_t total) {
  return [&counter, total, start = counter.Bytes(), began = Clock::now()] {
    const std::uint64_t done = counter.Bytes() - start;
    const double seconds = std::chrono::duration<double>(Clock::now() - began).count();
    const auto rate = static_cast<std::uint64_t>(seconds > 0 ? done / seconds : 0);
    return FormatProgress(done, total, rate);
  };
}

}  // namespace

std::string FormatByteCount(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " " + std::string(texts::kByteUnits[0]);
  std::size_t unitIndex = 1;
  std::uint64_t unit = 1024;
  std::uint64_t tenths = Tenths(bytes, unit);
  while (tenths >= 10240 && unitIndex + 1 < texts::kByteUnits.size()) {
    ++unitIndex;
    unit *= 1024;
    tenths = Tenths(bytes, unit);
  }
  return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " " +
         std::string(texts::kByteUnits[unitIndex]);
}

std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t bytesPerSecond) {
  if (done > total) done = total;
  char percent[8];
  std::snprintf(percent, sizeof percent, " %3u%%  ", Percent(done, total));
  std::string line(percent);
  line += FormatByteCount(done);
  line += texts::kProgressOf;
  line += FormatByteCount(total);
  line += "  ";
  line += FormatByteCount(bytesPerSecond);
  line += texts::kPerSecond;
  return line;
}

ByteProgress::ByteProgress(const ByteCounter& counter)
    : counter_(counter), start_(counter.Bytes()), began_(Clock::now()) {}

void ByteProgress::Expect(std::uint64_t toRead, std::uint64_t shown) {
  std::lock_guard<std::mutex> lock(mutex_);
  toRead_ += toRead;
  shown_ += shown;
}

void ByteProgress::At(std::string_view name) {
  std::lock_guard<std::mutex> lock(mutex_);
  name_.assign(name);
}

std::string ByteProgress::Line() const {
  std::lock_guard<std::mutex> lock(mutex_);
  const std::uint64_t read = std::min(counter_.Bytes() - start_, toRead_);
  const double share = toRead_ > 0 ? static_cast<double>(read) / static_cast<double>(toRead_) : 1;
  const auto done = static_cast<std::uint64_t>(share * static_cast<double>(shown_));
  const double seconds = std::chrono::duration<double>(Clock::now() - began_).count();
  const auto rate =
      static_cast<std::uint64_t>(seconds > 0 ? static_cast<double>(done) / seconds : 0);
  std::ostringstream line;
  line << FormatProgress(done, shown_, rate);
  if (!name_.empty()) {
    line << "  ";
    Console(line).Name(name_);
  }
  return line.str();
}

void ProgressLine::Draw(std::string_view line) {
  // Blanks cover what a longer earlier line left behind.
  std::string frame(1, '\r');
  frame.append(line);
  if (line.size() < width_) frame.append(width_ - line.size(), ' ');
  width_ = std::max(width_, line.size());
  terminal_ << frame << std::flush;
}

void ProgressLine::Erase() {
  if (width_ == 0) return;
  terminal_ << '\r' << std::string(width_, ' ') << '\r' << std::flush;
  width_ = 0;
}

ProgressWatch::ProgressWatch(std::ostream& terminal, const ByteCounter& counter,
                             std::uint64_t total, std::chrono::milliseconds delay,
                             std::chrono::milliseconds interval)
    : ProgressWatch(terminal, ByteLine(counter, total), delay, interval) {}

ProgressWatch::ProgressWatch(std::ostream& terminal, std::function<std::string()> describe,
                             std::chrono::milliseconds delay, std::chrono::milliseconds interval)
    : line_(terminal), describe_(std::move(describe)), thread_([this, delay, interval] {
        // An interrupt must reach the thread that runs the operation, which may be holding it.
        platform::KeepInterruptsOffThisThread();
        Watch(delay, interval);
      }) {}

ProgressWatch::~ProgressWatch() { Stop(); }

void ProgressWatch::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool ProgressWatch::StoppedBy(Clock::time_point time) {
  std::unique_lock<std::mutex> lock(mutex_);
  return wake_.wait_until(lock, time, [this] { return stopping_; });
}

void ProgressWatch::Watch(std::chrono::milliseconds delay, std::chrono::milliseconds interval) {
  Clock::time_point next = Clock::now() + delay;
  while (!StoppedBy(next)) {
    const Clock::time_point now = Clock::now();
    const std::string line = describe_();
    {
      std::lock_guard<std::mutex> lock(drawing_);
      if (!line.empty()) line_.Draw(line);
    }
    next = now + interval;
  }
  std::lock_guard<std::mutex> lock(drawing_);
  line_.Erase();
}

void ProgressWatch::StepAside(const std::function<void()>& print) {
  std::lock_guard<std::mutex> lock(drawing_);
  line_.Erase();
  print();
}

}  // namespace velador

#pragma once

// The progress of a long operation, shown on a terminal as one line that redraws itself.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>

#include "io/progress.h"

namespace velador {

// A byte count for people: below 1024 in bytes ("1023 B"); from there on in the largest binary
// unit that keeps the value, rounded to one decimal, under 1024 ("1.0 KiB", "1.5 GiB").
std::string FormatByteCount(std::uint64_t bytes);

// "  37%  1.5 GiB / 4.0 GiB  612.0 MiB/s": the whole percent of `total` that `done` is (rounded
// down, so 100% means finished), both counts and the rate. A `done` past `total` counts as
// `total`; a `total` of 0 is finished.
std::string FormatProgress(std::uint64_t done, std::uint64_t total, std::uint64_t bytesPerSecond);

// The bytes of an operation that reads its files one or two at a time, handed from the
// operation's threads to the watch's: "  37%  1.5 GiB / 4.0 GiB  612.0 MiB/s  menu.xml". What
// `counter` gained since the object was made is shown against what the operation said it would
// read, both measured in the bytes the user knows (the files' own sizes, where some are read
// twice); the file named is the one whose work began last. Every call is safe from any thread.
class ByteProgress {
 public:
  explicit ByteProgress(const ByteCounter& counter);

  // The operation will read `toRead` bytes more, which stand for `shown` bytes of its files.
  void Expect(std::uint64_t toRead, std::uint64_t shown);
  void At(std::string_view name);

  // FormatProgress of the bytes so far, the rate since the start, and the file at work.
  std::string Line() const;

 private:
  const ByteCounter& counter_;
  const std::uint64_t start_;
  const std::chrono::steady_clock::time_point began_;
  mutable std::mutex mutex_;
  std::uint64_t toRead_ = 0;
  std::uint64_t shown_ = 0;
  std::string name_;
};

// One line on a terminal, redrawn in place. Only a carriage return and blanks are used, which
// every terminal and the Windows console handle alike, with or without escape sequences.
class ProgressLine {
 public:
  explicit ProgressLine(std::ostream& terminal) : terminal_(terminal) {}

  // Replaces what was drawn before with `line`; the cursor stays at the end of the line.
  void Draw(std::string_view line);

  // Blanks out what was drawn and leaves the cursor at the start of the now empty line. Writes
  // nothing when nothing was drawn.
  void Erase();

 private:
  std::ostream& terminal_;
  std::size_t width_ = 0;  // how many columns the drawn lines have covered
};

// Shows the progress of one operation on `terminal` while the object lives: a thread of its own
// watches `counter`, the bytes the operation reads (io/progress.h), measured from the object's
// birth against `total` (or draws what `describe` returns, called from that thread), and once
// the operation has run for `delay` it draws the line every `interval`. Stop, or the destructor,
// ends the thread and erases the line, so that what follows on the terminal starts on a clean line.
// Nothing is drawn for an operation shorter than `delay`.
class ProgressWatch {
 public:
  static constexpr std::chrono::milliseconds kDelay{1000};
  static constexpr std::chrono::milliseconds kInterval{200};

  ProgressWatch(std::ostream& terminal, const ByteCounter& counter, std::uint64_t total,
                std::chrono::milliseconds delay = kDelay,
                std::chrono::milliseconds interval = kInterval);
  ProgressWatch(std::ostream& terminal, std::function<std::string()> describe,
                std::chrono::milliseconds delay = kDelay,
                std::chrono::milliseconds interval = kInterval);
  ~ProgressWatch();
  ProgressWatch(const ProgressWatch&) = delete;
  ProgressWatch& operator=(const ProgressWatch&) = delete;

  void Stop();

  // Erases the line, runs `print`, which writes to the same terminal through another stream,
  // and lets the line be drawn again at the next interval; so that lines printed while an
  // operation runs never mix with it.
  void StepAside(const std::function<void()>& print);

 private:
  void Watch(std::chrono::milliseconds delay, std::chrono::milliseconds interval);

  // Sleeps until `time` or Stop; true when stopped.
  bool StoppedBy(std::chrono::steady_clock::time_point time);

  std::mutex drawing_;  // the line, between the watching thread and StepAside
  ProgressLine line_;
  const std::function<std::string()> describe_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace velador

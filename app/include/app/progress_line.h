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

// "  30%  fitxer 4 de 10: menu.xml": the file at work, the one after the `done` of `total`
// already done, and the whole percent of files done. `name` reads as Console::Name writes it:
// a control character is escaped, so that a name never breaks or moves the line.
std::string FormatFileProgress(std::uint64_t done, std::uint64_t total, std::string_view name);

// The file at work in an operation that goes file by file, handed from the operation's thread to
// the watch's: At from the one, Line from the other.
class FileProgress {
 public:
  explicit FileProgress(std::uint64_t total) : total_(total) {}

  void At(std::string_view name, std::uint64_t done);

  // FormatFileProgress of the last At; "" before the first.
  std::string Line() const;

 private:
  const std::uint64_t total_;
  mutable std::mutex mutex_;
  std::string name_;
  std::uint64_t done_ = 0;
  bool started_ = false;
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

#pragma once

// The one line an interrupt (Ctrl-C) leaves on standard error, kept true of the run as it goes:
// what state the image is in and which files are done. It is handed to the platform's interrupt
// handling (platform::SetInterruptNotice), which writes it once the run's temporary files are
// gone, just before the process ends with the interrupt's status.

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>

#include "app/console.h"

namespace velador {

class InterruptNotice {
 public:
  // Texts in `encoding`, standard error's.
  explicit InterruptNotice(TextEncoding encoding) : encoding_(encoding) {}
  // An interrupt says nothing any more.
  ~InterruptNotice();
  InterruptNotice(const InterruptNotice&) = delete;
  InterruptNotice& operator=(const InterruptNotice&) = delete;

  // The notice from now on: the program's name and "INTERROMPUT: ", what `say` writes, a line
  // end. Safe from any thread.
  void Say(const std::function<void(Console&)>& say);

  // A progress line up to `width` columns wide may stand on standard error: an interrupt first
  // blanks it out, so that the notice starts on a clean line. Safe from any thread.
  void CoverProgress(std::size_t width);

 private:
  void Publish();  // with mutex_ held

  const TextEncoding encoding_;
  std::mutex mutex_;
  std::string line_;
  std::size_t width_ = 0;
};

// Names for an interrupt's line, cut short once they would make it longer than a notice may be:
// ", ..." then stands for the rest.
class NoticeNameList {
 public:
  explicit NoticeNameList(Console& console) : console_(console) {}
  void Add(const std::string& name);

 private:
  Console& console_;
  std::size_t bytes_ = 0;
  bool first_ = true;
  bool cut_ = false;
};

}  // namespace velador

#pragma once

// The text an interrupt writes on its way out (see SetInterruptNotice). Internal to the platform
// layer.

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string_view>

#include "platform/platform.h"

namespace velador::platform {

// One fixed buffer: the handler reads it only once every hold of interrupts has ended, and a
// text is only ever written under such a hold, so that the two never overlap; the mutex keeps
// two threads that set a text at once apart.
class InterruptNoticeText {
 public:
  // Under a hold of interrupts, and only while no interrupt has begun.
  void Set(std::string_view text) {
    const std::lock_guard<std::mutex> lock(mutex_);
    length_ = std::min(text.size(), kMaxInterruptNotice);
    std::memcpy(bytes_, text.data(), length_);
  }

  // From the handler.
  const char* Bytes() const { return bytes_; }
  std::size_t Length() const { return length_; }

 private:
  std::mutex mutex_;
  char bytes_[kMaxInterruptNotice] = {};
  std::size_t length_ = 0;
};

}  // namespace velador::platform

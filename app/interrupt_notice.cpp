#include "app/interrupt_notice.h"

#include <sstream>

#include "app/texts.h"
#include "platform/platform.h"

namespace velador {

namespace {

// What the names of one notice may take, leaving room for its other words.
constexpr std::size_t kNamesBudget = platform::kMaxInterruptNotice / 2;

}  // namespace

InterruptNotice::~InterruptNotice() { platform::SetInterruptNotice(""); }

void InterruptNotice::Say(const std::function<void(Console&)>& say) {
  std::ostringstream text;
  Console console(text, encoding_);
  console.Text(texts::kInterruptedPrefix);
  say(console);
  console.LineEnds();
  const std::lock_guard<std::mutex> lock(mutex_);
  line_ = text.str();
  Publish();
}

void InterruptNotice::CoverProgress(std::size_t width) {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (width <= width_) return;
  width_ = width;
  Publish();
}

void InterruptNotice::Publish() {
  std::string notice;
  if (width_ > 0) {
    notice = '\r' + std::string(width_, ' ') + '\r';
  }
  notice += line_;
  platform::SetInterruptNotice(notice);
}

void NoticeNameList::Add(const std::string& name) {
  if (cut_) return;
  if (bytes_ + name.size() > kNamesBudget) {
    console_.Text(", ...");
    cut_ = true;
    return;
  }
  if (!first_) console_.Text(", ");
  first_ = false;
  console_.Name(name);
  bytes_ += name.size() + 2;
}

}  // namespace velador

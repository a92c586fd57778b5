#include "support/terminal_run.h"

#include <fcntl.h>
#include <locale.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

#include "support/tool_process.h"

namespace velador::testing {

namespace {

// A pseudo-terminal whose tool side passes bytes unchanged.
void OpenRawTerminal(int& reader, int& tool) {
  if (openpty(&reader, &tool, nullptr, nullptr, nullptr) != 0) {
    throw std::runtime_error("openpty failed");
  }
  termios settings{};
  tcgetattr(tool, &settings);
  cfmakeraw(&settings);
  tcsetattr(tool, TCSANOW, &settings);
}

}  // namespace

TerminalRun::TerminalRun(const Workspace& workspace, const std::vector<std::string>& arguments,
                         const std::string& locale, OnTerminal onTerminal) {
  int tool = -1;
  OpenRawTerminal(reader_, tool);
  const bool outOnTerminal =
      onTerminal == OnTerminal::kOutput || onTerminal == OnTerminal::kOutputAndError;
  const bool errOnTerminal =
      onTerminal == OnTerminal::kError || onTerminal == OnTerminal::kOutputAndError;
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = outOnTerminal ? tool
                                : open(capture_.Path("stdout").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = errOnTerminal ? tool
                                : open(capture_.Path("stderr").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (in >= 0 && out >= 0 && err >= 0) {
    child_ = StartTool(workspace.Root(), ToolCommand(arguments), {in, out, err},
                       EnvironmentWith("LC_ALL", locale));
  }
  if (in >= 0) close(in);
  for (int file : {out, err}) {
    if (file >= 0 && file != tool) close(file);
  }
  close(tool);  // once only the tool holds its side, the terminal ends when the tool does
  if (child_ < 0) throw std::runtime_error("cannot start the tool on a terminal");
}

TerminalRun::~TerminalRun() {
  if (child_ > 0) {
    kill(child_, SIGKILL);
    WaitForExit(child_);
  }
  if (reader_ >= 0) close(reader_);
}

bool TerminalRun::ReadSome(int milliseconds) {
  pollfd ready{reader_, POLLIN, 0};
  if (poll(&ready, 1, milliseconds) <= 0) return true;  // nothing yet, or a signal
  char buffer[4096];
  const ssize_t count = read(reader_, buffer, sizeof buffer);
  // Once the tool's side is closed and drained, reading fails (EIO on Linux).
  if (count <= 0) return false;
  shown_.append(buffer, static_cast<std::size_t>(count));
  return true;
}

bool TerminalRun::WaitFor(std::string_view text) {
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  while (shown_.find(text) == Bytes::npos) {
    if (std::chrono::steady_clock::now() > giveUp || !ReadSome(100)) {
      return shown_.find(text) != Bytes::npos;
    }
  }
  return true;
}

ToolRun TerminalRun::Finish() {
  while (ReadSome(100)) {
  }
  ToolRun run;
  run.status = WaitForExit(child_);
  child_ = -1;
  if (capture_.Exists("stdout")) run.out = capture_.Read("stdout");
  if (capture_.Exists("stderr")) run.err = capture_.Read("stderr");
  return run;
}

bool HasUtf8Locale() {
  locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", nullptr);
  if (utf8 == nullptr) return false;
  freelocale(utf8);
  return true;
}

FileLock::FileLock(const std::filesystem::path& path)
    : descriptor_(open(path.c_str(), O_RDWR | O_CLOEXEC)) {
  if (descriptor_ >= 0 && flock(descriptor_, LOCK_EX) == 0) return;
  Release();
  throw std::runtime_error("cannot lock " + path.string());
}

void FileLock::Release() {
  if (descriptor_ < 0) return;
  close(descriptor_);  // closing releases the lock
  descriptor_ = -1;
}

}  // namespace velador::testing

#pragma once

// Runs of the built tool with some of its standard streams on a pseudo-terminal, the way a user
// at a terminal sees it.

#include <string>
#include <string_view>
#include <vector>

#include "support/workspace.h"

namespace velador::testing {

// Which of the tool's standard streams are the terminal; the others go to files.
enum class OnTerminal { kNothing, kOutput, kError, kOutputAndError };

// Starts the tool at once and lets the test watch the terminal while it runs. The terminal
// passes bytes unchanged (no line-end translation), so what the tool wrote is what the test
// reads. Standard input is /dev/null.
class TerminalRun {
 public:
  // Runs the tool in `workspace` with `arguments` and LC_ALL=`locale`.
  TerminalRun(const Workspace& workspace, const std::vector<std::string>& arguments,
              const std::string& locale, OnTerminal onTerminal);
  ~TerminalRun();
  TerminalRun(const TerminalRun&) = delete;
  TerminalRun& operator=(const TerminalRun&) = delete;

  // Reads the terminal until `text` shows up (true) or the tool is gone (false). A minute
  // without it counts as never: the test fails instead of hanging.
  bool WaitFor(std::string_view text);

  // Reads the terminal to its end and waits for the tool. The streams on files are in `out` and
  // `err`; what went to the terminal is in Terminal().
  ToolRun Finish();

  const Bytes& Terminal() const { return shown_; }

 private:
  // Reads what the terminal holds, waiting up to `milliseconds` for it; false once the tool
  // has closed the terminal and everything is read.
  bool ReadSome(int milliseconds);

  Workspace capture_;
  int reader_ = -1;  // the side of the pseudo-terminal that the test reads
  pid_t child_ = -1;
  Bytes shown_;
};

// True when the system has the C.UTF-8 locale the UTF-8 runs use.
bool HasUtf8Locale();

// An exclusive lock on a file, as the tool's own table lock takes it: a tool that needs the
// file waits until the lock is released.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& path);
  ~FileLock() { Release(); }
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  void Release();

 private:
  int descriptor_ = -1;
};

}  // namespace velador::testing

#pragma once

// What a terminal needs for the tool's texts (Windows-1252 bytes) to show as the letters they
// stand for. Callers decide when to use these: only a terminal gets its texts adapted, a file
// or a pipe always gets the bytes as they are.

namespace velador::platform {

// True when the user's locale (LC_ALL, LC_CTYPE, LANG) names UTF-8 as its character set, so
// that the user's terminal reads text as UTF-8. The process's own locale is left as it was.
// Always false on Windows, whose consoles are set to a code page instead. Meant for start-up,
// before other threads run: the C library's locale calls are not thread-safe.
bool LocaleTakesUtf8();

// While it lives, the console of the process shows Windows-1252: on Windows it
// switches the console's output code page to 1252 and puts the earlier one back when it goes,
// and also when the process ends through exit() or is ended from the console (Ctrl-C,
// Ctrl-Break, the window closed), since the code page belongs to the console and outlives the
// process. Does nothing elsewhere, and nothing when the code page cannot be changed. Meant for
// one object at a time, made only when standard output or standard error is a terminal.
class ConsoleCodePageGuard {
 public:
  ConsoleCodePageGuard();
  ~ConsoleCodePageGuard();
  ConsoleCodePageGuard(const ConsoleCodePageGuard&) = delete;
  ConsoleCodePageGuard& operator=(const ConsoleCodePageGuard&) = delete;
};

}  // namespace velador::platform

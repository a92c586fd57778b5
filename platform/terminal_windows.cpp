#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "platform/terminal.h"

namespace velador::platform {

namespace {

constexpr UINT kWindows1252 = 1252;

// The code page to put back; 0 while there is none. Read and cleared in one step, so that the
// guard, exit() and a console control event restore it at most once between them.
std::atomic<UINT> earlierCodePage{0};

void RestoreCodePage() {
  const UINT earlier = earlierCodePage.exchange(0);
  if (earlier != 0) SetConsoleOutputCP(earlier);
}

extern "C" void RestoreCodePageAtExit() { RestoreCodePage(); }

// Runs on a thread of its own when the console asks the process to stop. It answers FALSE so
// that the other handlers (the one that removes a pending temporary file among them) and then
// the system's default one still run.
BOOL WINAPI RestoreCodePageOnControl(DWORD) {
  RestoreCodePage();
  return FALSE;
}

void InstallRestorers() {
  static const bool installed = [] {
    SetConsoleCtrlHandler(RestoreCodePageOnControl, TRUE);
    std::atexit(RestoreCodePageAtExit);
    return true;
  }();
  (void)installed;
}

}  // namespace

bool LocaleTakesUtf8() { return false; }

ConsoleCodePageGuard::ConsoleCodePageGuard() {
  const UINT current = GetConsoleOutputCP();
  if (current == 0 || current == kWindows1252) return;
  InstallRestorers();
  // Noted before the switch, so that an interrupt right after it still finds it.
  earlierCodePage.store(current);
  if (!SetConsoleOutputCP(kWindows1252)) {
    earlierCodePage.store(0);
  } else if (earlierCodePage.load() == 0) {
    SetConsoleOutputCP(current);  // a restorer ran between the note and the switch
  }
}

ConsoleCodePageGuard::~ConsoleCodePageGuard() { RestoreCodePage(); }

}  // namespace velador::platform

#include <langinfo.h>
#include <strings.h>

#include <clocale>
#include <string>

#include "platform/terminal.h"

namespace velador::platform {

bool LocaleTakesUtf8() {
  // The character set is read under the user's locale, then the earlier one comes back: the
  // tool's own byte handling must not depend on where it runs.
  const char* current = std::setlocale(LC_CTYPE, nullptr);
  const std::string earlier = current != nullptr ? current : "C";
  if (std::setlocale(LC_CTYPE, "") == nullptr) return false;
  const char* codeset = nl_langinfo(CODESET);
  const bool utf8 =
      codeset != nullptr && (strcasecmp(codeset, "UTF-8") == 0 || strcasecmp(codeset, "UTF8") == 0);
  std::setlocale(LC_CTYPE, earlier.c_str());
  return utf8;
}

// A POSIX terminal has no code page: the text encoding is chosen by the writer instead.
ConsoleCodePageGuard::ConsoleCodePageGuard() = default;
ConsoleCodePageGuard::~ConsoleCodePageGuard() = default;

}  // namespace velador::platform

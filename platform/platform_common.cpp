// The services that every system provides through the C library alike.

#include <cerrno>
#include <string_view>

#include "open_mode.h"
#include "platform/platform.h"

namespace velador::platform {

std::optional<bool> OpensForUpdate(const char* mode) {
  const std::string_view wanted = mode;
  if (wanted.empty() || wanted[0] != 'r') {
    errno = EINVAL;
    return std::nullopt;
  }
  return wanted.find('+') != std::string_view::npos;
}

std::FILE* StandardFile(StandardStream stream) {
  switch (stream) {
    case StandardStream::kInput:
      return stdin;
    case StandardStream::kOutput:
      return stdout;
    case StandardStream::kError:
      return stderr;
  }
  return stdout;
}

void WaitForEnter() {
  int c;
  do {
    c = std::getchar();
  } while (c != '\n' && c != EOF);
}

}  // namespace velador::platform

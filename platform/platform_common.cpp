// The services that every system provides through the C library alike.

#include "platform/platform.h"

namespace velador::platform {

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

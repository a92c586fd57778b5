#include "app/program_start.h"

#include "platform/platform.h"

namespace velador {

StandardStreams StartProgram() {
  platform::OpenMissingStandardStreams();
  platform::InstallInterruptCleanup();
  platform::KeepFreedMemoryForReuse();
  return StandardStreams();
}

}  // namespace velador

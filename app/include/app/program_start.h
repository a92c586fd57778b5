#pragma once

// The start-up both programs of the tool's share, in one place.

#include "app/front_end.h"

namespace velador {

// Readies the process for one of the tool's programs; the first thing their main functions do,
// before any file is opened. In this order: every closed standard descriptor is opened on the
// null device (so that a file opened later, a disc image's table say, never receives the texts
// meant for a standard stream), an interrupt is made to remove the run's temporary files,
// freed memory is kept for reuse (platform::KeepFreedMemoryForReuse), and the standard streams
// are set up as StandardStreams describes, for as long as the answer lives.
StandardStreams StartProgram();

}  // namespace velador

#pragma once

// The front end: reads the command line, checks the input, the key and the output location,
// drives one container operation and prints what it did.

#include <ostream>

#include "app/console.h"

namespace velador {

// How a run shows itself.
struct RunOutput {
  TextEncoding encoding = TextEncoding::kWindows1252;  // of the texts on the output stream
  std::ostream* progress = nullptr;  // the terminal showing a long operation's progress, if any
};

// The entry function: `argv[0]` is the program's name. Runs one whole command, prints everything
// on `out` and answers 0 whatever the outcome. Only the progress line goes to
// `output.progress`, and it is erased before the report is printed.
int RunVelador(int argc, const char* const* argv, std::ostream& out, const RunOutput& output = {});

// RunVelador on the process's standard streams. Standard output redirected to a file or a pipe
// gets the texts' Windows-1252 bytes unchanged; a terminal gets them readable (a console set to
// code page 1252 for the run on Windows, UTF-8 where the locale asks for it elsewhere). The
// progress line goes to standard error, and only when that is a terminal.
int RunVeladorOnStandardStreams(int argc, const char* const* argv);

}  // namespace velador

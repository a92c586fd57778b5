#pragma once

// The front end: reads the command line, checks the input, the key and the output location,
// drives one container operation and prints what it did.

#include <optional>
#include <ostream>

#include "app/console.h"
#include "platform/terminal.h"

namespace velador {

// How a run shows itself.
struct RunOutput {
  TextEncoding encoding = TextEncoding::kWindows1252;  // of the texts on the output stream
  std::ostream* progress = nullptr;  // the terminal showing a long operation's progress, if any
};

// How a program of the tool's shows itself on the process's standard streams, for as long as
// the object lives. Redirected to a file or a pipe, a stream gets the texts' Windows-1252 bytes
// unchanged; a terminal gets them readable (on Windows the console that either stream shows is
// set to code page 1252 for the run, elsewhere either stream gets UTF-8 where the locale asks
// for it). The
// progress line goes to standard error, and only when that is a terminal.
class StandardStreams {
 public:
  StandardStreams();

  RunOutput output;
  TextEncoding errorEncoding = TextEncoding::kWindows1252;  // of the texts on standard error

 private:
  std::optional<platform::ConsoleCodePageGuard> codePage_;
};

// The entry function: `argv[0]` is the program's name. Runs one whole command, prints everything
// on `out` and answers 0 whatever the outcome. Only the progress line goes to
// `output.progress`, and it is erased before the report is printed.
int RunVelador(int argc, const char* const* argv, std::ostream& out, const RunOutput& output = {});

// velador's whole process: StartProgram, then RunVelador on the standard streams as
// StandardStreams shows them. For the program's main function only.
int RunVeladorOnStandardStreams(int argc, const char* const* argv);

}  // namespace velador

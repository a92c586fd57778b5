#pragma once

// The front end: reads the command line, checks the input, the key and the output location,
// drives one container operation and prints what it did.

#include <ostream>

namespace velador {

// The entry function: `argv[0]` is the program's name. Runs one whole command, prints everything
// on `out` and answers 0 whatever the outcome.
int RunVelador(int argc, const char* const* argv, std::ostream& out);

}  // namespace velador

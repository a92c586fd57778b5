#pragma once

// The front end: reads the command line, checks the input, the key and the output location, and
// drives one container operation. Everything is reported on `out`; the answer is always 0.

#include <ostream>

#include "encapsulation/console.h"
#include "encapsulation/path_buffer.h"

namespace velador {

// What the front end calls an encapsulation type (distinct from a container's type code).
enum TypeNumber : int {
  kRefused = 0,
  kEncryption = 1,
  kEncryptionHash = 2,
  kMac = 3,
  kHash = 4,
  kNonProtected = 5,
};

// The entry function: `argv[0]` is the program's name. Runs one whole command and answers 0.
int RunVelador(int argc, const char* const* argv, std::ostream& out);

// Prints the usage text.
void PrintHelp(Console& console);

// Checks that the input file exists and, encapsulating, that it is no container yet, and
// chooses its type from the last three characters of its path and the destination.
// Decapsulating, it requires a container, takes the type from its header and fills `tablePath`
// with the content hash table of the disc image that holds the container. Answers kRefused,
// with the reason printed, when the run cannot go on.
int ClassifyInput(const PathBuffer& inputPath, PathBuffer& tablePath, int inputLength,
                  bool encapsulate, bool forDisc, Console& console);

// Composes the result path (and, encapsulating a hashed type, the table path) and checks that
// the result can be written without touching the input, and that the table is there. Fills
// `resultPath`, `fileName` and, where it applies, `tablePath`, and answers true when the run
// may go on; otherwise it prints why and answers false. Changes no file.
bool CheckOutputLocation(const PathBuffer& inputPath, int inputLength, const PathBuffer& outputPath,
                         int outputLength, PathBuffer& resultPath, PathBuffer& tablePath,
                         PathBuffer& fileName, int typeNumber, bool encapsulate, bool forDisc,
                         Console& console);

}  // namespace velador

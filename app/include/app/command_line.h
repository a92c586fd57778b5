#pragma once

// The command line of one run: its forms, and the paths it names.

#include "app/console.h"
#include "app/path_buffer.h"
#include "encapsulation/container_types.h"

namespace velador {

// What the option words ask for.
struct Request {
  Direction direction = Direction::kEncapsulate;
  bool forDisc = true;  // a decapsulation always counts as one for a disc
};

// The paths of one run. A buffer that nothing fills keeps "0": a key file left out is looked
// for under that name, and the table path stays "0" for the types without a table.
struct RunPaths {
  PathBuffer input{};
  PathBuffer output = InitialPathBuffer();
  PathBuffer key = InitialPathBuffer();
  PathBuffer table = InitialPathBuffer();
  PathBuffer result = InitialPathBuffer();
  PathBuffer fileName = InitialPathBuffer();
};

// Reads the words of an encapsulation or a decapsulation (`argc` of 3 or more, `argv[0]` being
// the program's name) into `request` and `paths`. False, with the reason printed (an error
// block, or the help when the word count does not fit the direction), when the run ends here.
bool ParseCommandLine(int argc, const char* const* argv, Request& request, RunPaths& paths,
                      Console& console);

// An option is told by its second character alone, folded to lower case; a word shorter than
// two characters is no option and answers '\0'.
char OptionLetter(const char* word);

}  // namespace velador

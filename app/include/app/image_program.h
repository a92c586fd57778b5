#pragma once

// velador-image: checks or fills a whole disc image at once. Reports go to standard output,
// the reasons a run could not be made to standard error; the exit status is 0 when everything
// is in order, 1 when some file would be refused, was not checked or not added, or the table
// has findings, 2 when nothing could be done.

#include <ostream>

#include "app/front_end.h"

namespace velador {

// Runs one command line (`argv[0]` is the program's name). `output` says how the texts are
// encoded on `out` and where a progress line goes; `err` gets the errors, as texts in
// `errEncoding`.
int RunVeladorImage(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    const RunOutput& output = {},
                    TextEncoding errEncoding = TextEncoding::kWindows1252);

// velador-image's whole process: StartProgram, then RunVeladorImage on the standard streams,
// each terminal getting readable texts as velador's do. For the program's main function only.
int RunVeladorImageOnStandardStreams(int argc, const char* const* argv);

}  // namespace velador

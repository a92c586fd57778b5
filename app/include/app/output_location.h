#pragma once

// Output location checks: where a run writes, and whether it may.

#include "app/command_line.h"

namespace velador {

// Composes the result path (and, encapsulating a hashed type, the table path) and checks, in
// this order, that the result replaces nothing the run reads (the input, the table, the key
// file), that it can be created, and that the table is there. Fills `paths.result`,
// `paths.fileName` and, where it applies, `paths.table`, and answers true when the run may go on;
// otherwise it prints why and answers false. Changes no file.
bool CheckOutputLocation(const Request& request, ContainerType type, RunPaths& paths,
                         Console& console);

}  // namespace velador

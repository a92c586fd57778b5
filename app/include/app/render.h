#pragma once

// Turns what the tool did into its console text, byte for byte.

#include <string_view>

#include "app/console.h"
#include "encapsulation/report.h"
#include "image/encapsulation_checks.h"

namespace velador {

// The usage text.
void PrintHelp(Console& console);

// What a run prints before its operation starts: the result path and the announcement.
void RenderOperationStart(Console& console, std::string_view resultPath, ContainerType type,
                          Direction direction);

// The error block of a refusal of the checks before a run. `forDisc` chooses which folder the
// run could not write to; `tablePath` is the table a hashed type did not find.
void PrintRefusal(Console& console, Refusal refusal, bool forDisc, std::string_view tablePath = {});

// The rest of an operation's text: the table events, then the failure or the report and its
// verdicts. `tablePath` is shown when a hashed container's table could not be read.
void RenderReport(Console& console, const OperationReport& report, std::string_view tablePath);

}  // namespace velador

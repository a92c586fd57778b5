#pragma once

// Input classification: which container type a run deals with.

#include <optional>

#include "app/command_line.h"
#include "image/encapsulation_checks.h"

namespace velador {

// The input of a run as classification found it: its type, and the file itself, open, for the
// operation to read.
struct ClassifiedInput {
  ContainerType type = ContainerType::kNonProtected;
  OpenedInput input;
};

// Checks that the input file exists and, encapsulating, that it is no container yet, and
// chooses its type from the last three characters of its path and the destination.
// Decapsulating, it requires a container, takes the type from its header and fills
// `paths.table` with the content hash table of the disc image that holds the container.
// Answers nothing, with the reason printed, when the run cannot go on.
std::optional<ClassifiedInput> ClassifyInput(const Request& request, RunPaths& paths,
                                             Console& console);

}  // namespace velador

#pragma once

// Input classification: which container type a run deals with.

#include <cstdint>
#include <optional>
#include <string>

#include "app/command_line.h"
#include "encapsulation/container_layout.h"

namespace velador {

// What classifying a file needs from it: its length and its header as far as it goes.
struct InputStart {
  std::uint64_t length = 0;
  layout::HeaderFields header;
};

// Reads the start of the regular file at `path`; nothing when it cannot be opened or read.
std::optional<InputStart> ReadInputStart(const std::string& path);

// Checks that the input file exists and, encapsulating, that it is no container yet, and
// chooses its type from the last three characters of its path and the destination.
// Decapsulating, it requires a container, takes the type from its header and fills
// `paths.table` with the content hash table of the disc image that holds the container.
// Answers nothing, with the reason printed, when the run cannot go on.
std::optional<ContainerType> ClassifyInput(const Request& request, RunPaths& paths,
                                           Console& console);

}  // namespace velador

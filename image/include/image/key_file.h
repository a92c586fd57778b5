#pragma once

#include <optional>
#include <string>

#include "encapsulation/container_types.h"

namespace velador {

// The key kept in the file at `path`: its first 16 bytes, zero bytes standing in for those a
// shorter file lacks. Only a regular file is read, since a pipe or a device could keep the run
// waiting forever. None when it does not open or cannot be read.
std::optional<Key> ReadKeyFile(const std::string& path);

}  // namespace velador

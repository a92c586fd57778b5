#pragma once

// Run paths for the in-process front-end tests.

#include <string>

#include "app/command_line.h"

namespace velador {

inline PathBuffer Buffer(const std::string& text) {
  PathBuffer buffer{};
  SetPath(buffer, text);
  return buffer;
}

inline std::string Text(const PathBuffer& buffer) { return std::string(PathText(buffer)); }

// The front end's number of a type, or 0 for a refusal.
inline int Number(std::optional<ContainerType> type) { return type ? FactsOf(*type).number : 0; }

}  // namespace velador

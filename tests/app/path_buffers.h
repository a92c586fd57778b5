#pragma once

// Path buffers for the in-process front-end tests.

#include <string>

#include "app/front_end.h"

namespace velador {

inline PathBuffer Buffer(const std::string& text) {
  PathBuffer buffer{};
  for (std::size_t i = 0; i < text.size() && i < buffer.size(); ++i) buffer[i] = text[i];
  return buffer;
}

// A buffer still holding its initial "0", to show what a call leaves alone.
inline PathBuffer Untouched() {
  PathBuffer buffer{};
  buffer[0] = '0';
  return buffer;
}

inline std::string Text(const PathBuffer& buffer) { return std::string(buffer.data()); }

}  // namespace velador

#pragma once

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>

namespace velador {

// One path or file name as a zero-terminated string of at most 271 characters.
inline constexpr std::size_t kPathBufferLength = 272;
inline constexpr std::size_t kMaxPathLength = kPathBufferLength - 1;
using PathBuffer = std::array<char, kPathBufferLength>;

// A buffer that nothing has filled holds the one-character string "0".
inline PathBuffer InitialPathBuffer() {
  PathBuffer buffer{};
  buffer[0] = '0';
  return buffer;
}

// The characters up to the terminator.
inline std::string_view PathText(const PathBuffer& buffer) {
  auto end = std::find(buffer.begin(), buffer.end(), '\0');
  return {buffer.data(), static_cast<std::size_t>(end - buffer.begin())};
}

// Replaces the content with `text` (at most kMaxPathLength characters) and zero bytes after it.
inline void SetPath(PathBuffer& buffer, std::string_view text) {
  buffer.fill('\0');
  std::memcpy(buffer.data(), text.data(), std::min(text.size(), kMaxPathLength));
}

}  // namespace velador

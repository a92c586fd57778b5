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

// Folds the letters A to Z to lower case and leaves every other byte as it is: names and
// options are compared this way whatever the system's locale.
constexpr char FoldLetter(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The file's own name: everything after the last "/" or "\" of the whole path, blanks included.
inline std::string_view NameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string_view::npos ? path : path.substr(separator + 1);
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

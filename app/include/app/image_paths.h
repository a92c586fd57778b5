#pragma once

// Where velador-image finds the parts of a disc image, relative to the image's folder.

#include <string>
#include <string_view>

#include "encapsulation/container_layout.h"

namespace velador {

// The names velador composes, without their leading and trailing "/".
inline constexpr std::string_view kImageDiscFolder =
    layout::kDiscFolder.substr(1, layout::kDiscFolder.size() - 2);
inline constexpr std::string_view kImageTablePath = layout::kTableSuffix.substr(1);
inline constexpr std::string_view kImageTableFolder =
    kImageTablePath.substr(0, kImageTablePath.find('/'));
static_assert(kImageDiscFolder == "ADV_OBJ" && kImageTableFolder == "AACS");

// `folder`, a "/" unless it ends in one, then `name`: the way velador composes the paths in a
// disc image, so that both programs measure a path's length alike. Every system reads "a\/b"
// as "a\b". An empty folder is the current one, never the root.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

}  // namespace velador

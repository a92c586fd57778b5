#include "image/key_file.h"

#include <cstdio>

#include "io/checked_file.h"

namespace velador {

std::optional<Key> ReadKeyFile(const std::string& path) {
  UniqueFile file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  Key key{};
  (void)std::fread(key.data(), 1, key.size(), file.get());
  if (std::ferror(file.get())) return std::nullopt;
  return key;
}

}  // namespace velador

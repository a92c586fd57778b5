#include "image/key_file.h"

#include <cstdio>

#include "io/checked_file.h"

namespace velador {

std::optional<Key> ReadKeyFile(const std::string& path) {
  UniqueFile file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  Key key{};
  // A shorter file leaves zero bytes in the rest of the key; only a failed read refuses it.
  const std::size_t read = std::fread(key.data(), 1, key.size(), file.get());
  if (read < key.size() && std::ferror(file.get())) return std::nullopt;
  return key;
}

}  // namespace velador

#include "support/expected_output.h"

#include <fstream>
#include <iterator>
#include <vector>

namespace velador::testing::expected {

// The text of expected/`name`.txt with each {placeholder} replaced by its value. A missing file,
// a placeholder without a value or a value without a placeholder fails the test.
std::string Expected(std::string_view name,
                     std::initializer_list<std::pair<std::string_view, std::string_view>> values) {
  const std::string path = VELADOR_EXPECTED_DIR "/" + std::string(name) + ".txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "missing expected text " << path;
    return "<missing " + path + ">";
  }
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  std::vector<bool> used(values.size());
  std::string out;
  std::size_t at = 0;
  for (std::size_t open; (open = text.find('{', at)) != std::string::npos;) {
    const std::size_t close = text.find('}', open);
    if (close == std::string::npos) break;
    const std::string_view key(text.data() + open + 1, close - open - 1);
    out.append(text, at, open - at);
    std::size_t i = 0;
    for (const auto& value : values) {
      if (value.first == key) break;
      ++i;
    }
    if (i < values.size()) {
      out.append((values.begin() + i)->second);
      used[i] = true;
    } else {
      ADD_FAILURE() << path << ": no value for {" << key << "}";
      out.append(text, open, close + 1 - open);
    }
    at = close + 1;
  }
  out.append(text, at);
  std::size_t i = 0;
  for (const auto& value : values)
    if (!used[i++]) ADD_FAILURE() << path << ": no placeholder {" << value.first << "}";
  return out;
}

}  // namespace velador::testing::expected

#pragma once

// What a command of the image layer answers: why it could do nothing, as the command's own code,
// and the path concerned. `code` kNone means the command ran; its result says what it found, and
// whether that needs attention.

#include <string>

namespace velador {

template <class Code>
struct ImageError {
  Code code = Code::kNone;
  std::string path;  // the file or folder the error concerns; empty when the command ran

  // True when the command could do nothing.
  explicit operator bool() const { return code != Code::kNone; }
  bool operator==(Code other) const { return code == other; }
};

}  // namespace velador

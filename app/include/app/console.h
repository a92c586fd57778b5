#pragma once

// Console output of the tool: every message goes to one stream (standard output in the tool),
// and every line end is a newline followed by a flush, so that a crash or a closed window never
// hides a line already reported. Texts are bytes (Windows-1252) written as they are.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string_view>

namespace velador {

class Console {
 public:
  explicit Console(std::ostream& out) : out_(out) {}

  // Writes `text`; each "\n" inside it is a line end.
  void Text(std::string_view text);
  void LineEnds(int count = 1);

  // Hands what was written so far to the system, without a line end.
  void Flush();

  // An error block: one line end, each line followed by a line end, then three more line ends.
  void ErrorBlock(std::initializer_list<std::string_view> lines);

  // Each byte as lower-case hexadecimal without leading zeros ("0", "f", "ab"), followed by one
  // blank.
  void HexValues(const std::uint8_t* bytes, std::size_t count);

  // Sixteen bytes as two lines of eight HexValues, each line preceded by a line end and
  // `indent` blanks. Nothing follows the last value's blank.
  void ByteDump(const std::uint8_t* bytes, int indent);

  void Decimal(std::uint64_t value);

 private:
  std::ostream& out_;
};

}  // namespace velador

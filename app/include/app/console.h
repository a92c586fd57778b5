#pragma once

// Console output of the tool: every message goes to one stream (standard output in the tool),
// and every line end is a newline followed by a flush, so that a crash or a closed window never
// hides a line already reported.
//
// Texts are Windows-1252 bytes. They are written as they are, unless the console was made for
// a UTF-8 terminal: then each text is written as UTF-8. Paths are no texts: they are the user's
// own bytes (from the command line, in the system's encoding) and are always written unchanged.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <string>
#include <string_view>

namespace velador {

enum class TextEncoding {
  kWindows1252,  // the texts' own bytes: files, pipes and consoles set to code page 1252
  kUtf8,         // a terminal that reads UTF-8
};

// One line of an error block: a text, optionally followed by a path.
struct BlockLine {
  // Implicit, since most lines are a text alone.
  BlockLine(std::string_view text) : text(text) {}
  BlockLine(std::string_view text, std::string_view path) : text(text), path(path) {}
  std::string_view text;
  std::string_view path;
};

// `text` (Windows-1252 bytes) as UTF-8; the five undefined bytes become U+FFFD.
std::string Windows1252ToUtf8(std::string_view text);

// Whether `bytes` are well-formed UTF-8: no overlong form, no surrogate, nothing past U+10FFFF.
bool IsUtf8(std::string_view bytes);

// How a console writes names and paths: as their own bytes (a terminal, a file: whatever the
// system gave), or always as UTF-8 (a JSON document), bytes that are no UTF-8 read as
// Windows-1252.
enum class NameBytes { kAsGiven, kUtf8 };

class Console {
 public:
  explicit Console(std::ostream& out, TextEncoding encoding = TextEncoding::kWindows1252,
                   NameBytes names = NameBytes::kAsGiven)
      : out_(out), encoding_(encoding), names_(names) {}

  // Writes the Windows-1252 `text`; each "\n" inside it is a line end. As UTF-8, the five bytes
  // that Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) become U+FFFD, the
  // replacement character, never a control character the terminal could act on.
  void Text(std::string_view text);

  // Writes `path` byte for byte, whatever the encoding (see NameBytes).
  void Path(std::string_view path);

  // Writes `name` (a file name or a path) byte for byte as Path does, but for the control
  // characters (0x00 to 0x1F, 0x7F), written as "\n", "\r", "\t" or "\xNN": a name then
  // never breaks its line into two, nor moves the cursor, so it cannot pass for a report line
  // of its own. A backslash stays as it is, since Windows paths are made of them.
  void Name(std::string_view name);

  void LineEnds(int count = 1);

  // Hands what was written so far to the system, without a line end.
  void Flush();

  // An error block: one line end, each line followed by a line end, then three more line ends.
  void ErrorBlock(std::initializer_list<BlockLine> lines);

  // Each byte as lower-case hexadecimal without leading zeros ("0", "f", "ab"), followed by one
  // blank.
  void HexValues(const std::uint8_t* bytes, std::size_t count);

  // Sixteen bytes as two lines of eight HexValues, each line preceded by a line end and
  // `indent` blanks. Nothing follows the last value's blank.
  void ByteDump(const std::uint8_t* bytes, int indent);

  void Decimal(std::uint64_t value);

  TextEncoding Encoding() const { return encoding_; }

 private:
  // Writes a piece of text without line ends, in the console's encoding.
  void TextPiece(std::string_view piece);

  // A name or path in the console's NameBytes; `converted` holds it when it had to be.
  std::string_view AsNamed(std::string_view name, std::string& converted) const;

  std::ostream& out_;
  TextEncoding encoding_;
  NameBytes names_;
  std::string converted_;  // reused for the UTF-8 form of each piece
};

}  // namespace velador

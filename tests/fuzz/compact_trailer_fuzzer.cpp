// The trailers of hashed containers, and the table from its counter on, as the input makes
// them, in a small disc image (see image_sandbox.h) that is then compacted, compacted again,
// and, made afresh, has containers removed from it.
//
// Input: a byte of flags (bit 0: a second container; bit 1: the table keeps its committed
// entries and the input's tail is appended to them, else the tail replaces them from the
// counter on), a byte choosing the names to remove, then each container as its type code (1
// byte), size field (4), body length (2, the body a fixed pattern) and trailer length (2) and
// bytes; the rest is the table's tail. The containers are img/ADV_OBJ/f.js and g.xml.
//
// Whatever they hold: nothing outside img/ changes; a compaction that succeeds leaves every file
// of ADV_OBJ as long as it was, files that use no table as they were, the table's first 40056
// bytes as they were and the table 40060 + 8 x counter bytes long, and a second compaction
// then writes nothing; a removal that succeeds leaves none of the names it was given.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "encapsulation/container_layout.h"
#include "image/compact.h"
#include "image_sandbox.h"

namespace {

namespace fs = std::filesystem;
using velador::ImageChangeError;
using velador::fuzz::Finding;
using velador::fuzz::ImageSandbox;
using velador::fuzz::kTableOfImage;

const ImageSandbox& TheSandbox() {
  static const ImageSandbox sandbox;
  return sandbox;
}

// Takes the input a field at a time; past its end, fields read as zeros and spans as empty.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  std::uint64_t Number(int length) {
    std::uint64_t value = 0;
    for (int i = 0; i < length; ++i) value = value << 8 | (at_ < size_ ? data_[at_++] : 0);
    return value;
  }

  std::string Span(std::size_t length) {
    length = std::min(length, size_ - at_);
    std::string bytes(reinterpret_cast<const char*>(data_) + at_, length);
    at_ += length;
    return bytes;
  }

  std::string Rest() { return Span(size_ - at_); }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

std::string Container(Input& input) {
  std::string bytes = "AACS";
  bytes += static_cast<char>(input.Number(1));
  bytes += std::string("\x00\x01", 2);
  const std::uint64_t sizeField = input.Number(4);
  for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(sizeField >> shift);
  const std::uint64_t body = input.Number(2);
  for (std::uint64_t i = 0; i < body; ++i) bytes += static_cast<char>('a' + i % 26);
  return bytes + input.Span(static_cast<std::size_t>(input.Number(2)));
}

// The files of ADV_OBJ (links and folders aside) and their bytes.
std::map<std::string, std::string> FilesOf(const ImageSandbox& sandbox) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(sandbox.Path("img/ADV_OBJ"))) {
    if (entry.symlink_status().type() != fs::file_type::regular) continue;
    const std::string name = entry.path().filename().string();
    files[name] = sandbox.Read("img/ADV_OBJ/" + name);
  }
  return files;
}

bool UsesTable(const std::string& file) {
  return file.size() > velador::layout::kTypeCodeOffset && file.compare(0, 4, "AACS") == 0 &&
         (file[4] == '\x11' || file[4] == '\x12');
}

// The table as a successful change must leave it.
void ExpectTableKeepsTheRule(const ImageSandbox& sandbox, std::uint32_t counter) {
  const std::string table = sandbox.Read(kTableOfImage);
  if (table.compare(0, 40056, sandbox.Table(), 0, 40056) != 0) {
    Finding("the table's first 40056 bytes changed");
  }
  if (table.size() != 40060 + 8 * std::uint64_t{counter}) Finding("the table breaks the rule");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(table.data());
  if (velador::layout::DecodeNumber(bytes + 40056) != counter) Finding("the counter is wrong");
}

void MakeImage(const ImageSandbox& sandbox, const std::string& f, const std::string& g,
               const std::string& tableTail, bool appendTail) {
  sandbox.MakeImage();
  sandbox.Write("img/ADV_OBJ/f.js", f);
  if (!g.empty()) sandbox.Write("img/ADV_OBJ/g.xml", g);
  sandbox.Write(kTableOfImage, appendTail ? sandbox.Table() + tableTail
                                          : sandbox.Table().substr(0, 40056) + tableTail);
}

// Names a removal may be given: the fuzzed containers, a committed one, and names that are no
// file of ADV_OBJ (a folder, a link, a name that is not there, one that climbs out).
const char* const kRemovable[] = {
    "f.js", "g.xml", "m.xml", "sub", "link.js", "absent.js", "../ADV_OBJ/m.xml", "s.js"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ImageSandbox& sandbox = TheSandbox();
  Input input(data, size);
  const std::uint64_t flags = input.Number(1);
  const std::uint64_t removing = input.Number(1);
  const std::string f = Container(input);
  const std::string g = (flags & 1) ? Container(input) : std::string();
  const std::string tableTail = input.Rest();
  const bool appendTail = (flags & 2) != 0;

  MakeImage(sandbox, f, g, tableTail, appendTail);
  const std::map<std::string, std::string> before = FilesOf(sandbox);
  velador::ImageCompact compact;
  if (velador::CompactImage(sandbox.Path("img"), {}, compact) == ImageChangeError::kNone) {
    const std::map<std::string, std::string> after = FilesOf(sandbox);
    for (const auto& [name, bytes] : before) {
      // The sweep under the table's lock takes the staged file, which no run owns.
      if (name == velador::fuzz::kStagedName) continue;
      const auto now = after.find(name);
      if (now == after.end()) Finding("compaction removed " + name);
      if (now->second.size() != bytes.size()) Finding("compaction changed the length of " + name);
      if (!UsesTable(bytes) && now->second != bytes) Finding("compaction changed " + name);
    }
    ExpectTableKeepsTheRule(sandbox, compact.counterAfter);
    const std::string table = sandbox.Read(kTableOfImage);
    velador::ImageCompact again;
    if (velador::CompactImage(sandbox.Path("img"), {}, again) != ImageChangeError::kNone) {
      Finding("a second compaction failed");
    }
    if (FilesOf(sandbox) != after || sandbox.Read(kTableOfImage) != table) {
      Finding("a second compaction changed the image");
    }
  }
  sandbox.ExpectOutsideUnchanged();

  MakeImage(sandbox, f, g, tableTail, appendTail);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < std::size(kRemovable); ++i) {
    if (removing >> i & 1) names.push_back(kRemovable[i]);
  }
  velador::ImageCompact removal;
  if (velador::RemoveFromImage(sandbox.Path("img"), names, {}, removal) ==
      ImageChangeError::kNone) {
    for (const std::string& name : names) {
      if (fs::exists(fs::symlink_status(sandbox.Path("img/ADV_OBJ/" + name)))) {
        Finding("removal left " + name);
      }
    }
    ExpectTableKeepsTheRule(sandbox, removal.counterAfter);
  }
  sandbox.ExpectOutsideUnchanged();
  return 0;
}

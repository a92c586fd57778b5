// A disc image file as a stranger may hand it over: the input is the whole file, read in place
// through OpenImageBytes as check and extract read one. When it opens, the root and ADV_OBJ are
// listed, every file in them and the table AACS/CONTENT_HASH_TABLE2.AACS are opened and read
// from the start in chunks, and again at a few odd offsets. Whatever the bytes:
//   - a file that does not open is refused as holding no UDF file system, never as unreadable
//     or unsupported (the bytes are all there, and this build reads image files);
//   - every name a folder lists is there when asked for, as the kind it was listed as;
//   - a folder does not open as a file;
//   - no read goes past a file's size, and a read that succeeds gives the same bytes as the
//     sequential read of the same place;
//   - reading costs time and memory bounded by the input, whatever sizes the image claims: a
//     file is read up to kMostBytesRead, however long it says it is.
// The seeds are made at run time by genisoimage (tests/fuzz/make-udf-seeds.sh).

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image/image_reader.h"
#include "image_sandbox.h"

namespace {

using velador::ImageEntryKind;
using velador::ImageFileProblem;
using velador::ImageReader;
using velador::InputFailure;
using velador::InputFile;
using velador::fuzz::Finding;

constexpr char kImage[] = "disc.udf";
constexpr std::size_t kChunk = 5000;  // neither a block nor a divisor of one
constexpr std::uint64_t kMostBytesRead = 4 << 20;

// The fuzzer's buffer, read in place.
class BufferBytes final : public velador::ReadableBytes {
 public:
  BufferBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
    if (offset > size_ || count > size_ - offset) Finding("a read past the image's bytes");
    std::memcpy(data, data_ + offset, count);
    return true;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

// Reads the file at `path` as far as kMostBytesRead from its start, then at odd offsets, each
// of which must agree with what the sequential read gave for the same bytes.
void ReadFile(const ImageReader& reader, const std::string& path) {
  std::unique_ptr<InputFile> file;
  try {
    file = reader.Open(path, nullptr, 0);
  } catch (const InputFailure&) {
    return;  // a file whose entry is damaged
  }
  const std::uint64_t size = file->Size();
  std::vector<std::uint8_t> whole;
  std::vector<std::uint8_t> chunk(kChunk);
  while (whole.size() < std::min(size, kMostBytesRead)) {
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(kChunk, std::min(size, kMostBytesRead) - whole.size()));
    if (!file->TryReadAt(whole.size(), chunk.data(), count)) break;
    whole.insert(whole.end(), chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count));
  }

  std::uint8_t last[2] = {};
  if (file->TryReadAt(size, last, 1)) Finding("a byte read past the end of " + path);
  if (size > 0 && file->TryReadAt(size - 1, last, 2)) {
    Finding("two bytes read at the end of " + path);
  }
  const std::uint64_t offsets[] = {1, 2047, 2049, size / 3, size > 7 ? size - 7 : 0};
  for (const std::uint64_t offset : offsets) {
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(3000, offset < size ? std::min(size - offset, kMostBytesRead) : 0));
    if (count == 0 || !file->TryReadAt(offset, chunk.data(), count)) continue;
    if (offset + count <= whole.size() &&
        !std::equal(chunk.begin(), chunk.begin() + static_cast<std::ptrdiff_t>(count),
                    whole.begin() + static_cast<std::ptrdiff_t>(offset))) {
      Finding("a read at " + std::to_string(offset) + " of " + path +
              " differs from the sequential read");
    }
  }
}

// Lists the folder at `path` (the image's root or a folder in it), checks each name against
// KindOf, and reads every file.
void ListAndRead(const ImageReader& reader, const std::string& path) {
  const std::optional<std::vector<std::string>> names = reader.Entries(path, 0);
  if (!names) return;
  for (const std::string& name : *names) {
    if (name.empty() || name == "." || name == "..") Finding("listed \"" + name + "\"");
    // A name with a separator in it cannot be asked for by a path.
    if (name.find_first_of("/\\") != std::string::npos) continue;
    const std::string inner = path + "/" + name;
    const ImageEntryKind kind = reader.KindOf(inner);
    if (kind == ImageEntryKind::kNone) Finding("listed, yet not there: " + inner);
    if (kind == ImageEntryKind::kFile) {
      ReadFile(reader, inner);
    } else {
      bool opened = true;
      try {
        reader.Open(inner, nullptr, 0);
      } catch (const InputFailure&) {
        opened = false;
      }
      if (opened) Finding("opened as a file: " + inner);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  ImageFileProblem problem = ImageFileProblem::kNone;
  const std::unique_ptr<ImageReader> reader =
      velador::OpenImageBytes(kImage, std::make_unique<BufferBytes>(data, size), problem);
  if (!reader) {
    if (problem != ImageFileProblem::kNoUdf) Finding("refused, not as holding no UDF");
    return 0;
  }
  if (problem != ImageFileProblem::kNone || !reader->InFile()) Finding("opened, yet not as such");
  if (reader->KindOf(kImage) != ImageEntryKind::kFolder) Finding("the root is no folder");

  ListAndRead(*reader, kImage);
  if (reader->KindOf(std::string(kImage) + "/ADV_OBJ") == ImageEntryKind::kFolder) {
    ListAndRead(*reader, std::string(kImage) + "/ADV_OBJ");
  }
  const std::string table = std::string(kImage) + "/AACS/CONTENT_HASH_TABLE2.AACS";
  if (reader->KindOf(table) == ImageEntryKind::kFile) ReadFile(*reader, table);
  return 0;
}

#pragma once

// What a check or an extract reads of an image, whether it stands in a folder of the system's or
// is held in one disc image file (a UDF file system, as mastered for a disc): the entries of its
// folders, and its files opened to be read. Paths are composed alike for both: the image's own
// path, then its folders and files below it ("img/ADV_OBJ/menu.xml", "disc.udf/ADV_OBJ/menu.xml"),
// so that every report names a file the same way wherever it lives.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "io/checked_file.h"

namespace velador {

enum class ImageEntryKind : std::uint8_t { kNone, kFile, kFolder, kOther };

class ImageReader : public FilesToRead {
 public:
  // True for an image held in one file.
  virtual bool InFile() const = 0;

  // What stands at `path`: a link, a device or a pipe is kOther, never followed or opened.
  virtual ImageEntryKind KindOf(const std::string& path) const = 0;

  // The names of the entries of the folder at `path`, in no given order, "." and ".." left out;
  // none when it cannot be listed. `linkFree` as in platform::FolderEntries.
  virtual std::optional<std::vector<std::string>> Entries(const std::string& path,
                                                          int linkFree) const = 0;
};

// The image in a folder: the system's files, read as they stand.
class FolderImageReader final : public ImageReader {
 public:
  bool InFile() const override { return false; }
  ImageEntryKind KindOf(const std::string& path) const override;
  std::optional<std::vector<std::string>> Entries(const std::string& path,
                                                  int linkFree) const override;
  std::unique_ptr<InputFile> Open(const std::string& path, ByteCounter* counter,
                                  int linkFree) const override;
};

// Why an image file cannot be read.
enum class ImageFileProblem : std::uint8_t {
  kNone,
  kUnreadable,   // it does not open, or cannot be read
  kNoUdf,        // it holds no UDF file system this reader can read
  kUnsupported,  // this build of the tools reads no image files
};

// Whether this build reads image files at all.
bool ReadsImageFiles();

// Opens the disc image file at `path` (the user's path: a link there is followed, but only to a
// regular file). On success `problem` is kNone and the reader reads it in place, nothing copied;
// its files are read through it from any thread, each open file by one thread at a time.
std::unique_ptr<ImageReader> OpenImageFile(const std::string& path, ImageFileProblem& problem);

// As OpenImageFile, the file system held in `bytes`, its files' paths composed below `path`.
std::unique_ptr<ImageReader> OpenImageBytes(const std::string& path,
                                            std::unique_ptr<ReadableBytes> bytes,
                                            ImageFileProblem& problem);

}  // namespace velador

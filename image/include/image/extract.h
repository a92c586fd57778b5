#pragma once

// velador-image extract: every file of a disc image's ADV_OBJ folder (or of a persistent-storage
// folder) restored into an output folder, each one as `velador -d <container> <output folder>
// <key>` restores it, and each judged as the check judges it (every unit of an
// Encryption-and-Hash container compared). A refused container is still restored, as velador
// restores it; a file that is no container of a type that can be restored, or whose type needs
// the key when none was given, is not. A file already standing in the output folder is never
// replaced unless that was asked for.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "image/check.h"
#include "image/image_error.h"
#include "io/progress.h"

namespace velador {

// Why a file was not restored into the output folder.
enum class ExtractReason : std::uint8_t {
  kNone,
  kNotRestored,   // the check stopped before a restore could be made: its reason says why
  kExists,        // a file stands at the result already, and replacing was not asked for
  kPathTooLong,   // the result's path is longer than kMaxComposedPath
  kSameFile,      // the result would replace the container, the table or the key file
  kCannotCreate,  // no file can be created at the result
  kWriteFailure,  // the result could not be written completely; an earlier file is untouched
  kNameTaken,     // an earlier file of the image has a name that folds alike: it alone is restored
};

struct ExtractedFile {
  CheckedFile file;  // the verdict, as the check gives it
  bool extracted = false;
  ExtractReason reason = ExtractReason::kNone;
  std::string result;  // where its restored file goes, once composed
};

struct ImageExtract {
  std::string folder;
  std::string output;
  bool outputMade = false;  // no folder stood at the output path: it was made (as mkdir -p)
  bool inFile = false;      // the image is a disc image file, read in place
  bool disc = true;         // a disc image; false: a persistent-storage folder
  std::vector<ExtractedFile> files;  // sorted by name, byte for byte
  std::uint32_t tableCounter = 0;    // which some reasons name
  // Temporary files of the tools' own in ADV_OBJ, left by a run stopped outright: no file of
  // the image, never listed as one; the next command that changes the image removes them.
  std::uint64_t leftovers = 0;

  // True unless every file was extracted and accepted.
  bool NeedsAttention() const;

  // What the files' verdicts tell of the key, as ImageCheck::KeyFit.
  KeyVerdict KeyFit() const;
};

// Why nothing could be done (exit status 2).
enum class ImageExtractError : std::uint8_t {
  kNone,
  kKeyFile,           // the key file given does not open or holds no key (see ReadImageKeyFile)
  kKeyDoesNotFit,     // the key fits none of the files enciphered under a key (see KeyFitOfImage)
  kNoOutputFolder,    // the output path names something else than a folder, or none can be made
  kOutputInImage,     // the output folder is the image or lies inside it
  kNoFolder,          // no folder at the image's path
  kUnreadableFolder,  // the folder (or its ADV_OBJ) cannot be listed
  kNoDiscFolder,      // an image with AACS/ but without ADV_OBJ/
  kUnreadableTable,   // the table exists but cannot be read, or is too short for a counter
  kTableTooLarge,     // more entries than the check keeps count of
  kRefusedRecord,  // a record beside the table was refused (see RefusedRecordOf): the error's path
                   // names it
  kUnfinishedChange,     // a change was left half made and could not be finished: the error's path
                         // names its record  // The image's path names a regular file, a disc image
                         // file, and:
  kUnreadableImageFile,  // it does not open or cannot be read
  kNoFileSystem,         // it holds no UDF file system
  kImageFilesUnsupported,  // this build reads no image files (see ReadsImageFiles)
};

struct ImageExtractEvents {
  // Counts the bytes the files' restores and checks read, when set; it must outlive the run.
  ByteCounter* read = nullptr;
  // Once the files are listed: about how many bytes the run will read, and how many the files
  // hold (some are read twice: restored, then every unit compared).
  std::function<void(std::uint64_t bytes, std::uint64_t fileBytes)> started;
  // Each file's name as its restore begins, on the thread that restores it (any thread).
  std::function<void(const std::string& name)> working;
  // Each file as soon as it and every file before it are done, in the order of
  // ImageExtract::files.
  std::function<void(const ExtractedFile&)> done;
};

struct ExtractOptions {
  std::optional<std::string> keyPath;  // none: only the types that need no key are restored
  bool force = false;                  // a file standing at a result is replaced, not kept
};

// Restores the files of `image` (an image folder, or a disc image file holding a UDF file system)
// into the folder `output`, two at a time. Whether a result may be
// written is decided for each file before anything of it is written. On an error nothing is
// written and the error names the path concerned.
ImageError<ImageExtractError> ExtractImage(const std::string& image, const std::string& output,
                                           const ExtractOptions& options,
                                           const ImageExtractEvents& events, ImageExtract& extract);

}  // namespace velador

#pragma once

// velador-image check: every file of a disc image's ADV_OBJ folder (or of a persistent-storage
// folder) checked as a player would, in memory and writing nothing, and the content hash table
// checked against the numbers the containers name.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encapsulation/container_types.h"
#include "image/image_error.h"
#include "io/progress.h"

namespace velador {

enum class FileVerdict : std::uint8_t { kAccepted, kRefused, kNotChecked };

// The first reason a file is not accepted, in the order a check meets them.
enum class FileReason : std::uint8_t {
  kNone,
  kUnreadable,  // not checked: the file could not be opened or read
  kNoKey,       // not checked: its type needs the key, and none was given
  kFolder,      // not checked: a folder stands under that name
  kNotRegular,  // not checked: neither a regular file nor a folder (a device, a dangling link)
  kNotContainer,
  kUnknownType,
  kTooShort,
  kNameTooLong,
  kCutShort,  // shorter than its header or trailer says, read part-way
  kWrongKey,  // the stored name block deciphers to no name: the key is not the one it was made with
  kNoTable,   // hashed, and the image has no table
  kNameDiffers,
  kMacDiffers,
  kEntryDiffers,  // `unit`'s digest is not what entry `number` holds
  kNoEntry,       // `unit` carries the number 0
  kPastCounter,   // `unit` names an entry past the table's counter
  kOutsideBody,   // the trailer names `unit`, which the body does not hold
  kNoNumbers,     // units of the body have no number in the trailer
};

struct CheckedFile {
  std::string name;                   // as it stands in the folder
  std::optional<ContainerType> type;  // when it is a container of a known type
  FileVerdict verdict = FileVerdict::kRefused;
  FileReason reason = FileReason::kNone;
  std::uint64_t unit = 0;    // the unit the reason concerns (hashed types)
  std::uint32_t number = 0;  // the entry number the reason concerns
  std::uint64_t size = 0;    // bytes
  std::uint64_t unitsChecked = 0;
  std::uint64_t mismatchedUnits = 0;  // hashed types: units whose entry does not match
  // kNameDiffers: the name the container bears instead, when its name block holds one.
  std::optional<std::string> storedName;
  std::uint64_t zeroNumbers = 0;         // units carrying 0
  std::uint64_t pastCounterNumbers = 0;  // numbers past the table's counter
};

// Entry numbers from `first` to `last`.
struct EntryRange {
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

// What the check found in the content hash table. Ranges are the first kRangesKept ones.
struct TableFindings {
  static constexpr std::size_t kRangesKept = 8;
  std::string path;
  bool inStorage = false;  // a persistent-storage folder has no table
  bool needed = false;     // some file is of a hashed type
  bool present = false;
  std::uint64_t length = 0;
  std::uint32_t counter = 0;
  bool lengthMatches = true;
  std::uint64_t orphans = 0;
  std::vector<EntryRange> orphanRanges;
  std::uint64_t shared = 0;  // entries named more than once
  std::vector<EntryRange> sharedRanges;
  std::vector<std::string> sharedBy;  // the files that name a shared entry, in folder order

  // How many findings the table has; each one means a change of the image is due.
  int Count(const std::vector<CheckedFile>& files) const;
};

// What the files say of the key the check was given, taken together.
enum class KeyVerdict : std::uint8_t {
  kNothingToSay,  // no file tells, or some file shows that the key fits
  // Every file that shows whether the key fits shows it does not: each name it enciphers
  // deciphers to no name (kWrongKey), and each MAC container, if any, fails its MAC.
  kWrong,
  // Only MAC containers were checked with the key, and each one fails its MAC: a wrong key
  // cannot be told from changed content there, but is the likelier cause.
  kMaybeWrong,
};

struct ImageCheck {
  std::string folder;              // the image's path, as given
  bool inFile = false;             // the image is a disc image file, read in place
  bool disc = true;                // a disc image; false: a persistent-storage folder
  std::vector<CheckedFile> files;  // sorted by name, byte for byte
  TableFindings table;
  // Temporary files of the tools' own in ADV_OBJ, left by a run stopped outright: no file of
  // the image, never listed as one; the next command that changes the image removes them.
  std::uint64_t leftovers = 0;

  // True unless every file is accepted and the table has no finding.
  bool NeedsAttention() const;

  KeyVerdict KeyFit() const;
};

// Why a check could not be made (exit status 2).
enum class ImageCheckError : std::uint8_t {
  kNone,
  kKeyFile,           // the key file given does not open or holds no key (see ReadImageKeyFile)
  kNoFolder,          // no folder at the path given
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

// What a check tells as it goes, on the thread that called CheckImage.
struct ImageCheckEvents {
  // Counts the bytes the checks of the files read, when set; it must outlive the check.
  ByteCounter* read = nullptr;
  // Once the files are listed: about how many bytes the check will read.
  std::function<void(std::uint64_t bytes)> started;
  // Each file as soon as it and every file before it are checked, in the order of
  // ImageCheck::files.
  std::function<void(const CheckedFile&)> checked;
  // Each file's name as its check begins, on the thread that checks it (any thread).
  std::function<void(const std::string& name)> working;
};

// Runs the check of `folder` (an image folder, or a disc image file holding a UDF file system)
// with the key file at `keyPath` (none: only the types that need
// no key are checked), two files at a time. On an error it answers it, with the path
// concerned; `check` is then incomplete.
ImageError<ImageCheckError> CheckImage(const std::string& folder,
                                       const std::optional<std::string>& keyPath,
                                       const ImageCheckEvents& events, ImageCheck& check);

}  // namespace velador

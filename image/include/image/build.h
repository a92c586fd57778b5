#pragma once

// Building a disc image from a source folder: afterwards the image's ADV_OBJ holds exactly the
// source folder's files, each encapsulated as `velador -e -d` encapsulates it. New files are
// added, changed ones encapsulated again, files no longer in the source removed, and unchanged
// ones kept without enciphering them again (unchanged: the container restores to exactly the
// source file's bytes under that key and name, and a player would accept it); then the table is
// renumbered as a compaction does. The result is canonical: the same sources, key and table head
// always give a byte-identical image, whether built into an empty image or brought up to date
// from any earlier state of it.
//
// One transaction over the image, under the table's lock: a refused file, a failure or an
// interrupt leaves the image as it was; a run killed outright, or cut off by a power failure,
// leaves it as before or as after once the next run that locks the table has run.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encapsulation/container_types.h"
#include "image/add.h"
#include "image/image_error.h"

namespace velador {

enum class BuildAction : std::uint8_t {
  kAdd,      // in the source, not in the image
  kReplace,  // in both, and the container does not hold the source file as it is now
  kRemove,   // in the image, no longer in the source
  kKeep,     // in both, unchanged
  kRefused,  // in the source, and it cannot be encapsulated: `reason` says why
};

struct BuiltFile {
  std::string name;                   // in the source folder and in ADV_OBJ
  std::optional<ContainerType> type;  // of the container it gets (or had, when removed)
  BuildAction action = BuildAction::kKeep;
  AddReason reason = AddReason::kNone;  // kRefused: why (the same reasons as add's)
  std::uint32_t firstEntry = 0;         // the entries it names once built, when any
  std::uint32_t lastEntry = 0;
  bool toldByCache = false;  // kept: found unchanged from the cache, without being read
};

struct ImageBuild {
  std::string source;
  std::string image;
  bool dryRun = false;
  std::vector<std::string> excluded;  // the source's names left out (see BuildOptions::exclude)
  std::vector<BuiltFile> files;  // by name, byte for byte: the source's files, then the removed
  std::uint32_t counterBefore = 0;
  std::uint32_t counterAfter = 0;

  // False when the image was built (or, dry, would be) with every file; true when a file was
  // refused and so nothing was changed.
  bool NeedsAttention() const;
};

// Why nothing could be done at all.
enum class ImageBuildError : std::uint8_t {
  kNone,
  kKeyFile,           // the key file given does not open or holds no key (see ReadImageKeyFile)
  kKeyDoesNotFit,     // the image holds files enciphered under another key, and changeKey is off
  kKeyNeeded,         // no key given, and a source file needs one (the error's path names one)
  kNoSource,          // no folder at the source path
  kUnreadableSource,  // the source folder cannot be listed
  kSourceSubFolder,   // the source holds a folder (ADV_OBJ is flat) or another non-file entry
  kSourceInImage,     // the source is the image, or a folder inside it
  kNoFolder,          // no folder at the image path
  kNoDiscFolder,      // no ADV_OBJ in it
  kNoTable,           // no table in the image
  kUnusableTable,     // the table cannot be locked, read or written
  kUnreadableFile,  // a file of the source or of ADV_OBJ could not be read (the error's path names
                    // it)
  kWriteFailure,    // a write failed: the image is as it was
  kRefusedRecord,   // a record beside the table was refused (see RefusedRecordOf): the error's path
                    // names it
  kLeftToFinish,    // made in part after the point of no return: the next run that locks the table
                    // finishes it
};

struct BuildOptions {
  std::optional<std::string> keyPath;  // none: a source file whose type needs the key is refused
  bool dryRun = false;                 // plan only: nothing is written anywhere
  // Build even when the key fits none of the image's enciphered files (see KeyFitOfImage): every
  // file that needs a key is enciphered again, under this one. Off, such a build is refused.
  bool changeKey = false;
  // Names of the source left out of the image, as globs (see NameMatchesPattern), and, with
  // defaultExclude, those of kJunkPatterns too.
  std::vector<std::string> exclude{};
  bool defaultExclude = true;
  // Where builds keep what they learned of an image's files (see BuiltFile::toldByCache), so
  // that the next one tells an unchanged file without reading it; none: every file is compared
  // in full. A cache only ever makes a build faster: its result is the same without one.
  std::optional<std::string> cacheFolder{};
};

// The files editors and operating systems drop into folders, which no disc is meant to hold:
// left out of a build unless asked for.
inline constexpr std::string_view kJunkPatterns[] = {".DS_Store", "Thumbs.db", "desktop.ini", "*~",
                                                     ".*.swp",    ".*.swo",    "#*#"};

struct ImageBuildEvents {
  // Counts the bytes the comparing and encapsulating read, when set; it must outlive the run.
  ByteCounter* read = nullptr;
  // Once the source is listed: how many bytes comparing the files already in the image with
  // their sources, and encapsulating the new ones, will read, and how many the source files
  // hold.
  std::function<void(std::uint64_t bytes, std::uint64_t sourceBytes)> started;
  // A file compared turned out changed: it will be read this many bytes more, encapsulated anew.
  std::function<void(std::uint64_t bytes)> moreToRead;
  // Each source file as it is worked on (compared or encapsulated), on the thread that does it
  // (any thread), with its place among the files.
  std::function<void(const std::string& name, std::uint64_t done)> working;
  // Once the change is sealed (see LockedHashTable::Apply), while an interrupt still waits: what
  // it records is true whenever an interrupt ends the run. Quick, never blocking.
  std::function<void()> committed;
};

// Builds the disc image at `image` from the folder `source`. On an error nothing changed and
// the error names the path concerned; a refused file (ImageBuild::NeedsAttention) changes
// nothing either.
ImageError<ImageBuildError> BuildImage(const std::string& source, const std::string& image,
                                       const BuildOptions& options, const ImageBuildEvents& events,
                                       ImageBuild& build);

}  // namespace velador

#pragma once

// Adding files to a disc image: each encapsulated as `velador -e -d <file> <image> <key>` would
// encapsulate it (same types, same container bytes, same table entries in the order given, the
// same checks before any work), with the table locked once for the whole batch and two files
// worked on at a time. Beyond velador's refusals a batch refuses a file whose type needs the key
// when none was given, a second file of one name, by default a name that already has a file in
// ADV_OBJ, and a file the table cannot give every entry it needs.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encapsulation/container_types.h"
#include "image/encapsulation_checks.h"
#include "image/image_error.h"
#include "io/progress.h"

namespace velador {

// Why a file was not added, or what went wrong with its entries.
enum class AddReason : std::uint8_t {
  kNone,
  kNotFound,
  kAlreadyContainer,
  kTooLarge,
  kNoKey,
  kNameTooLong,
  kPathTooLong,
  kSameFile,
  kExists,  // a file of that name stands in ADV_OBJ already, and replacing was not asked for
  kCannotCreate,
  kNoTable,
  kDuplicate,  // an earlier file of the batch has the same name (letters A to Z in either case)
  kReadFailure,
  kWriteFailure,
  kTableFull,        // not added: the table is full
  kTableNotUpdated,  // not added: its entries could not be written to the table
  kReservedName,     // the name is one the tools keep for their own files (".velador-...")
};

// The reason a file is not added for each refusal of the checks before an encapsulation.
AddReason AddReasonOf(Refusal refusal);

struct AddedFile {
  std::string input;                  // as given
  std::optional<ContainerType> type;  // once known
  bool added = false;                 // the container stands in ADV_OBJ
  AddReason reason = AddReason::kNone;
  std::uint32_t firstEntry = 0;  // the entries it got, when it got any
  std::uint32_t lastEntry = 0;
  std::string result;     // where its container goes (once the checks composed it)
  bool replaced = false;  // added in the place of a file that stood there
  // Replacing a container: the distinct entry numbers the earlier one named, which no
  // container of the image names now unless another one shares them.
  std::uint64_t entriesLeftUnused = 0;

  // Added with every entry it needs.
  bool Complete() const { return added && reason == AddReason::kNone; }
};

struct ImageAdd {
  std::vector<AddedFile> files;  // in the order given

  // True unless every file was added completely.
  bool NeedsAttention() const;
};

// Why nothing could be done (exit status 2).
enum class ImageAddError : std::uint8_t {
  kNone,
  kKeyFile,        // the key file given does not open or holds no key (see ReadImageKeyFile)
  kKeyDoesNotFit,  // the image holds files enciphered under another key (see KeyFitOfImage)
  kNoDiscFolder,   // no ADV_OBJ folder in the image
  kNotWritable,    // ADV_OBJ takes no new file
  kUnusableTable,  // a file needs the table, and it cannot be updated
  kRefusedRecord,  // a record beside the table was refused (see RefusedRecordOf): the error's path
                   // names it
};

struct ImageAddEvents {
  // Counts the bytes the files' encapsulations read, when set; it must outlive the run.
  ByteCounter* read = nullptr;
  // Once the files are looked at: how many bytes will be read.
  std::function<void(std::uint64_t bytes)> started;
  // Each file as given, as its encapsulation begins, on the thread that does it (any thread).
  std::function<void(const std::string& input)> working;
  // Each file as soon as it and every file before it are done, in the order given.
  std::function<void(const AddedFile&)> done;
  // Each file just before `done`, while an interrupt still waits: what it records is true of
  // the image whenever an interrupt ends the run (a file it was told of is in place, or was not
  // added; every later one is not in the image). It must be quick and never block.
  std::function<void(const AddedFile&)> settled;
};

struct AddOptions {
  std::optional<std::string> keyPath;  // none: only the types that need no key are added
  bool replace = false;  // a file of the same name in ADV_OBJ is replaced instead of refused
};

// Adds `files` to the disc image at `image`. On an error nothing is written and the error
// names the path concerned.
ImageError<ImageAddError> AddToImage(const std::string& image, const AddOptions& options,
                                     const std::vector<std::string>& files,
                                     const ImageAddEvents& events, ImageAdd& add);

}  // namespace velador

#pragma once

// Compacting a disc image, and removing containers from it: the content hash table renumbered
// so that it holds exactly the entries the containers of ADV_OBJ name, from 1, in a fixed order
// (by container name, byte for byte, then unit), each container's trailer rewritten where its
// numbers change. Entry values are moved, never computed from the stored bytes, so that no
// file's verdict changes: a unit whose entry differs still differs, a unit carrying 0 still
// carries 0, a number past the counter stays past it, and two containers that named one entry
// get a copy each. The table's first 40056 bytes are kept. The cost grows with the number of
// entries and containers, not with the size of the content: only trailers and the table are
// written, never a whole container.
//
// Each call is one transaction over the image, under the table's lock: a failure or an
// interrupt leaves the image as it was; a run killed outright, or cut off by a power failure,
// leaves it as before or as after once the next run that locks the table has run.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "encapsulation/container_types.h"
#include "image/image_error.h"
#include "io/progress.h"

namespace velador {

// A container of the image as the compaction left it.
struct CompactedFile {
  std::string name;                   // in ADV_OBJ
  std::optional<ContainerType> type;  // none: no container of a known type (left as it is)
  std::uint64_t numbers = 0;          // entry numbers its trailer holds
  std::uint32_t firstEntry = 0;       // the entries it names after the compaction, when any
  std::uint32_t lastEntry = 0;
  bool rewritten = false;  // its trailer changed
};

struct ImageCompact {
  std::string folder;
  std::uint32_t counterBefore = 0;
  std::uint32_t counterAfter = 0;
  std::uint64_t orphansDropped = 0;  // entries no container named
  std::uint64_t copiesMade = 0;      // entries named more than once, given one copy per naming
  std::uint64_t lengthBefore = 0;
  std::uint64_t lengthAfter = 0;
  std::vector<CompactedFile> files;  // every entry of ADV_OBJ, sorted by name
  std::vector<std::string> removed;  // remove: the containers removed, in the order given

  // A change made needs nothing more.
  bool NeedsAttention() const { return false; }
};

// Why nothing was changed.
enum class ImageChangeError : std::uint8_t {
  kNone,
  kNoFolder,          // no folder at the path given
  kNoDiscFolder,      // no ADV_OBJ in it
  kUnreadableFolder,  // ADV_OBJ cannot be listed
  kNoTable,           // no table in the image
  kUnusableTable,     // the table cannot be locked, read or written, or is shorter than 40060 bytes
  kUnreadableFile,    // a container of ADV_OBJ could not be read (the error's path names it)
  kNotInImage,        // remove: a name given has no file in ADV_OBJ (the error's path names it)
  kWriteFailure,      // a write failed: the image is as it was
  kLinkInImage,       // a symbolic link stands in ADV_OBJ (the error's path names it): nothing is
                      // changed
  kLeftToFinish,   // made in part after the point of no return: the next run that locks the table
                   // finishes it
  kRefusedRecord,  // a record beside the table was refused (see RefusedRecordOf): the error's path
                   // names it
};

struct ImageChangeEvents {
  // Counts, for each container once its header and trailer are read, the bytes it holds (only
  // those two parts of it are read), when set; it must outlive the run.
  ByteCounter* read = nullptr;
  // Once the containers are listed: how many bytes they hold.
  std::function<void(std::uint64_t bytes)> started;
  // Each container as its trailer is read (the file at work), with how many are done.
  std::function<void(const std::string& name, std::uint64_t done)> reading;
  // Once the change is sealed (see LockedHashTable::Apply), while an interrupt still waits: what
  // it records is true whenever an interrupt ends the run. Quick, never blocking.
  std::function<void()> committed;
};

// Renumbers the table of the disc image at `image`. On an error nothing changed and the error
// names the path concerned.
ImageError<ImageChangeError> CompactImage(const std::string& image, const ImageChangeEvents& events,
                                          ImageCompact& compact);

// Removes the files named `names` (names in ADV_OBJ, letters as they stand) and compacts, in one
// transaction: their entries go with them. A name with no file refuses the whole removal.
ImageError<ImageChangeError> RemoveFromImage(const std::string& image,
                                             const std::vector<std::string>& names,
                                             const ImageChangeEvents& events,
                                             ImageCompact& compact);

}  // namespace velador

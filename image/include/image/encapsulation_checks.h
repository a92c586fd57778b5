#pragma once

// The checks a run makes before it writes anything: whether its input may be encapsulated (or
// decapsulated) and whether its result may be written where it goes. Both programs make them
// through here, in the same order, so that they refuse exactly the same inputs; where they must
// differ, a field of DestinationRules says how.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"
#include "io/checked_file.h"

namespace velador {

// Why a run may not go on, in the order the checks meet them.
enum class Refusal : std::uint8_t {
  kNone,
  kInputNotFound,     // no regular file at the input path, or it cannot be read
  kAlreadyContainer,  // encapsulating a file that starts with "AACS"
  kTooLarge,          // more content than a container's size field describes
  kNameTooLong,       // the input's name does not fit a name block
  kPathTooLong,       // the result's or the table's path is longer than kMaxComposedPath
  kSameFile,          // the result would replace the input, the table or the key file
  kResultExists,      // a file already stands at the result (only where the rules say so)
  kCannotCreate,      // no file can be created at the result (no such folder, not writable)
  kNoTable,           // a hashed type, and the image has no table that opens
};

// The longest path a run composes: what a path buffer of the front end holds.
inline constexpr std::size_t kMaxComposedPath = 271;

// An input file opened once: its checks and the operation that follows read the same file, even
// when the path comes to name another one meanwhile (a link retargeted, a file replaced).
struct OpenedInput {
  UniqueFile file;
  std::uint64_t length = 0;
  layout::HeaderFields header;
};

// Opens the regular file at `path` and reads its header as far as it goes; none when it does not
// open or cannot be read (kInputNotFound). `linkFree` as in platform::OpenFile.
std::optional<OpenedInput> OpenInput(const std::string& path, int linkFree = 0);

// What the input itself allows an encapsulation: no container yet, not too large.
Refusal CheckInputForEncapsulation(const OpenedInput& input);

// What differs between the programs where a result is written.
struct DestinationRules {
  Direction direction = Direction::kEncapsulate;
  bool forDisc = true;  // encapsulating into a disc image's ADV_OBJ, not persistent storage
  // The key file the run reads, if it reads one: never replaced by the result. A batch reads its
  // key once for all its files, so the key stays out of reach of every file of it, of whatever
  // type.
  std::optional<std::string> keyPath;
  // The table a decapsulation reads (derived from the container's path): never replaced either.
  std::string tableRead;
  // The disc image file the input and the table are read from, if they are: never replaced.
  std::optional<std::string> imageFile;
  // Refuse, with kResultExists, a result that would replace a file already standing there.
  bool keepExisting = false;
  // False: a file already standing at the result is not probed here, for a run that may keep
  // it as it is (one that then replaces it asks ResultCanBeCreated first).
  bool probeExisting = true;
  // True: the run holds the destination's table open (locked) already, and it is not opened
  // again for each file.
  bool tableHeld = false;
};

// Whether the result can be written: a new file can be created at `path` or, where a file
// already stands there, that file is a regular file open to reading and writing (on Windows, no
// other program holds it against that); and its folder takes the temporary file the result is
// first written to. Leaves every file as it was. With `linkFree` (a result inside a disc image),
// a link there is no file to replace.
bool ResultCanBeCreated(const std::string& path, int linkFree);

// The paths a run writes to and reads from, as the destination checks composed them. Filled as
// far as the checks got: `name` and `result` once the lengths passed, `table` (encapsulating a
// hashed type) once the result was found creatable.
struct Destination {
  std::string name;    // the input's own name, which the name block carries
  std::string result;  // the file the run writes
  std::string table;   // encapsulating a hashed type: the image's table
};

// Composes where the run with input `input` of type `type` writes into `output` and checks, in
// this order, the name's length, the paths' lengths, that the result replaces nothing the run
// reads (by text, letters and separators folded, or by identity), that it replaces nothing at
// all where the rules keep existing files, that it can be created, and, encapsulating a hashed
// type, that the table opens. Changes no file.
Refusal CheckDestination(std::string_view input, std::string_view output, ContainerType type,
                         const DestinationRules& rules, Destination& destination);

// Whether the paths name one file: equal as text with letters and separators folded, or one
// file of the system's however they are spelt.
bool SameFile(const std::string& first, const std::string& second);

}  // namespace velador

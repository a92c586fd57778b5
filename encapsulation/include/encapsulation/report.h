#pragma once

// What one container operation did, as a plain value: the front end renders it as console text,
// and any other program can read the verdicts from it directly.

#include <array>
#include <cstdint>
#include <vector>

#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"

namespace velador {

using MacTag = std::array<std::uint8_t, 16>;
// Bytes 12 to 19 of a SHA-1 digest: what the content hash table keeps.
using DigestTail = std::array<std::uint8_t, 8>;

// Why an operation stopped before its result was complete. The earlier file at the result
// path, if any, is then untouched.
enum class Failure : std::uint8_t {
  kNone,
  kRead,   // the input could not be read, or is not what its header promised
  kWrite,  // the result could not be written completely
};

// What happened to the content hash table while entries were being added.
enum class TableEvent : std::uint8_t {
  kFull,        // the counter stands at its maximum: nothing was added from there on
  kNotUpdated,  // the table could not be updated: the numbers handed out are void
};

struct OperationReport {
  ContainerType type = ContainerType::kNonProtected;
  Direction direction = Direction::kEncapsulate;
  Failure failure = Failure::kNone;
  std::vector<TableEvent> tableEvents;  // in the order they happened

  Key key{};  // the key the operation used (all zero for Hash)

  // Encapsulation.
  MacTag tag{};             // MAC: the tag stored in the trailer
  DigestTail digestTail{};  // Hash: of the body; Encryption-and-Hash: of the last unit tried

  // Decapsulation.
  bool nameMatches = false;  // the stored name block against the container's own name
  // The stored name block as read, deciphered under `key` for the types that encipher it: a
  // block that is no name followed by zero bytes tells a wrong key from a changed name.
  layout::NameBlock storedName{};
  bool tableFound = false;         // hashed types: the table could be opened for lookup
  bool contentMatches = false;     // the MAC, the hash, or every unit checked
  std::uint64_t unitsChecked = 0;  // Encryption-and-Hash: units compared with their entries

  bool Completed() const { return failure == Failure::kNone; }

  // Whether a player would take the restored file: every check the type makes passed. The
  // hashed types cannot be judged without their table.
  bool PlayerAccepts() const;
};

}  // namespace velador

#pragma once

// The five container types, one row each: everything the tool knows about a type apart from
// its console texts (which live with the other texts of the front end) and the steps of its
// two operations (one source file per type). Adding or changing a type is one row here and
// one file.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace velador {

enum class ContainerType : std::uint8_t {
  kEncryption,
  kEncryptionHash,
  kMac,
  kHash,
  kNonProtected,
};

enum class Direction : std::uint8_t { kEncapsulate, kDecapsulate };

// The AES-128 key: the first 16 bytes of the key file.
using Key = std::array<std::uint8_t, 16>;

// What stands enciphered in a container of the type.
enum class Encipherment : std::uint8_t {
  kNothing,
  kNameBlock,  // the name block alone
  kBody,       // name block and content in one CBC run, but for the clear tail
};

// What follows the body.
enum class Trailer : std::uint8_t {
  kNone,
  kMac,           // the 16-byte AES-CMAC of the body
  kEntryNumber,   // one 4-byte table entry number for the whole body
  kEntryPerUnit,  // one 4-byte table entry number per 512-byte unit of the enciphered body
};

class Encapsulator;
struct OperationReport;
using Operation = OperationReport (*)(Encapsulator&, const Key&);

struct TypeFacts {
  ContainerType type;
  int number;         // the front end's number for the type: 1 to 5
  std::uint8_t code;  // byte 4 of a container
  Encipherment encipherment;
  Trailer trailer;
  bool needsKey;
  Operation encapsulate;
  Operation decapsulate;

  // The hashed types keep their digests in the disc image's content hash table.
  bool UsesTable() const {
    return trailer == Trailer::kEntryNumber || trailer == Trailer::kEntryPerUnit;
  }
};

// The row of `type`.
const TypeFacts& FactsOf(ContainerType type);

// The type whose containers carry `code` in byte 4, if any.
std::optional<ContainerType> TypeOfCode(std::uint8_t code);

// All rows, in the order of the front end's numbers.
const std::array<TypeFacts, 5>& AllTypes();

// Folds the letters A to Z to lower case and leaves every other byte as it is: names, endings
// and options are compared this way whatever the system's locale, and so are paths by the
// systems (Windows among them) that take letters of either case as one.
constexpr char FoldLetter(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names a system that folds letters A to Z takes for one file.
constexpr bool FoldAlike(std::string_view first, std::string_view second) {
  if (first.size() != second.size()) return false;
  for (std::size_t i = 0; i < first.size(); ++i) {
    if (FoldLetter(first[i]) != FoldLetter(second[i])) return false;
  }
  return true;
}

// The type a file is encapsulated as, from the last three characters of its path (the letters
// A to Z folded to lower case; no dot is looked for, so ".js" keeps its dot and "menuxml" counts
// as xml) and its destination: a disc image or persistent storage. A path shorter than three
// characters, or an ending in no row, gets Non-Protected.
ContainerType TypeForName(std::string_view path, bool forDisc);

}  // namespace velador

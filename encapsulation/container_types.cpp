#include "encapsulation/container_types.h"

#include <string>

#include "encapsulation/encapsulator.h"

namespace velador {

namespace {

constexpr std::array<TypeFacts, 5> kTypes = {{
    {ContainerType::kEncryption, 1, 0x01, Encipherment::kBody, Trailer::kNone, true,
     [](Encapsulator& e, const Key& key) { return e.EncapsulateEncryption(key); },
     [](Encapsulator& e, const Key& key) { return e.DecapsulateEncryption(key); }},
    {ContainerType::kEncryptionHash, 2, 0x11, Encipherment::kBody, Trailer::kEntryPerUnit, true,
     [](Encapsulator& e, const Key& key) { return e.EncapsulateEncryptionHash(key); },
     [](Encapsulator& e, const Key& key) { return e.DecapsulateEncryptionHash(key); }},
    {ContainerType::kMac, 3, 0x02, Encipherment::kNothing, Trailer::kMac, true,
     [](Encapsulator& e, const Key& key) { return e.EncapsulateMac(key); },
     [](Encapsulator& e, const Key& key) { return e.DecapsulateMac(key); }},
    {ContainerType::kHash, 4, 0x12, Encipherment::kNothing, Trailer::kEntryNumber, false,
     [](Encapsulator& e, const Key&) { return e.EncapsulateHash(); },
     [](Encapsulator& e, const Key&) { return e.DecapsulateHash(); }},
    {ContainerType::kNonProtected, 5, 0x21, Encipherment::kNameBlock, Trailer::kNone, true,
     [](Encapsulator& e, const Key& key) { return e.EncapsulateNonProtected(key); },
     [](Encapsulator& e, const Key& key) { return e.DecapsulateNonProtected(key); }},
}};

// FactsOf finds a type's row by the type's value: every type has its row, in the enum's order.
constexpr bool RowsInTheOrderOfTheTypes() {
  for (std::size_t i = 0; i < kTypes.size(); ++i) {
    if (static_cast<std::size_t>(kTypes[i].type) != i) return false;
  }
  return static_cast<std::size_t>(ContainerType::kNonProtected) + 1 == kTypes.size();
}
static_assert(RowsInTheOrderOfTheTypes());

struct ExtensionRow {
  std::string_view extension;
  ContainerType forDisc;
  ContainerType forStorage;
};

// Compared in this order on the last three characters of the path, folded to lower case.
constexpr ContainerType kEncryption = ContainerType::kEncryption;
constexpr std::array<ExtensionRow, 17> kExtensionTable = {{
    {"jpg", kEncryption, kEncryption},
    {"png", kEncryption, kEncryption},
    {"mng", kEncryption, kEncryption},
    {"cvi", kEncryption, kEncryption},
    {"cdw", kEncryption, kEncryption},
    {"otf", kEncryption, kEncryption},
    {"ttf", kEncryption, kEncryption},
    {"ttc", kEncryption, kEncryption},
    {".js", ContainerType::kEncryptionHash, ContainerType::kMac},
    {"xml", ContainerType::kHash, ContainerType::kMac},
    {"xpl", ContainerType::kHash, ContainerType::kMac},
    {"xmf", ContainerType::kHash, ContainerType::kMac},
    {"xmu", ContainerType::kHash, ContainerType::kMac},
    {"xts", ContainerType::kHash, ContainerType::kMac},
    {"xas", ContainerType::kHash, ContainerType::kMac},
    {"xss", ContainerType::kHash, ContainerType::kMac},
    {"xul", ContainerType::kHash, ContainerType::kMac},
}};

}  // namespace

ContainerType TypeForName(std::string_view path, bool forDisc) {
  if (path.size() < 3) return ContainerType::kNonProtected;
  std::string extension(path.substr(path.size() - 3));
  for (char& c : extension) c = FoldLetter(c);
  for (const ExtensionRow& row : kExtensionTable) {
    if (row.extension == extension) return forDisc ? row.forDisc : row.forStorage;
  }
  return ContainerType::kNonProtected;
}

const std::array<TypeFacts, 5>& AllTypes() { return kTypes; }

const TypeFacts& FactsOf(ContainerType type) { return kTypes[static_cast<std::size_t>(type)]; }

std::optional<ContainerType> TypeOfCode(std::uint8_t code) {
  for (const TypeFacts& facts : kTypes) {
    if (facts.code == code) return facts.type;
  }
  return std::nullopt;
}

}  // namespace velador

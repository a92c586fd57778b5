#include "encapsulation/container_types.h"

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

}  // namespace

const std::array<TypeFacts, 5>& AllTypes() {
  return kTypes;
}

const TypeFacts& FactsOf(ContainerType type) {
  return kTypes[static_cast<std::size_t>(type)];
}

std::optional<ContainerType> TypeOfCode(std::uint8_t code) {
  for (const TypeFacts& facts : kTypes) {
    if (facts.code == code) return facts.type;
  }
  return std::nullopt;
}

}  // namespace velador

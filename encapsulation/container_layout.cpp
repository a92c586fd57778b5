#include "encapsulation/container_layout.h"

#include <algorithm>

#include "crypto/constant_time.h"

namespace velador::layout {

namespace {

constexpr std::size_t kSizeOffset = 7;
constexpr std::uint8_t kSecondTypeByte = 0x00;
constexpr std::uint8_t kKeyFlagWithKey = 0x01;
constexpr std::uint8_t kKeyFlagWithoutKey = 0x00;

std::uint64_t TrailerLengthFor(Trailer trailer, std::uint64_t encipheredLength) {
  switch (trailer) {
    case Trailer::kMac:
      return kMacLength;
    case Trailer::kEntryNumber:
      return kEntryNumberLength;
    case Trailer::kEntryPerUnit:
      return kEntryNumberLength * UnitCount(encipheredLength);
    case Trailer::kNone:
      break;
  }
  return 0;
}

// A to Z as a to z, every other byte as it is, by arithmetic alone: a name block deciphered
// under a secret key must not steer a branch.
std::uint8_t FoldLetterBits(std::uint8_t byte) {
  const unsigned b = byte;
  const unsigned belowA = (b - 'A') >> 31, aboveZ = ('Z' - b) >> 31;
  const unsigned letter = 1 ^ (belowA | aboveZ);
  return static_cast<std::uint8_t>(b | (letter << 5));
}

std::uint64_t EncipheredPartOf(Encipherment encipherment, std::uint64_t bodyLength) {
  switch (encipherment) {
    case Encipherment::kNameBlock:
      return kNameBlockLength;
    case Encipherment::kBody:
      return EncipheredLength(bodyLength);
    case Encipherment::kNothing:
      break;
  }
  return 0;
}

}  // namespace

std::uint32_t DecodeNumber(const std::uint8_t* bytes) {
  return std::uint32_t{bytes[0]} << 24 | std::uint32_t{bytes[1]} << 16 |
         std::uint32_t{bytes[2]} << 8 | std::uint32_t{bytes[3]};
}

void EncodeNumber(std::uint32_t value, std::uint8_t* bytes) {
  bytes[0] = static_cast<std::uint8_t>(value >> 24);
  bytes[1] = static_cast<std::uint8_t>(value >> 16);
  bytes[2] = static_cast<std::uint8_t>(value >> 8);
  bytes[3] = static_cast<std::uint8_t>(value);
}

HeaderBytes EncodeHeader(ContainerType type, std::uint64_t contentSize) {
  const TypeFacts& facts = FactsOf(type);
  HeaderBytes header{};
  std::copy(kMagic.begin(), kMagic.end(), header.begin());
  header[kTypeCodeOffset] = facts.code;
  header[kTypeCodeOffset + 1] = kSecondTypeByte;
  header[kTypeCodeOffset + 2] = facts.needsKey ? kKeyFlagWithKey : kKeyFlagWithoutKey;
  EncodeNumber(static_cast<std::uint32_t>(contentSize), header.data() + kSizeOffset);
  return header;
}

HeaderFields DecodeHeader(const std::uint8_t* bytes, std::size_t count) {
  HeaderFields fields;
  fields.hasMagic = count >= kMagic.size() && std::equal(kMagic.begin(), kMagic.end(), bytes);
  if (count > kTypeCodeOffset) fields.typeCode = bytes[kTypeCodeOffset];
  if (count >= kHeaderLength) fields.contentSize = DecodeNumber(bytes + kSizeOffset);
  return fields;
}

std::optional<Regions> LocateRegions(ContainerType type, std::uint64_t fileSize,
                                     std::optional<std::uint32_t> contentSize) {
  const TypeFacts& facts = FactsOf(type);
  Regions regions;
  if (facts.trailer == Trailer::kEntryPerUnit) {
    // The only type whose trailer length depends on the content: the size field places it.
    if (!contentSize) return std::nullopt;
    regions.bodyLength = kNameBlockLength + std::uint64_t{*contentSize};
    regions.trailerOffset = kHeaderLength + regions.bodyLength;
    if (fileSize < regions.trailerOffset) return std::nullopt;
    regions.trailerLength = fileSize - regions.trailerOffset;
  } else {
    regions.trailerLength = TrailerLengthFor(facts.trailer, 0);
    if (fileSize < kContentOffset + regions.trailerLength) return std::nullopt;
    regions.trailerOffset = fileSize - regions.trailerLength;
    regions.bodyLength = regions.trailerOffset - kHeaderLength;
  }
  regions.encipheredLength = EncipheredPartOf(facts.encipherment, regions.bodyLength);
  return regions;
}

Regions RegionsForContent(ContainerType type, std::uint64_t contentSize) {
  const TypeFacts& facts = FactsOf(type);
  Regions regions;
  regions.bodyLength = kNameBlockLength + contentSize;
  regions.encipheredLength = EncipheredPartOf(facts.encipherment, regions.bodyLength);
  regions.trailerOffset = kHeaderLength + regions.bodyLength;
  regions.trailerLength = TrailerLengthFor(facts.trailer, regions.encipheredLength);
  return regions;
}

NameBlock MakeNameBlock(std::string_view name) {
  NameBlock block{};
  name = name.substr(0, kMaxNameLength);
  auto end = std::copy(name.begin(), name.end(), block.begin());
  std::copy(kNameSuffix.begin(), kNameSuffix.end(), end);
  return block;
}

bool NamesMatch(const NameBlock& stored, const NameBlock& expected) {
  NameBlock storedFolded, expectedFolded;
  for (std::size_t i = 0; i < stored.size(); ++i) {
    storedFolded[i] = FoldLetterBits(stored[i]);
    expectedFolded[i] = FoldLetterBits(expected[i]);
  }
  return EqualInConstantTime(storedFolded.data(), expectedFolded.data(), storedFolded.size());
}

std::optional<std::string> NameInBlock(const NameBlock& block) {
  const auto end = std::find(block.begin(), block.end(), std::uint8_t{0});
  if (end == block.begin() ||
      std::any_of(end, block.end(), [](std::uint8_t b) { return b != 0; })) {
    return std::nullopt;
  }
  std::string name(block.begin(), end);
  const auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
  const bool suffixed =
      name.size() >= kNameSuffix.size() &&
      std::equal(kNameSuffix.begin(), kNameSuffix.end(), name.end() - kNameSuffix.size(),
                 [&](char a, char b) { return a == fold(b); });
  if (end == block.end() && !suffixed) return std::nullopt;
  if (suffixed) name.resize(name.size() - kNameSuffix.size());
  return name;
}

}  // namespace velador::layout

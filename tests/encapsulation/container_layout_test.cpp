// The container format on its own: numbers, headers, and where the regions of every type lie
// for every length a container may have.

#include "encapsulation/container_layout.h"

#include <gtest/gtest.h>

#include "support/bytes.h"

namespace velador::testing {
namespace {

using layout::Regions;

TEST(ContainerLayout, NumbersAreStoredMostSignificantByteFirst) {
  const std::pair<std::uint32_t, Bytes> cases[] = {{0u, Bytes(4, '\0')},
                                                   {1u, Bytes("\x00\x00\x00\x01", 4)},
                                                   {0x3E8u, Bytes("\x00\x00\x03\xe8", 4)},
                                                   {0x12345678u, "\x12\x34\x56\x78"},
                                                   {0xFFFFFFFFu, "\xff\xff\xff\xff"}};
  for (const auto& [value, bytes] : cases) {
    EXPECT_EQ(layout::DecodeNumber(Raw(bytes)), value);
    std::uint8_t encoded[4] = {};
    layout::EncodeNumber(value, encoded);
    EXPECT_EQ(Bytes(encoded, encoded + 4), bytes) << value;
  }
}

TEST(ContainerLayout, HeadersOfEveryType) {
  for (const TypeFacts& facts : AllTypes()) {
    const layout::HeaderBytes header = layout::EncodeHeader(facts.type, 1000);
    EXPECT_EQ(Bytes(header.begin(), header.end()), Header(facts.code, 1000)) << facts.number;
    EXPECT_EQ(TypeOfCode(facts.code), facts.type);
  }
}

// Byte 4 alone names the type; bytes 5 and 6 are never examined.
TEST(ContainerLayout, EveryValueOfTheTypeCodeAndTheTwoBytesAfterIt) {
  for (std::size_t offset = 4; offset <= 6; ++offset) {
    for (int value = 0; value < 256; ++value) {
      Bytes bytes = Header(0x21, 7);
      bytes[offset] = static_cast<char>(value);
      const layout::HeaderFields fields = layout::DecodeHeader(Raw(bytes), bytes.size());
      EXPECT_TRUE(fields.hasMagic);
      EXPECT_EQ(fields.contentSize, 7u);
      const std::uint8_t code = offset == 4 ? static_cast<std::uint8_t>(value) : 0x21;
      EXPECT_EQ(fields.typeCode, code);
      const bool known =
          code == 0x01 || code == 0x02 || code == 0x11 || code == 0x12 || code == 0x21;
      EXPECT_EQ(TypeOfCode(code).has_value(), known) << offset << " " << value;
    }
  }
}

TEST(ContainerLayout, ShortHeadersSayOnlyWhatTheyHold) {
  const Bytes header = Header(0x11, 5);
  for (std::size_t count = 0; count <= header.size(); ++count) {
    const layout::HeaderFields fields = layout::DecodeHeader(Raw(header), count);
    EXPECT_EQ(fields.hasMagic, count >= 4) << count;
    EXPECT_EQ(fields.typeCode.has_value(), count >= 5) << count;
    EXPECT_EQ(fields.contentSize.has_value(), count == 11) << count;
  }
  EXPECT_FALSE(layout::DecodeHeader(Raw("AACX"), 4).hasMagic);
}

// Every length of a container from empty to its full size (and beyond for the trailer of the
// Encryption-and-Hash type): the regions are located exactly from the fixed part's length on,
// lie inside the file, and add up to it.
TEST(ContainerLayout, EveryTruncationOfEveryType) {
  constexpr std::uint32_t kContent = 1000;
  for (const TypeFacts& facts : AllTypes()) {
    const Regions written = layout::RegionsForContent(facts.type, kContent);
    const std::uint64_t full = written.trailerOffset + written.trailerLength;
    const std::uint64_t fixedPart =
        facts.trailer == Trailer::kEntryPerUnit ? 283 + kContent : 283 + written.trailerLength;
    for (std::uint64_t size = 0; size <= full + 8; ++size) {
      const auto regions = layout::LocateRegions(
          facts.type, size, size >= 11 ? std::optional(kContent) : std::nullopt);
      ASSERT_EQ(regions.has_value(), size >= fixedPart) << facts.number << " " << size;
      if (!regions) continue;
      EXPECT_EQ(11 + regions->bodyLength, regions->trailerOffset);
      EXPECT_EQ(regions->trailerOffset + regions->trailerLength, size);
      EXPECT_LE(regions->encipheredLength, regions->bodyLength);
      if (size == full) {
        EXPECT_EQ(regions->bodyLength, written.bodyLength);
        EXPECT_EQ(regions->encipheredLength, written.encipheredLength);
        EXPECT_EQ(regions->trailerLength, written.trailerLength);
      }
    }
  }
}

TEST(ContainerLayout, WrittenRegionsOfAThousandBytes) {
  struct Case {
    ContainerType type;
    std::uint64_t enciphered, trailer;
  } cases[] = {
      {ContainerType::kNonProtected, 272, 0},
      {ContainerType::kEncryption, 1264, 0},  // 1272 rounded down: an 8-byte clear tail
      {ContainerType::kMac, 0, 16},
      {ContainerType::kHash, 0, 4},
      {ContainerType::kEncryptionHash, 1264, 12},  // units of 512, 512 and 240 bytes
  };
  for (const Case& c : cases) {
    const Regions regions = layout::RegionsForContent(c.type, 1000);
    EXPECT_EQ(regions.bodyLength, 1272u);
    EXPECT_EQ(regions.encipheredLength, c.enciphered);
    EXPECT_EQ(regions.trailerOffset, 1283u);
    EXPECT_EQ(regions.trailerLength, c.trailer);
  }
  // An empty file still has one short unit: the name block.
  EXPECT_EQ(layout::RegionsForContent(ContainerType::kEncryptionHash, 0).trailerLength, 4u);
}

TEST(ContainerLayout, NameBlocksAndTheirComparison) {
  const layout::NameBlock block = layout::MakeNameBlock("menu.xml");
  EXPECT_EQ(Bytes(block.begin(), block.end()), NameBlock("menu.xml"));
  const std::string longest(267, 'n');
  const layout::NameBlock full = layout::MakeNameBlock(longest);
  EXPECT_EQ(Bytes(full.begin(), full.end()), longest + ".AACS");
  EXPECT_TRUE(layout::NamesMatch(layout::MakeNameBlock("MENU.XML"), block));
  // Only A to Z fold: 0xC9 and 0xE9 (É and é) stay different.
  EXPECT_FALSE(
      layout::NamesMatch(layout::MakeNameBlock("\xC9.xml"), layout::MakeNameBlock("\xE9.xml")));
  EXPECT_FALSE(layout::NamesMatch(layout::MakeNameBlock("menu.xm"), block));
}

// The comparison folds by arithmetic rather than by a test on the byte; every pair of byte
// values, at the first and at the last byte of the block, against the plain rule.
TEST(ContainerLayout, NameComparisonFoldsExactlyTheLettersAToZ) {
  const auto fold = [](int b) { return b >= 'A' && b <= 'Z' ? b + 32 : b; };
  for (std::size_t at : {std::size_t{0}, layout::kNameBlockLength - 1}) {
    for (int a = 0; a < 256; ++a) {
      for (int b = 0; b < 256; ++b) {
        layout::NameBlock stored = layout::MakeNameBlock("menu.xml"), expected = stored;
        stored[at] = static_cast<std::uint8_t>(a);
        expected[at] = static_cast<std::uint8_t>(b);
        ASSERT_EQ(layout::NamesMatch(stored, expected), fold(a) == fold(b))
            << "byte " << at << ": " << a << " against " << b;
      }
    }
  }
}

// What a stored name block says, or that it is noise: a wrong key deciphers it to bytes that
// are no name followed by zeros.
TEST(ContainerLayout, NameInBlockTellsANameFromNoise) {
  const auto block = [](const Bytes& bytes) {
    layout::NameBlock b{};
    std::copy(bytes.begin(), bytes.end(), b.begin());
    return b;
  };
  const std::string longest(267, 'n');
  const struct {
    const char* label;
    layout::NameBlock stored;
    std::optional<std::string> name;
  } cases[] = {
      {"made by the tool", layout::MakeNameBlock("menu.xml"), "menu.xml"},
      {"suffix in lower case", block("menu.xml.aacs"), "menu.xml"},
      {"no suffix", block("menu.xml"), "menu.xml"},
      {"longest, no zero byte", layout::MakeNameBlock(longest), longest},
      {"empty", block(""), std::nullopt},
      {"a byte after the first zero", block(Bytes("menu.xml\0x", 10)), std::nullopt},
      {"full without suffix", block(Bytes(272, 'n')), std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(layout::NameInBlock(c.stored), c.name) << c.label;
}

}  // namespace
}  // namespace velador::testing

// HashTableWriter and MatchHashTableEntry on table files: numbering and carries, where entries
// land, the tables it refuses, and the lock it holds.

#include "encapsulation/content_hash_table.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace fs = std::filesystem;

const Bytes kTailA("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
const Bytes kTailB("\xa0\xb1\xc2\xd3\xe4\xf5\x06\x17", 8);
const Bytes kTailC("\xff\x00\xff\x00\x10\x20\x30\x40", 8);

const std::uint8_t* Raw(const Bytes& b) { return reinterpret_cast<const std::uint8_t*>(b.data()); }

Bytes Be(std::uint32_t v) {
  return Bytes{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8),
               static_cast<char>(v)};
}

// A table with a recognisable leading region, the counter, and `entries` entries of 0x5a.
Bytes Table(std::uint32_t counter, std::size_t entries) {
  return SampleContent(40056, 17) + Be(counter) + Bytes(8 * entries, '\x5a');
}

class HashTableWriterTest : public ::testing::Test {
 protected:
  std::string PathOf() const { return w.Path("table").string(); }
  void Put(const Bytes& table) const { w.Write("table", table); }
  Bytes Get() const { return w.Read("table"); }

  Workspace w;
};

TEST_F(HashTableWriterTest, FreshTableGetsNumberOneAndGrowsByOneEntry) {
  Put(Table(0, 0));
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0;
    EXPECT_EQ(writer.Add(Raw(kTailA), false, number), HashTableWriter::Outcome::kAdded);
    EXPECT_EQ(number, 1u);
    EXPECT_TRUE(writer.Commit());
  }
  EXPECT_TRUE(Get() == Table(0, 0).substr(0, 40056) + Be(1) + kTailA);
}

TEST_F(HashTableWriterTest, EntriesOfOneWriterGetConsecutiveNumbersInOrder) {
  Put(Table(0, 0));
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0;
    for (const Bytes* tail : {&kTailA, &kTailB, &kTailC}) {
      EXPECT_EQ(writer.Add(Raw(*tail), false, number), HashTableWriter::Outcome::kAdded);
    }
    EXPECT_EQ(number, 3u);
    EXPECT_TRUE(writer.Commit());
  }
  const Bytes table = Get();
  ASSERT_EQ(table.size(), 40084u);
  EXPECT_EQ(table.substr(40056, 4), Be(3));
  EXPECT_EQ(table.substr(40060, 8), kTailA);
  EXPECT_EQ(table.substr(40068, 8), kTailB);
  EXPECT_EQ(table.substr(40076, 8), kTailC);  // entry 3
  EXPECT_TRUE(table.substr(0, 40056) == Table(0, 0).substr(0, 40056));
}

TEST_F(HashTableWriterTest, CarryIntoTheThirdCounterByte) {
  Put(Table(0xFF, 0xFF));
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0;
    EXPECT_EQ(writer.Add(Raw(kTailB), false, number), HashTableWriter::Outcome::kAdded);
    EXPECT_EQ(number, 0x100u);
    EXPECT_TRUE(writer.Commit());
  }
  const Bytes table = Get();
  EXPECT_EQ(table.substr(40056, 4), Bytes("\x00\x00\x01\x00", 4));
  EXPECT_EQ(table.substr(42100), kTailB);  // entry 256
  EXPECT_TRUE(table.substr(0, 40056) == Table(0, 0).substr(0, 40056));
}

TEST_F(HashTableWriterTest, CarryIntoTheFirstCounterByteOnASparseTable) {
  const std::uint64_t length = 40060 + 8ull * 0xFFFFFF;
  {
    std::ofstream out(PathOf(), std::ios::binary);
    out.seekp(40056);
    out.write("\x00\xff\xff\xff", 4);
  }
  fs::resize_file(PathOf(), length);
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0;
    EXPECT_EQ(writer.Add(Raw(kTailC), false, number), HashTableWriter::Outcome::kAdded);
    EXPECT_EQ(number, 0x01000000u);
    EXPECT_TRUE(writer.Commit());
  }
  EXPECT_EQ(fs::file_size(PathOf()), length + 8);
  std::FILE* table = std::fopen(PathOf().c_str(), "rb");
  ASSERT_NE(table, nullptr);
  char counter[4] = {};
  ASSERT_EQ(std::fseek(table, 40056, SEEK_SET), 0);
  ASSERT_EQ(std::fread(counter, 1, 4, table), 4u);
  EXPECT_EQ(Bytes(counter, 4), Bytes("\x01\x00\x00\x00", 4));
  char entry[8] = {};
  ASSERT_EQ(fseeko(table, static_cast<off_t>(length), SEEK_SET), 0);
  ASSERT_EQ(std::fread(entry, 1, 8, table), 8u);
  EXPECT_EQ(Bytes(entry, 8), kTailC);
  EXPECT_TRUE(MatchHashTableEntry(table, 0x01000000u, Raw(kTailC)));
  std::fclose(table);
}

TEST_F(HashTableWriterTest, FullTableAddsNothingAndKeepsTheNumber) {
  const Bytes full = Table(0xFFFFFFFFu, 0);
  Put(full);
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0xDEADBEEFu;
    EXPECT_EQ(writer.Add(Raw(kTailA), false, number), HashTableWriter::Outcome::kFull);
    EXPECT_EQ(number, 0xDEADBEEFu);
    // With the caller's full flag set, a later attempt still reads the counter and finds the
    // table full again (its message is printed once more).
    EXPECT_EQ(writer.Add(Raw(kTailB), true, number), HashTableWriter::Outcome::kFull);
    EXPECT_EQ(number, 0xDEADBEEFu);
    writer.Commit();
  }
  EXPECT_TRUE(Get() == full);
}

TEST_F(HashTableWriterTest, FullCounterWinsOverALengthThatDisagrees) {
  const Bytes full = Table(0xFFFFFFFFu, 3);
  Put(full);
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 7;
    EXPECT_EQ(writer.Add(Raw(kTailA), false, number), HashTableWriter::Outcome::kFull);
    EXPECT_EQ(number, 7u);
    writer.Commit();
  }
  EXPECT_TRUE(Get() == full);
}

TEST_F(HashTableWriterTest, FullFlagAlreadySetAddsNothing) {
  Put(Table(4, 4));
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 9;
    EXPECT_EQ(writer.Add(Raw(kTailA), true, number), HashTableWriter::Outcome::kRefused);
    EXPECT_EQ(number, 9u);
    writer.Commit();
  }
  EXPECT_TRUE(Get() == Table(4, 4));
}

struct UnusableCase {
  const char* label;
  Bytes table;
};

class UnusableTable : public HashTableWriterTest,
                      public ::testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableTable, GetsNoEntryAndNoNumber) {
  Put(GetParam().table);
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0x11223344u;
    EXPECT_EQ(writer.Add(Raw(kTailA), false, number), HashTableWriter::Outcome::kUnusable);
    EXPECT_EQ(number, 0x11223344u);
    writer.Commit();
  }
  EXPECT_TRUE(Get() == GetParam().table);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, UnusableTable,
    ::testing::Values(UnusableCase{"Empty", ""},
                      UnusableCase{"LeadingRegionOnly", Table(0, 0).substr(0, 40056)},
                      UnusableCase{"OneByteShort", Table(0, 0).substr(0, 40059)},
                      UnusableCase{"OneByteLong", Table(0, 0) + "x"},
                      UnusableCase{"EntryMissing", Table(2, 1)},
                      UnusableCase{"EntryTooMany", Table(1, 2)},
                      UnusableCase{"PartialEntry", Table(1, 1).substr(0, 40067)}),
    [](const ::testing::TestParamInfo<UnusableCase>& info) { return info.param.label; });

TEST_F(HashTableWriterTest, MissingTableIsUnusable) {
  HashTableWriter writer(w.Path("absent").string().c_str());
  std::uint32_t number = 5;
  EXPECT_EQ(writer.Add(Raw(kTailA), false, number), HashTableWriter::Outcome::kUnusable);
  EXPECT_EQ(number, 5u);
  EXPECT_FALSE(w.Exists("absent"));
}

TEST_F(HashTableWriterTest, FolderInPlaceOfTheTableIsUnusable) {
  w.MakeFolder("table");
  HashTableWriter writer(PathOf().c_str());
  std::uint32_t number = 5;
  EXPECT_EQ(writer.Add(Raw(kTailA), false, number), HashTableWriter::Outcome::kUnusable);
  EXPECT_EQ(number, 5u);
}

TEST_F(HashTableWriterTest, HoldsAnExclusiveLockUntilItGoes) {
  Put(Table(0, 0));
  const int fd = open(PathOf().c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  {
    HashTableWriter writer(PathOf().c_str());
    std::uint32_t number = 0;
    writer.Add(Raw(kTailA), false, number);
    errno = 0;
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    writer.Commit();
  }
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

struct MatchCase {
  const char* label;
  std::uint32_t number;
  Bytes tail;
  bool matches;
};

class MatchEntry : public HashTableWriterTest, public ::testing::WithParamInterface<MatchCase> {};

TEST_P(MatchEntry, ComparesTheEightBytesAtTheNumbersOffset) {
  // Entries 1 and 2, the second cut short by three bytes.
  Put(SampleContent(40052, 3) + Bytes("ABCD", 4) + Be(2) + kTailA + kTailB.substr(0, 5));
  std::FILE* table = std::fopen(PathOf().c_str(), "rb");
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(MatchHashTableEntry(table, GetParam().number, Raw(GetParam().tail)),
            GetParam().matches);
  std::fclose(table);
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, MatchEntry,
    ::testing::Values(MatchCase{"First", 1, kTailA, true},
                      MatchCase{"FirstOtherTail", 1, kTailB, false},
                      MatchCase{"FirstLastByteDiffers", 1, kTailA.substr(0, 7) + "\x09", false},
                      MatchCase{"CutShort", 2, kTailB, false},
                      MatchCase{"BeyondTheEnd", 3, Bytes(8, '\0'), false},
                      MatchCase{"FarBeyondTheEnd", 0xFFFFFFFFu, Bytes(8, '\0'), false},
                      MatchCase{"ZeroLooksAtTheCounterRegion", 0, Bytes("ABCD", 4) + Be(2), true}),
    [](const ::testing::TestParamInfo<MatchCase>& info) { return info.param.label; });

TEST(EntryNumber, IsStoredMostSignificantByteFirst) {
  const std::pair<std::uint32_t, Bytes> cases[] = {
      {0u, Bytes(4, '\0')},
      {1u, Bytes("\x00\x00\x00\x01", 4)},
      {0x100u, Bytes("\x00\x00\x01\x00", 4)},
      {0x01000000u, Bytes("\x01\x00\x00\x00", 4)},
      {0x12345678u, Bytes("\x12\x34\x56\x78", 4)},
      {0xFFFFFFFFu, Bytes("\xff\xff\xff\xff", 4)},
  };
  for (const auto& [value, bytes] : cases) {
    EXPECT_EQ(DecodeNumber(Raw(bytes)), value);
    std::uint8_t encoded[4] = {};
    EncodeNumber(value, encoded);
    EXPECT_EQ(Bytes(reinterpret_cast<const char*>(encoded), 4), bytes) << value;
  }
}

}  // namespace
}  // namespace velador::testing

// HashTableWriter and MatchHashTableEntry on table files: numbering and carries, where entries
// land, the tables it refuses, and the lock it holds.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <thread>

#include "image/transaction.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace fs = std::filesystem;
using Outcome = HashTableWriter::Outcome;

const Bytes kTails[3] = {Bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8),
                         Bytes("\xa0\xb1\xc2\xd3\xe4\xf5\x06\x17", 8),
                         Bytes("\xff\x00\xff\x00\x10\x20\x30\x40", 8)};

// Hands the writer kTails[0], kTails[1], kTails[2], kTails[0], ... in order.
HashTableWriter::TailSource TailsInOrder() {
  return [next = std::size_t{0}](std::uint8_t* tails, std::size_t count) mutable {
    for (std::size_t at = 0; at < count; at += 8) {
      std::copy_n(Raw(kTails[next++ % 3]), 8, tails + at);
    }
  };
}

Bytes TailsCycle(std::size_t count) {
  Bytes tails;
  for (std::size_t i = 0; i < count; ++i) tails += kTails[i % 3];
  return tails;
}

DigestTail Tail(const Bytes& b) {
  DigestTail tail{};
  std::copy_n(Raw(b), std::min(b.size(), tail.size()), tail.begin());
  return tail;
}

// A table with a recognisable leading region, the counter, and `entries` entries of 0x5a.
Bytes Table(std::uint32_t counter, std::size_t entries) {
  return SampleContent(40056, 17) + Number(counter) + Bytes(8 * entries, '\x5a');
}

struct AddCase {
  const char* label;
  Bytes table;
  bool alreadyFull;
  int adds;  // tails added, in order, through one writer
  Outcome outcome;
  std::uint32_t number;  // after the last Add; 0xDEADBEEF: left as it was
  Bytes after;           // empty: the table stays as it was
};

class HashTableWriterAdd : public ::testing::TestWithParam<AddCase> {};

TEST_P(HashTableWriterAdd, GivesTheOutcomeNumberAndTable) {
  const AddCase& c = GetParam();
  Workspace w;
  w.Write("table", c.table);
  {
    HashTableWriter writer(w.Path("table").string());
    std::uint32_t number = 0xDEADBEEFu;
    for (int i = 0; i < c.adds; ++i) EXPECT_EQ(writer.Add(c.alreadyFull, number), c.outcome);
    EXPECT_EQ(number, c.number);
    EXPECT_TRUE(writer.Commit(TailsInOrder(), "ADV_OBJ/.velador-0000000a.tmp", "ADV_OBJ/a.xml"));
    writer.Keep();
  }
  EXPECT_TRUE(w.Read("table") == (c.after.empty() ? c.table : c.after));
}

INSTANTIATE_TEST_SUITE_P(
    Tables, HashTableWriterAdd,
    ::testing::Values(
        AddCase{"Fresh", Table(0, 0), false, 1, Outcome::kAdded, 1, Table(1, 0) + kTails[0]},
        // Entry 3 lands at 40076.
        AddCase{"ThreeInOrder", Table(0, 0), false, 3, Outcome::kAdded, 3,
                Table(3, 0) + kTails[0] + kTails[1] + kTails[2]},
        // Counter 00 00 00 FF carries; entry 256 lands at 42100.
        AddCase{"Carry", Table(0xFF, 0xFF), false, 1, Outcome::kAdded, 0x100,
                Table(0x100, 0xFF) + kTails[0]},
        AddCase{"Full", Table(0xFFFFFFFFu, 0), false, 1, Outcome::kFull, 0xDEADBEEFu, ""},
        // A full counter wins over a length that disagrees, and over the caller's flag.
        AddCase{"FullWithEntries", Table(0xFFFFFFFFu, 3), false, 1, Outcome::kFull, 0xDEADBEEFu,
                ""},
        AddCase{"FullFlagSetFullTable", Table(0xFFFFFFFFu, 0), true, 2, Outcome::kFull, 0xDEADBEEFu,
                ""},
        AddCase{"FullFlagSet", Table(4, 4), true, 1, Outcome::kRefused, 0xDEADBEEFu, ""},
        AddCase{"Empty", "", false, 1, Outcome::kUnusable, 0xDEADBEEFu, ""},
        AddCase{"LeadingRegionOnly", Table(0, 0).substr(0, 40056), false, 1, Outcome::kUnusable,
                0xDEADBEEFu, ""},
        AddCase{"OneByteShort", Table(0, 0).substr(0, 40059), false, 1, Outcome::kUnusable,
                0xDEADBEEFu, ""},
        AddCase{"OneByteLong", Table(0, 0) + "x", false, 1, Outcome::kUnusable, 0xDEADBEEFu, ""},
        AddCase{"EntryMissing", Table(2, 1), false, 1, Outcome::kUnusable, 0xDEADBEEFu, ""},
        AddCase{"EntryTooMany", Table(1, 2), false, 1, Outcome::kUnusable, 0xDEADBEEFu, ""},
        AddCase{"PartialEntry", Table(1, 1).substr(0, 40067), false, 1, Outcome::kUnusable,
                0xDEADBEEFu, ""}),
    [](const auto& info) { return std::string(info.param.label); });

// Entries go out in batches of 8192; a writer dropped without Keep, as a run that fails after
// Commit drops it, leaves the table byte for byte as it was.
TEST(HashTableWriter, KeepsTheEntriesOnlyWhenTold) {
  for (std::uint32_t adds : {1u, 8192u, 8193u, 20000u}) {
    for (bool keep : {false, true}) {
      Workspace w;
      w.Write("table", Table(5, 5));
      {
        HashTableWriter writer(w.Path("table").string());
        std::uint32_t number = 0;
        for (std::uint32_t i = 0; i < adds; ++i) {
          ASSERT_EQ(writer.Add(false, number), Outcome::kAdded);
        }
        EXPECT_TRUE(
            writer.Commit(TailsInOrder(), "ADV_OBJ/.velador-0000000a.tmp", "ADV_OBJ/a.xml"));
        if (keep) writer.Keep();
      }
      EXPECT_TRUE(w.Read("table") == (keep ? Table(5 + adds, 5) + TailsCycle(adds) : Table(5, 5)))
          << adds << (keep ? " kept" : " dropped");
    }
  }
}

TEST(HashTableWriter, UnopenableTableIsUnusable) {
  Workspace w;
  w.MakeFolder("folder");
  for (const char* name : {"absent", "folder"}) {
    HashTableWriter writer(w.Path(name).string());
    std::uint32_t number = 5;
    EXPECT_EQ(writer.Add(false, number), Outcome::kUnusable) << name;
    EXPECT_EQ(number, 5u);
  }
  EXPECT_FALSE(w.Exists("absent"));
}

// Counter 00 FF FF FF carries into its first byte, on a sparse table of 128 MiB.
TEST(HashTableWriter, CarryIntoTheFirstCounterByteOnASparseTable) {
  Workspace w;
  const std::string path = w.Path("table").string();
  const std::uint64_t length = 40060 + 8ull * 0xFFFFFF;
  std::ofstream(path, std::ios::binary).seekp(40056).write("\x00\xff\xff\xff", 4);
  fs::resize_file(path, length);
  {
    HashTableWriter writer(path);
    std::uint32_t number = 0;
    EXPECT_EQ(writer.Add(false, number), Outcome::kAdded);
    EXPECT_EQ(number, 0x01000000u);
    EXPECT_TRUE(writer.Commit(TailsInOrder(), "ADV_OBJ/.velador-0000000a.tmp", "ADV_OBJ/a.xml"));
    writer.Keep();
  }
  EXPECT_EQ(fs::file_size(path), length + 8);
  InputFile table(path);
  std::uint8_t counter[4] = {};
  table.ReadAt(40056, counter, 4);
  EXPECT_EQ(Bytes(counter, counter + 4), Number(0x01000000u));
  EXPECT_TRUE(MatchHashTableEntry(table, 0x01000000u, Tail(kTails[0])));
}

TEST(HashTableWriter, HoldsAnExclusiveLockUntilItGoes) {
  Workspace w;
  w.Write("table", Table(0, 0));
  const int fd = open(w.Path("table").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  {
    HashTableWriter writer(w.Path("table").string());
    std::uint32_t number = 0;
    writer.Add(false, number);
    EXPECT_TRUE(writer.Commit(TailsInOrder(), "ADV_OBJ/.velador-0000000a.tmp", "ADV_OBJ/a.xml"));
    errno = 0;
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    writer.Keep();
  }
  EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0);
  close(fd);
}

TEST(MatchHashTableEntry, ComparesTheEightBytesAtTheNumbersOffset) {
  Workspace w;
  // Entries 1 and 2, the second cut short by three bytes.
  w.Write("table",
          SampleContent(40052, 3) + "ABCD" + Number(2) + kTails[0] + kTails[1].substr(0, 5));
  InputFile table(w.Path("table").string());
  const std::tuple<std::uint32_t, Bytes, bool> cases[] = {
      {1, kTails[0], true},
      {1, kTails[1], false},
      {1, kTails[0].substr(0, 7) + "\x09", false},
      {2, kTails[1], false},  // cut short
      {3, Bytes(8, '\0'), false},
      {0xFFFFFFFFu, Bytes(8, '\0'), false},
      {0, "ABCD" + Number(2), true},  // number 0 looks at the counter region
  };
  for (const auto& [number, tail, matches] : cases)
    EXPECT_EQ(MatchHashTableEntry(table, number, Tail(tail)), matches) << number;
}

}  // namespace
}  // namespace velador::testing

namespace velador::testing {
namespace {

// A reader waits while a change holds the table, and first puts right what a run stopped
// midway left: it never reads an image halfway through a change.
TEST(TableReadLock, WaitsForAChangeAndPutsRightWhatAStoppedRunLeft) {
  Workspace w;
  MakeDiscImage(w, "img");
  const std::string table = w.Path("img/AACS/CONTENT_HASH_TABLE2.AACS").string();
  std::atomic<bool> reading{false};
  std::optional<LockedHashTable> change(std::in_place, table);
  std::thread reader([&] {
    const TableReadLock lock(table);
    reading = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(reading.load()) << "read while the table was being changed";
  change.reset();  // the change ends as its lock goes
  reader.join();
  EXPECT_TRUE(reading.load());
  // A record left by a run killed before its seal: the reader undoes it before it reads.
  w.Write("img/AACS/CONTENT_HASH_TABLE2.AACS", Bytes(40056, '\0') + Number(1) + Bytes(8, 'x'));
  w.Write("img/ADV_OBJ/.velador-0000000b.tmp", "half");
  {
    LockedHashTable change(table);
    HashTableWriter writer(change);
    std::uint32_t number = 0;
    writer.Add(false, number);
    ASSERT_TRUE(writer.Commit([](std::uint8_t* out, std::size_t n) { std::fill_n(out, n, 'y'); },
                              w.Path("img/ADV_OBJ/.velador-0000000b.tmp").string(),
                              w.Path("img/ADV_OBJ/b.xml").string()));
    // A kill leaves the record and the entries as they stand now; the writer, dropped without
    // Keep, would put both back, so the record is kept aside and the table written back after.
    std::filesystem::copy_file(table + ".velador-changes", table + ".kept",
                               std::filesystem::copy_options::overwrite_existing);
  }
  std::filesystem::rename(table + ".kept", table + ".velador-changes");
  w.Write("img/AACS/CONTENT_HASH_TABLE2.AACS",
          Bytes(40056, '\0') + Number(2) + Bytes(8, 'x') + Bytes(8, 'y'));
  { const TableReadLock lock(table); }
  EXPECT_EQ(w.Read("img/AACS/CONTENT_HASH_TABLE2.AACS"),
            Bytes(40056, '\0') + Number(1) + Bytes(8, 'x'));
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/.velador-0000000b.tmp"));
  EXPECT_FALSE(w.Exists("img/AACS/CONTENT_HASH_TABLE2.AACS.velador-changes"));
}

}  // namespace
}  // namespace velador::testing

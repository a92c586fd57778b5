// Checks without a result (CheckContainer), the entry numbers they tell, and the pieces a batch
// of encapsulations uses: one locked table shared by transactions, lookups a block at a time,
// and the completing step run through a turn.

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "encapsulation/encapsulator.h"
#include "image/transaction.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

const Key kKey = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
const std::string kTable = "img/AACS/CONTENT_HASH_TABLE2.AACS";

// The entry numbers a check tells, in order.
struct Seen {
  std::uint64_t unit;
  std::uint32_t number;
  bool matched;
};
class Recorder : public EntryVisitor {
 public:
  void Visit(std::uint64_t unit, std::uint32_t number, bool matched) override {
    seen.push_back({unit, number, matched});
  }
  std::vector<Seen> seen;
};

class ContainerCheckTest : public ::testing::Test {
 protected:
  ContainerCheckTest() { MakeDiscImage(w, "img"); }

  // Encapsulates `size` bytes as `type` into img/ADV_OBJ/`name`.
  void Make(const std::string& name, ContainerType type, std::size_t size) {
    w.Write("src/" + name, SampleContent(size, static_cast<std::uint32_t>(size)));
    Encapsulator encapsulator({Path("src/" + name), Path("img/ADV_OBJ/" + name), Path(kTable)},
                              name);
    encapsulator.AddEntriesThrough(EntriesOfTableAt(Path(kTable)));
    ASSERT_TRUE(encapsulator.Run(type, Direction::kEncapsulate, kKey).Completed());
  }

  ContainerCheck Check(const std::string& name, UnitCheck policy, EntryVisitor* visitor = nullptr,
                       const Key* key = &kKey) {
    return CheckContainer(Path("img/ADV_OBJ/" + name), name, key, Path(kTable), policy, visitor);
  }

  std::string Path(const std::string& relative) const { return w.Path(relative).string(); }

  Workspace w;
};

// Every type: the verdicts a check gives are those of a decapsulation that writes the file,
// and the check writes nothing.
TEST_F(ContainerCheckTest, GivesTheVerdictsOfADecapsulationAndWritesNothing) {
  w.MakeFolder("back");
  for (const TypeFacts& facts : AllTypes()) {
    SCOPED_TRACE(facts.number);
    const std::string name = std::string("f").append(std::to_string(facts.number)) + ".bin";
    Make(name, facts.type, 2000);
    for (bool damage : {false, true}) {
      if (damage) w.FlipBits("img/ADV_OBJ/" + name, 11 + 272 + 5);
      const std::vector<std::string> before = w.List();
      const ContainerCheck check = Check(name, UnitCheck::kDrawn);
      EXPECT_EQ(w.List(), before);
      Encapsulator restore({Path("img/ADV_OBJ/" + name), Path("back/" + name), Path(kTable)}, name);
      const OperationReport restored = restore.Run(facts.type, Direction::kDecapsulate, kKey);
      ASSERT_EQ(check.problem, CheckProblem::kNone);
      EXPECT_EQ(check.type, facts.type);
      EXPECT_EQ(check.report.nameMatches, restored.nameMatches);
      EXPECT_EQ(check.report.contentMatches, restored.contentMatches);
      EXPECT_EQ(check.report.unitsChecked, restored.unitsChecked);
      EXPECT_EQ(check.report.PlayerAccepts(), restored.PlayerAccepts());
    }
  }
}

TEST_F(ContainerCheckTest, NamesWhatStopsItBeforeAnyVerdict) {
  w.Write("img/ADV_OBJ/plain.txt", "no container");
  w.Write("img/ADV_OBJ/odd.bin", Bytes("AACS\x33", 5) + Bytes(400, '\0'));
  w.Write("img/ADV_OBJ/short.bin", Header(0x02, 0) + Bytes(100, '\0'));
  Make("a.js", ContainerType::kEncryptionHash, 100);
  const std::string longName(268, 'x');
  EXPECT_EQ(Check("plain.txt", UnitCheck::kEvery).problem, CheckProblem::kNotContainer);
  EXPECT_EQ(Check("odd.bin", UnitCheck::kEvery).problem, CheckProblem::kUnknownType);
  EXPECT_EQ(Check("short.bin", UnitCheck::kEvery).problem, CheckProblem::kTooShort);
  EXPECT_EQ(Check("none", UnitCheck::kEvery).problem, CheckProblem::kUnreadable);
  EXPECT_EQ(Check("a.js", UnitCheck::kEvery, nullptr, nullptr).problem, CheckProblem::kNoKey);
  EXPECT_EQ(CheckContainer(Path("img/ADV_OBJ/a.js"), longName, &kKey, Path(kTable),
                           UnitCheck::kEvery, nullptr)
                .problem,
            CheckProblem::kNameTooLong);
}

// 50000 bytes: 99 units, of which the drawn check looks at five (2, 16, 44, 79, 81). A byte
// changed in unit 50 goes unnoticed by the draws and not by a check of every unit.
TEST_F(ContainerCheckTest, EveryUnitFindsWhatTheDrawsMiss) {
  Make("long.js", ContainerType::kEncryptionHash, 50000);
  w.FlipBits("img/ADV_OBJ/long.js", 11 + 50 * 512 + 7);
  Recorder drawn, every;
  const ContainerCheck spot = Check("long.js", UnitCheck::kDrawn, &drawn);
  const ContainerCheck full = Check("long.js", UnitCheck::kEvery, &every);
  EXPECT_TRUE(spot.report.PlayerAccepts());
  EXPECT_EQ(drawn.seen.size(), 5u);
  EXPECT_FALSE(full.report.PlayerAccepts());
  EXPECT_EQ(full.report.unitsChecked, 99u);
  ASSERT_EQ(every.seen.size(), 99u);
  for (std::uint64_t unit = 0; unit < 99; ++unit) {
    EXPECT_EQ(every.seen[unit].unit, unit);
    EXPECT_EQ(every.seen[unit].number, unit + 1);  // the first container of a fresh table
    EXPECT_EQ(every.seen[unit].matched, unit != 50) << unit;
  }
}

// The trailer and the body disagree on the units: numbers for units the body lacks never
// match; units the trailer has no number for make the check fail without a number to tell.
TEST_F(ContainerCheckTest, TrailerAndBodyOfDifferentLengths) {
  Make("a.js", ContainerType::kEncryptionHash, 1000);  // 3 units: entries 1 to 3
  const Bytes container = w.Read("img/ADV_OBJ/a.js");
  w.Write("img/ADV_OBJ/a.js", container + Number(2));
  Recorder longer;
  EXPECT_FALSE(Check("a.js", UnitCheck::kEvery, &longer).report.contentMatches);
  ASSERT_EQ(longer.seen.size(), 4u);
  EXPECT_TRUE(longer.seen[2].matched);
  EXPECT_EQ(longer.seen[3].number, 2u);
  EXPECT_FALSE(longer.seen[3].matched);
  w.Write("img/ADV_OBJ/a.js", container.substr(0, container.size() - 4));
  Recorder shorter;
  EXPECT_FALSE(Check("a.js", UnitCheck::kEvery, &shorter).report.contentMatches);
  EXPECT_EQ(shorter.seen.size(), 2u);
  w.Write("img/ADV_OBJ/a.js", container);
  EXPECT_TRUE(Check("a.js", UnitCheck::kEvery).report.PlayerAccepts());
}

TEST_F(ContainerCheckTest, AHashContainerTellsItsOneNumber) {
  Make("a.xml", ContainerType::kHash, 10);
  Make("b.xml", ContainerType::kHash, 20);
  Recorder seen;
  EXPECT_TRUE(Check("b.xml", UnitCheck::kEvery, &seen).report.PlayerAccepts());
  ASSERT_EQ(seen.seen.size(), 1u);
  EXPECT_EQ(seen.seen[0].number, 2u);
  EXPECT_TRUE(seen.seen[0].matched);
}

// A batch's table: each transaction keeps or puts back its own entries only, and the numbers
// of the next one follow those kept.
TEST(LockedHashTable, TransactionsKeepOrPutBackTheirOwnEntries) {
  Workspace w;
  MakeDiscImage(w, "img");
  const std::string kTable = "img/AACS/CONTENT_HASH_TABLE2.AACS";
  const auto tails = [](std::uint8_t fill) {
    return [fill](std::uint8_t* out, std::size_t count) { std::fill_n(out, count, fill); };
  };
  const std::string temporary = w.Path("img/ADV_OBJ/.velador-0000000a.tmp").string();
  const std::string result = w.Path("img/ADV_OBJ/a.xml").string();
  {
    LockedHashTable table(w.Path(kTable).string());
    ASSERT_TRUE(table.Usable());
    std::uint32_t number = 0;
    {
      HashTableWriter first(table);
      EXPECT_EQ(first.Add(false, number), HashTableWriter::Outcome::kAdded);
      EXPECT_EQ(number, 1u);
      EXPECT_TRUE(first.Commit(tails(0x11), temporary, result));
      first.Keep();
    }
    {
      HashTableWriter second(table);  // never kept: its two entries go again
      second.Add(false, number);
      second.Add(false, number);
      EXPECT_EQ(number, 3u);
      EXPECT_TRUE(second.Commit(tails(0x22), temporary, result));
    }
    EXPECT_EQ(table.Counter(), 1u);
    HashTableWriter third(table);
    third.Add(false, number);
    EXPECT_EQ(number, 2u);
    EXPECT_TRUE(third.Commit(tails(0x33), temporary, result));
    third.Keep();
  }
  EXPECT_EQ(w.Read(kTable), Bytes(40056, '\0') + Number(2) + Bytes(8, '\x11') + Bytes(8, '\x33'));
  EXPECT_FALSE(w.Exists(kTable + ".velador-changes")) << "each transaction drops its record";
}

TEST(HashTableLookup, AgreesWithSingleLookupsAcrossBlocks) {
  Workspace w;
  constexpr std::uint32_t kEntries = 20000;  // past two blocks of 8192
  Bytes table = Bytes(40056, '\0') + Number(kEntries);
  for (std::uint32_t i = 1; i <= kEntries; ++i) table += Number(i) + Number(~i);
  w.Write("table", table);
  InputFile single(w.Path("table").string());
  InputFile blocks(w.Path("table").string());
  HashTableLookup lookup(blocks);
  for (std::uint32_t number :
       {1u, 2u, 8192u, 8193u, 16385u, 19999u, 20000u, 20001u, 0u, 7u, 0xFFFFFFFFu}) {
    for (std::uint32_t value : {number, number + 1}) {
      DigestTail tail;
      const Bytes bytes = Number(value) + Number(~value);
      std::copy_n(Raw(bytes), tail.size(), tail.begin());
      EXPECT_EQ(lookup.Matches(number, tail), MatchHashTableEntry(single, number, tail))
          << number << " " << value;
      EXPECT_EQ(lookup.Matches(number, tail), value == number && number >= 1 && number <= kEntries)
          << number << " " << value;
    }
  }
}

// A turn that runs the completing step on another thread, as a batch does.
class OtherThreadTurn : public FinishingTurn {
 public:
  void Run(const std::function<void()>& step) override {
    std::exception_ptr thrown;
    std::thread([&] {
      try {
        step();
      } catch (...) {
        thrown = std::current_exception();
      }
    }).join();
    ++runs;
    if (thrown) std::rethrow_exception(thrown);
  }
  int runs = 0;
};

TEST_F(ContainerCheckTest, ABatchFinishesThroughItsTurnOnTheSharedTable) {
  w.Write("src/a.xml", "<a/>");
  w.Write("src/b.js", SampleContent(1500, 1));
  OtherThreadTurn turn;
  {
    LockedHashTable table(Path(kTable));
    for (const char* name : {"a.xml", "b.js"}) {
      Encapsulator encapsulator({Path(std::string("src/") + name),
                                 Path(std::string("img/ADV_OBJ/") + name), Path(kTable)},
                                name);
      encapsulator.AddEntriesThrough(EntriesOf(table));
      encapsulator.JoinBatch(turn);
      const ContainerType type = TypeForName(name, true);
      EXPECT_TRUE(encapsulator.Run(type, Direction::kEncapsulate, kKey).Completed());
    }
    EXPECT_EQ(table.Counter(), 5u);
  }
  EXPECT_EQ(turn.runs, 2);
  EXPECT_TRUE(Check("a.xml", UnitCheck::kEvery).report.PlayerAccepts());
  EXPECT_TRUE(Check("b.js", UnitCheck::kEvery).report.PlayerAccepts());
  // A missing input fails before its turn: nothing to finish.
  LockedHashTable table(Path(kTable));
  Encapsulator missing({Path("src/none.xml"), Path("img/ADV_OBJ/none.xml"), Path(kTable)},
                       "none.xml");
  missing.AddEntriesThrough(EntriesOf(table));
  missing.JoinBatch(turn);
  EXPECT_EQ(missing.Run(ContainerType::kHash, Direction::kEncapsulate, kKey).failure,
            Failure::kRead);
  EXPECT_EQ(turn.runs, 2);
}

struct NameCase {
  const char* path;
  ContainerType disc;
  ContainerType storage;
};

TEST(TypeForName, FollowsTheLastThreeCharactersFoldedToLowerCase) {
  const NameCase cases[] = {
      {"menu.xml", ContainerType::kHash, ContainerType::kMac},
      {"a/b/MENU.XUL", ContainerType::kHash, ContainerType::kMac},
      {"menuxml", ContainerType::kHash, ContainerType::kMac},
      {"app.js", ContainerType::kEncryptionHash, ContainerType::kMac},
      {"app.JS", ContainerType::kEncryptionHash, ContainerType::kMac},
      {"appjs", ContainerType::kNonProtected, ContainerType::kNonProtected},
      {"logo.png", ContainerType::kEncryption, ContainerType::kEncryption},
      {"font.TTC", ContainerType::kEncryption, ContainerType::kEncryption},
      {"notes.txt", ContainerType::kNonProtected, ContainerType::kNonProtected},
      {"js", ContainerType::kNonProtected, ContainerType::kNonProtected},
  };
  for (const NameCase& c : cases) {
    EXPECT_EQ(TypeForName(c.path, true), c.disc) << c.path;
    EXPECT_EQ(TypeForName(c.path, false), c.storage) << c.path;
  }
}

}  // namespace
}  // namespace velador::testing

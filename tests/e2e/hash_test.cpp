// Hash containers (type code 0x12) and content hash table 2 through the built tool: round
// trips, verdicts, what the table receives and refuses, and several runs adding at once.
// Every rule of the table writer (carries, refusals) is pinned down in-process in
// tests/encapsulation/content_hash_table_test.cpp; here a few show through the tool's output.

#include <set>
#include <string>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

constexpr std::size_t kCounterAt = 40056;

std::string Name(int i) {
  return std::string("f").append(std::to_string(i)) + (i % 2 == 0 ? ".xml" : ".js");
}

// A table whose leading region is not all zero, so that any write into it shows.
Bytes PatternedTable(std::uint32_t counter, std::size_t entries) {
  return SampleContent(kCounterAt, 99) + Number(counter) + Bytes(8 * entries, '\x5a');
}

class Hash : public ToolTest {
 protected:
  Hash() { w.Write("src/h.xml", kMenuContent); }
  std::string Encapsulate() { return Out({"-e", "-d", "src/h.xml", "img"}); }
  Bytes Container(const Bytes& trailer) {
    return Header(0x12, 8) + NameBlock("h.xml") + kMenuContent + trailer;
  }
};

class HashRoundTrip : public ToolTestWithParam<std::size_t> {};

TEST_P(HashRoundTrip, RegistersTheBodyAndVerifiesIt) {
  const std::size_t size = GetParam();
  const Bytes table = PatternedTable(0, 0);
  w.Write(kTablePath, table);
  const Bytes content = SampleContent(size, static_cast<std::uint32_t>(size) + 11);
  w.Write("src/menu.xml", content);
  const std::string out = Out({"-e", "-d", "src/menu.xml", "img"});
  EXPECT_TRUE(w.Read("img/ADV_OBJ/menu.xml") == Header(0x12, static_cast<std::uint32_t>(size)) +
                                                    NameBlock("menu.xml") + content + Number(1));
  const Bytes after = Table();
  ASSERT_EQ(after.size(), 40068u);
  EXPECT_EQ(after.substr(0, kCounterAt + 4), table.substr(0, kCounterAt) + Number(1));
  // The printed digest tail is exactly the entry.
  EXPECT_EQ(out, HashEncapsulation("img/ADV_OBJ/menu.xml", after.substr(40060)));
  EXPECT_EQ(Out({"-d", "img/ADV_OBJ/menu.xml", "back"}),
            HashDecapsulation("back/menu.xml", true, true));
  EXPECT_TRUE(w.Read("back/menu.xml") == content);
  EXPECT_EQ(Table(), after);
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(Sizes, HashRoundTrip, ::testing::Values(0u, 1000u, 1048581u),
                         [](const auto& info) { return "Bytes" + std::to_string(info.param); });

TEST_F(Hash, FreshTableGetsEntryOneWithTheIndependentDigest) {
  EXPECT_EQ(Encapsulate(), HashEncapsulation("img/ADV_OBJ/h.xml", kMenuTail));
  EXPECT_EQ(w.Read("img/ADV_OBJ/h.xml"), Container(Number(1)));
  EXPECT_EQ(Table(), Bytes(kCounterAt, '\0') + Number(1) + kMenuTail);
}

TEST_F(Hash, Verdicts) {
  Encapsulate();
  const Bytes intact = w.Read("img/ADV_OBJ/h.xml");
  struct {
    std::string name;
    std::size_t changeAt;  // 0: nothing changed
    char mask;
    bool hashMatches, nameMatches;
  } cases[] = {
      {"g.xml", 0, 0, true, false},
      {"h.xml", 284, 0x20, false, true},  // content byte: the body reads "<Menu/>"
      {"h.xml", 10, 0x08, true, true},    // the size field does not locate the trailer
      {"h.xml", 294, 0x03, false, true},  // entry number 2, beyond the table
  };
  for (const auto& c : cases) {
    w.Write("img/ADV_OBJ/" + c.name, intact);
    if (c.changeAt != 0) w.FlipBits("img/ADV_OBJ/" + c.name, c.changeAt, c.mask);
    EXPECT_EQ(Out({"-d", "img/ADV_OBJ/" + c.name, "back"}),
              HashDecapsulation("back/" + c.name, c.hashMatches, c.nameMatches));
  }
  EXPECT_EQ(w.Read("back/h.xml"), "<menu/>\n");
  EXPECT_EQ(w.Read("back/g.xml"), kMenuContent);
}

// Alone in its test: on Windows back/H.XML and back/h.xml would be one file.
TEST_F(Hash, NameDifferingOnlyInLetterCaseMatches) {
  Encapsulate();
  w.Write("img/ADV_OBJ/H.XML", w.Read("img/ADV_OBJ/h.xml"));
  EXPECT_EQ(Out({"-d", "img/ADV_OBJ/H.XML", "back"}), HashDecapsulation("back/H.XML", true, true));
  EXPECT_EQ(w.Read("back/H.XML"), kMenuContent);
}

TEST_F(Hash, SameFileTwiceGetsConsecutiveNumbersAndBothVerify) {
  Encapsulate();
  const Bytes first = w.Read("img/ADV_OBJ/h.xml");
  EXPECT_EQ(Encapsulate(), HashEncapsulation("img/ADV_OBJ/h.xml", kMenuTail));
  EXPECT_EQ(first, Container(Number(1)));
  EXPECT_EQ(w.Read("img/ADV_OBJ/h.xml"), Container(Number(2)));
  EXPECT_EQ(Table(), Bytes(kCounterAt, '\0') + Number(2) + kMenuTail + kMenuTail);
  EXPECT_EQ(Out({"-d", "img/ADV_OBJ/h.xml", "back"}), HashDecapsulation("back/h.xml", true, true));
  w.Write("img/ADV_OBJ/h.xml", first);
  EXPECT_EQ(Out({"-d", "img/ADV_OBJ/h.xml", "back"}), HashDecapsulation("back/h.xml", true, true));
}

TEST_F(Hash, MissingTableStillRestoresAndNamesTheExpectedPath) {
  Encapsulate();
  w.Write("moved/ADV_OBJ/h.xml", w.Read("img/ADV_OBJ/h.xml"));
  EXPECT_EQ(Out({"-d", "moved/ADV_OBJ/h.xml", "back"}),
            HashDecapsulationWithoutTable("back/h.xml", "moved/AACS/CONTENT_HASH_TABLE2.AACS"));
  EXPECT_EQ(w.Read("back/h.xml"), kMenuContent);
  ExpectNoLeftovers(w);
}

// Tables the tool must not add to, or must add to at the right place.
struct TableCase {
  const char* label;
  Bytes table;
  std::string message;   // the refusal printed right after the announcement, if any
  std::uint32_t number;  // the container's trailer
  Bytes after;           // empty: the table stays as it was
};

class HashTable : public ToolTestWithParam<TableCase> {};

TEST_P(HashTable, PrintsTheMessageAndWritesTheTrailer) {
  const TableCase& c = GetParam();
  w.Write(kTablePath, c.table);
  w.Write("src/h.xml", kMenuContent);
  EXPECT_EQ(Out({"-e", "-d", "src/h.xml", "img"}),
            HashEncapsulation("img/ADV_OBJ/h.xml", kMenuTail,
                              c.message.empty() ? "" : Refusal(c.message)));
  EXPECT_EQ(w.Read("img/ADV_OBJ/h.xml"),
            Header(0x12, 8) + NameBlock("h.xml") + kMenuContent + Number(c.number));
  EXPECT_TRUE(Table() == (c.after.empty() ? c.table : c.after));
  if (c.number != 0) {
    EXPECT_EQ(Out({"-d", "img/ADV_OBJ/h.xml", "back"}),
              HashDecapsulation("back/h.xml", true, true));
  }
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, HashTable,
    ::testing::Values(
        TableCase{"Full", PatternedTable(0xFFFFFFFFu, 3), "full_table", 0, ""},
        TableCase{"ShorterThanItsCounter", PatternedTable(0, 0).substr(0, 40059), "unusable_table",
                  0, ""},
        TableCase{"LongerThanItsCounterSays", PatternedTable(1, 2), "unusable_table", 0, ""},
        // Entry 3 lands at 40076, entry 256 (after a carry) at 42100.
        TableCase{"ThirdEntry", PatternedTable(2, 2), "", 3, PatternedTable(3, 2) + kMenuTail},
        TableCase{"Carry", PatternedTable(0xFF, 0xFF), "", 0x100,
                  PatternedTable(0x100, 0xFF) + kMenuTail}),
    [](const auto& info) { return std::string(info.param.label); });

TEST_F(Hash, RunsAddingAtTheSameTimeGetDistinctNumbers) {
  Workspace capture;
  constexpr int kRuns = 8;  // half Hash files (one entry), half Encryption-and-Hash (three)
  std::vector<pid_t> children;
  for (int i = 0; i < kRuns; ++i) {
    const std::string name = Name(i);
    w.Write("src/" + name, SampleContent(1000, static_cast<std::uint32_t>(i)));
    children.push_back(w.Start({"-e", "-d", "src/" + name, "img", "key"},
                               capture.Path(name).string(), capture.Path(name + ".err").string()));
  }
  for (pid_t child : children) EXPECT_EQ(WaitForExit(child), 0);
  const Bytes table = Table();
  constexpr std::uint32_t kEntries = kRuns / 2 * 4;
  ASSERT_EQ(table.size(), 40060 + 8 * kEntries);
  EXPECT_EQ(table.substr(kCounterAt, 4), Number(kEntries));
  std::set<Bytes> numbers;
  for (int i = 0; i < kRuns; ++i) {
    const std::string name = Name(i);
    EXPECT_EQ(capture.Read(name + ".err"), "");
    const Bytes container = w.Read("img/ADV_OBJ/" + name);
    ASSERT_EQ(container.size(), 1283u + (i % 2 == 0 ? 4 : 12));
    Bytes last;
    for (std::size_t at = 1283; at < container.size(); at += 4) {
      last = container.substr(at, 4);
      EXPECT_TRUE(numbers.insert(last).second) << "a number handed out twice";
    }
    // The printed digest tail of the last unit is the entry at its number.
    const auto n = static_cast<unsigned char>(last.at(3)) + 0u;
    ASSERT_TRUE(last.substr(0, 3) == Bytes(3, '\0') && n >= 1 && n <= kEntries);
    EXPECT_NE(
        capture.Read(name).find("* Hash obtingut: " + HexValues(table.substr(40052 + 8 * n, 8))),
        std::string::npos);
    if (i % 2 == 0) {
      EXPECT_EQ(Out({"-d", "img/ADV_OBJ/" + name, "back"}),
                HashDecapsulation("back/" + name, true, true));
    }
  }
  EXPECT_EQ(numbers.size(), kEntries);
  ExpectNoLeftovers(w);
}

// Readers check containers while writers append to the same table: a reader never sees a
// false mismatch, whatever moment of a writer's commit it meets.
TEST_F(Hash, ReadersDuringWritesSeeNoFalseMismatch) {
  w.Write("src/old.xml", SampleContent(3000, 1));
  w.Write("src/old.js", SampleContent(30000, 2));
  Out({"-e", "-d", "src/old.xml", "img"});
  Out({"-e", "-d", "src/old.js", "img", "key"});
  Workspace capture;
  std::vector<pid_t> writers;
  for (int i = 0; i < 6; ++i) {
    const std::string name = Name(i);
    w.Write("src/" + name, SampleContent(20000, static_cast<std::uint32_t>(i + 10)));
    writers.push_back(w.Start({"-e", "-d", "src/" + name, "img", "key"},
                              capture.Path(name + ".out").string(),
                              capture.Path(name + ".err").string()));
  }
  int reads = 0;
  for (int round = 0; round < 15; ++round, reads += 2) {
    EXPECT_EQ(Out({"-d", "img/ADV_OBJ/old.xml", "back"}),
              HashDecapsulation("back/old.xml", true, true));
    EXPECT_NE(Out({"-d", "img/ADV_OBJ/old.js", "back", "key"}).find("COINCIDEIXEN\n"),
              std::string::npos);
  }
  for (pid_t writer : writers) EXPECT_EQ(WaitForExit(writer), 0);
  EXPECT_EQ(reads, 30);
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(capture.Read(Name(i) + ".out").find("Error"), std::string::npos) << Name(i);
  }
  ExpectNoLeftovers(w);
}

}  // namespace
}  // namespace velador::testing

// Hash containers (type code 0x12) and content hash table 2 through the built tool: round trips,
// the entries the table receives, the table's refusals, and several runs adding at once.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "e2e/type_reports.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

using namespace reports;

constexpr std::size_t kCounterAt = 40056;
constexpr std::size_t kFirstEntryAt = 40060;
const std::string kTablePath = "img/AACS/CONTENT_HASH_TABLE2.AACS";

// A table whose leading region is not all zero, so that any write into it shows.
Bytes PatternedTable(std::uint32_t counter, std::size_t entries) {
  Bytes table = SampleContent(kCounterAt, 99);
  table += Number(counter);
  table += Bytes(8 * entries, '\x5a');
  return table;
}

class HashRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(HashRoundTrip, RegistersTheBodyAndVerifiesIt) {
  const std::size_t size = GetParam();
  Workspace w;
  MakeDiscImage(w, "img");
  const Bytes table = PatternedTable(0, 0);
  w.Write(kTablePath, table);
  const Bytes content = SampleContent(size, static_cast<std::uint32_t>(size) + 11);
  w.Write("src/menu.xml", content);
  w.MakeFolder("back");

  ToolRun run = w.Run({"-e", "-d", "src/menu.xml", "img"});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(w.Read("img/ADV_OBJ/menu.xml"), Header(0x12, 0x00, static_cast<std::uint32_t>(size)) +
                                                NameBlock("menu.xml") + content + Number(1));
  const Bytes after = w.Read(kTablePath);
  ASSERT_EQ(after.size(), 40068u);
  EXPECT_EQ(after.substr(0, kCounterAt), table.substr(0, kCounterAt));
  EXPECT_EQ(after.substr(kCounterAt, 4), Number(1));
  // The printed digest tail is exactly the entry.
  EXPECT_EQ(run.out, HashEncapsulation("img/ADV_OBJ/menu.xml", after.substr(kFirstEntryAt, 8)));

  run = w.Run({"-d", "img/ADV_OBJ/menu.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/menu.xml", true, true));
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(w.Read("back/menu.xml") == content);
  EXPECT_EQ(w.Read(kTablePath), after);
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(HashSizes, HashRoundTrip,
                         ::testing::Values(0u, 1u, 17u, 1000u, 1048581u));

// h.xml holding "<menu/>\n": bytes 12 to 19 of the SHA-1 of its body, worked out independently.
const Bytes kSmallContent = "<menu/>\n";
const char* const kSmallTailHex = "dfaa449b521a22d1";

class HashContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDiscImage(w, "img");
    w.Write("src/h.xml", kSmallContent);
    w.MakeFolder("back");
  }

  ToolRun Encapsulate() { return w.Run({"-e", "-d", "src/h.xml", "img"}); }

  Workspace w;
};

TEST_F(HashContainer, FreshTableGetsEntryOneWithTheIndependentDigest) {
  ToolRun run = Encapsulate();
  EXPECT_EQ(run.out, HashEncapsulation("img/ADV_OBJ/h.xml", FromHex(kSmallTailHex)));
  EXPECT_EQ(w.Read("img/ADV_OBJ/h.xml"),
            Header(0x12, 0x00, 8) + NameBlock("h.xml") + kSmallContent + Number(1));
  EXPECT_EQ(Table(w), Bytes(kCounterAt, '\0') + Number(1) + FromHex(kSmallTailHex));
  ExpectNoLeftovers(w);
}

TEST_F(HashContainer, RenamedContainerMatchesItsHashButNotItsName) {
  Encapsulate();
  w.Write("img/ADV_OBJ/g.xml", w.Read("img/ADV_OBJ/h.xml"));
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/g.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/g.xml", true, false));
  EXPECT_EQ(w.Read("back/g.xml"), kSmallContent);
}

TEST_F(HashContainer, NameInOtherLetterCaseMatches) {
  Encapsulate();
  w.Write("img/ADV_OBJ/H.XML", w.Read("img/ADV_OBJ/h.xml"));
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/H.XML", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/H.XML", true, true));
}

TEST_F(HashContainer, ChangedContentByteMismatchesTheHash) {
  Encapsulate();
  Bytes bytes = w.Read("img/ADV_OBJ/h.xml");
  bytes[283 + 1] = 'M';
  w.Write("img/ADV_OBJ/h.xml", bytes);
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/h.xml", false, true));
  EXPECT_EQ(w.Read("back/h.xml"), "<Menu/>\n");
}

TEST_F(HashContainer, EntryNumberBeyondTheTableMismatches) {
  Encapsulate();
  Bytes bytes = w.Read("img/ADV_OBJ/h.xml");
  bytes.replace(bytes.size() - 4, 4, Number(2));
  w.Write("img/ADV_OBJ/h.xml", bytes);
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/h.xml", false, true));
}

TEST_F(HashContainer, SameFileTwiceGetsConsecutiveNumbersAndBothVerify) {
  Encapsulate();
  const Bytes first = w.Read("img/ADV_OBJ/h.xml");
  ToolRun run = Encapsulate();
  EXPECT_EQ(run.out, HashEncapsulation("img/ADV_OBJ/h.xml", FromHex(kSmallTailHex)));
  const Bytes second = w.Read("img/ADV_OBJ/h.xml");
  EXPECT_EQ(first.substr(first.size() - 4), Number(1));
  EXPECT_EQ(second.substr(second.size() - 4), Number(2));
  EXPECT_EQ(Table(w), Bytes(kCounterAt, '\0') + Number(2) + FromHex(kSmallTailHex) +
                          FromHex(kSmallTailHex));

  run = w.Run({"-d", "img/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/h.xml", true, true));
  w.Write("img/ADV_OBJ/h.xml", first);
  run = w.Run({"-d", "img/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/h.xml", true, true));
}

TEST_F(HashContainer, MissingTableStillRestoresAndNamesTheExpectedPath) {
  Encapsulate();
  w.Write("moved/ADV_OBJ/h.xml", w.Read("img/ADV_OBJ/h.xml"));
  ToolRun run = w.Run({"-d", "moved/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulationWithoutTable("back/h.xml",
                                                   "moved/AACS/CONTENT_HASH_TABLE2.AACS"));
  EXPECT_EQ(w.Read("back/h.xml"), kSmallContent);
  ExpectNoLeftovers(w);
}

TEST_F(HashContainer, SizeFieldIsNotWhatLocatesTheTrailer) {
  Encapsulate();
  Bytes bytes = w.Read("img/ADV_OBJ/h.xml");
  bytes.replace(7, 4, Number(0));
  w.Write("img/ADV_OBJ/h.xml", bytes);
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/h.xml", true, true));
  EXPECT_EQ(w.Read("back/h.xml"), kSmallContent);
}

TEST_F(HashContainer, TooShortContainerIsRefusedBeforeTheOperation) {
  Encapsulate();
  w.Write("img/ADV_OBJ/s.xml", w.Read("img/ADV_OBJ/h.xml").substr(0, 286));
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/s.xml", "back"});
  // The refusal leaves no type, so the key file is still looked for (none was named).
  EXPECT_EQ(run.out, kTooShort +
                         "\n   ERROR:   No s'ha pogut obrir el fitxer on es troba la clau per "
                         "xifrar\n\n\n\n");
  EXPECT_FALSE(w.Exists("back/s.xml"));
}

// Tables the tool must not add to (or, for the carries, must add to at the right place).
struct TableCase {
  const char* label;
  Bytes table;
  Bytes message;       // printed right after the announcement
  Bytes number;        // the container's trailer
  Bytes expectedTable; // empty: the table stays as it was
};

std::vector<TableCase> TableCases() {
  const Bytes tail = FromHex(kSmallTailHex);
  std::vector<TableCase> cases;
  cases.push_back({"Full", PatternedTable(0xFFFFFFFFu, 0), kFullTable, Number(0), ""});
  cases.push_back({"FullWithEntries", PatternedTable(0xFFFFFFFFu, 3), kFullTable, Number(0), ""});
  cases.push_back({"ShorterThanItsCounter", PatternedTable(0, 0).substr(0, 40059), kUnusableTable,
                   Number(0), ""});
  cases.push_back({"OnlyTheLeadingRegion", PatternedTable(0, 0).substr(0, kCounterAt),
                   kUnusableTable, Number(0), ""});
  cases.push_back({"Empty", "", kUnusableTable, Number(0), ""});
  cases.push_back({"LongerThanItsCounterSays", PatternedTable(0, 0) + "x", kUnusableTable,
                   Number(0), ""});
  cases.push_back({"OneEntryTooMany", PatternedTable(1, 2), kUnusableTable, Number(0), ""});
  cases.push_back({"OneEntryTooFew", PatternedTable(3, 2), kUnusableTable, Number(0), ""});
  cases.push_back({"CarryIntoTheThirdByte", PatternedTable(0xFF, 0xFF), "", Number(0x100),
                   PatternedTable(0x100, 0xFF) + tail});
  cases.push_back({"ThirdEntry", PatternedTable(2, 2), "", Number(3), PatternedTable(3, 2) + tail});
  return cases;
}

class HashTableCases : public ::testing::TestWithParam<TableCase> {};

TEST_P(HashTableCases, PrintsTheMessageAndWritesTheTrailer) {
  const TableCase& c = GetParam();
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write(kTablePath, c.table);
  w.Write("src/h.xml", kSmallContent);
  ToolRun run = w.Run({"-e", "-d", "src/h.xml", "img"});
  EXPECT_EQ(run.out, HashEncapsulation("img/ADV_OBJ/h.xml", FromHex(kSmallTailHex), c.message));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(w.Read("img/ADV_OBJ/h.xml"),
            Header(0x12, 0x00, 8) + NameBlock("h.xml") + kSmallContent + c.number);
  EXPECT_TRUE(Table(w) == (c.expectedTable.empty() ? c.table : c.expectedTable));
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(Tables, HashTableCases, ::testing::ValuesIn(TableCases()),
                         [](const ::testing::TestParamInfo<TableCase>& info) {
                           return info.param.label;
                         });

TEST(HashTable, EntryTwoHundredFiftySixIsFoundAtItsOffset) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write(kTablePath, PatternedTable(0xFF, 0xFF));
  w.Write("src/h.xml", kSmallContent);
  w.MakeFolder("back");
  w.Run({"-e", "-d", "src/h.xml", "img"});
  EXPECT_EQ(Table(w).substr(42100), FromHex(kSmallTailHex));
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/h.xml", "back"});
  EXPECT_EQ(run.out, HashDecapsulation("back/h.xml", true, true));
}

// Starts the tool without waiting for it; its output goes to `outPath`.
pid_t Launch(const Workspace& w, std::vector<std::string> arguments, const std::string& outPath) {
  arguments.insert(arguments.begin(), ToolBinary());
  std::vector<char*> argv;
  for (std::string& word : arguments) argv.push_back(word.data());
  argv.push_back(nullptr);
  const std::string root = w.Root().string();
  pid_t child = fork();
  if (child == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || chdir(root.c_str()) != 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return child;
}

TEST(HashTable, RunsAddingAtTheSameTimeGetDistinctNumbers) {
  Workspace w;
  Workspace capture;
  MakeDiscImage(w, "img");
  w.Write("key.bin", kKey);
  w.MakeFolder("back");
  constexpr int kRuns = 8;
  std::vector<std::string> names;
  for (int i = 0; i < kRuns; ++i) {
    // Half Hash files (one entry each), half Encryption-and-Hash files of three units each.
    const std::string name = std::string("f").append(std::to_string(i)) + (i % 2 == 0 ? ".xml" : ".js");
    w.Write("src/" + name, SampleContent(1000, static_cast<std::uint32_t>(i)));
    names.push_back(name);
  }
  std::vector<pid_t> children;
  for (int i = 0; i < kRuns; ++i) {
    children.push_back(Launch(w, {"-e", "-d", "src/" + names[i], "img", "key.bin"},
                              capture.Path(names[i]).string()));
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  const Bytes table = Table(w);
  constexpr std::uint32_t kEntries = kRuns / 2 + 3 * (kRuns / 2);
  ASSERT_EQ(table.size(), kFirstEntryAt + 8 * kEntries);
  EXPECT_EQ(table.substr(kCounterAt, 4), Number(kEntries));
  std::set<std::uint32_t> numbers;
  for (int i = 0; i < kRuns; ++i) {
    const Bytes container = w.Read("img/ADV_OBJ/" + names[i]);
    const std::size_t trailerAt = 283 + 1000;
    ASSERT_GE(container.size(), trailerAt + 4);
    std::uint32_t last = 0;
    for (std::size_t at = trailerAt; at + 4 <= container.size(); at += 4) {
      last = (static_cast<std::uint32_t>(static_cast<unsigned char>(container[at])) << 24) |
             (static_cast<std::uint32_t>(static_cast<unsigned char>(container[at + 1])) << 16) |
             (static_cast<std::uint32_t>(static_cast<unsigned char>(container[at + 2])) << 8) |
             static_cast<std::uint32_t>(static_cast<unsigned char>(container[at + 3]));
      EXPECT_TRUE(numbers.insert(last).second) << "number " << last << " handed out twice";
    }
    // The printed digest tail of the last unit is the entry at its number.
    ASSERT_GE(last, 1u);
    ASSERT_LE(last, kEntries);
    const Bytes out = capture.Read(names[i]);
    EXPECT_NE(out.find("* Hash obtingut: " + HexValues(table.substr(40052 + 8 * last, 8))),
              std::string::npos)
        << out;
  }
  EXPECT_EQ(numbers.size(), kEntries);

  for (int i = 0; i < kRuns; i += 2) {
    ToolRun run = w.Run({"-d", "img/ADV_OBJ/" + names[i], "back"});
    EXPECT_EQ(run.out, HashDecapsulation("back/" + names[i], true, true));
  }
  ExpectNoLeftovers(w);
}

}  // namespace
}  // namespace velador::testing

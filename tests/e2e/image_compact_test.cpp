// velador-image compact and remove through the built programs: the table left with exactly the
// entries the containers name and every verdict as it was, a second compaction that changes
// nothing, a removal that takes a file and its entries, and refusals that leave the image as it
// was.

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e/image_test.h"
#include "support/tool_process.h"

namespace velador::testing {
namespace {

using namespace expected;

constexpr std::size_t kCounterAt = 40056;
constexpr std::size_t kEntryLength = 8;

class ImageCompactTest : public ImageTest {
 protected:
  // The standard image after `add --replace` of menu.xml then anim.js: entries 1 to 8 are
  // orphans, menu.xml names entry 9 and anim.js 10 to 16.
  void MakeImageWithOrphans() {
    MakeStandardImage();
    const ToolRun add =
        Image({"add", "img", "--replace", "--key", "key", "src/menu.xml", "src/anim.js"});
    ASSERT_EQ(add.status, 0) << add.out << add.err;
  }

  // Every regular file under the workspace, by path, with its bytes.
  std::map<std::string, Bytes> Tree() const {
    std::map<std::string, Bytes> tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(w.Root())) {
      if (!entry.is_regular_file()) continue;
      const std::string relative = entry.path().lexically_relative(w.Root()).generic_string();
      tree[relative] = w.Read(relative);
    }
    return tree;
  }

  JsonValue Run(const std::vector<std::string>& arguments) {
    const ToolRun run = Image(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::string error;
    const auto document = ParseJson(run.out, error);
    EXPECT_TRUE(document.has_value()) << error << "\n" << run.out;
    return document.value_or(JsonValue{});
  }

  static std::map<std::string, std::string> Verdicts(const JsonValue& check) {
    std::map<std::string, std::string> verdicts;
    for (const JsonValue& file : check["files"].items) {
      verdicts[file["name"].string] = file["verdict"].string;
    }
    return verdicts;
  }

  // The table as a check finds it after a change: no findings, a counter of exactly the units
  // the containers name, and the length that counter asks for.
  static void ExpectCleanTable(const JsonValue& check) {
    const JsonValue& table = check["table"];
    EXPECT_EQ(table["findings"].Unsigned(), 0u);
    EXPECT_EQ(check["summary"]["table_findings"].Unsigned(), 0u);
    EXPECT_EQ(table["orphans"].Unsigned(), 0u);
    EXPECT_EQ(table["shared"].Unsigned(), 0u);
    EXPECT_TRUE(table["length_matches"].boolean);
    std::uint64_t units = 0;
    for (const JsonValue& file : check["files"].items) units += file["units_checked"].Unsigned();
    EXPECT_EQ(table["counter"].Unsigned(), units);
    EXPECT_EQ(table["length"].Unsigned(), kTableEntriesAt + kEntryLength * units);
  }
};

TEST_F(ImageCompactTest, CompactDropsTheOrphansAndKeepsEveryVerdict) {
  MakeImageWithOrphans();
  const JsonValue before = CheckJson(1);
  ASSERT_EQ(before["table"]["orphans"].Unsigned(), 8u);
  const ToolRun run = Image({"compact", "img"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  // Sorted by name, anim.js takes entries 1 to 7 and menu.xml entry 8.
  EXPECT_EQ(run.out,
            "   RENUMERAT    anim.js (Encryption-and-Hash): entrades 1-7\n"
            "   SENSE CANVIS logo.png (Encryption)\n"
            "   RENUMERAT    menu.xml (Hash): entrada 8\n"
            "   SENSE CANVIS notes.txt (Non-Protected)\n"
            "   TAULA        comptador: de 16 a 8, llargada: de 40188 a 40124 bytes, entrades "
            "\xF2rfenes eliminades: 8, c\xF2pies fetes: 0\n"
            "   RESUM:       fitxers: 4, renumerats: 2, sense canvis: 2\n");
  const JsonValue after = CheckJson(0);
  ExpectCleanTable(after);
  EXPECT_EQ(after["table"]["counter"].Unsigned(), 8u);
  EXPECT_EQ(Verdicts(after), Verdicts(before));
}

TEST_F(ImageCompactTest, CompactJsonNamesEachFileAndTheTable) {
  MakeImageWithOrphans();
  const JsonValue document = Run({"compact", "--json", "img"});
  ASSERT_FALSE(document.keys.empty());
  EXPECT_EQ(document.keys,
            (std::vector<std::string>{"schema_version", "program", "version", "command", "image",
                                      "files", "table", "exit_status"}));
  EXPECT_EQ(document["schema_version"].Unsigned(), 1u);
  EXPECT_EQ(document["program"].string, "velador-image");
  EXPECT_EQ(document["command"].string, "compact");
  EXPECT_EQ(document["image"].string, "img");
  struct Row {
    const char* name;
    const char* type;
    std::uint64_t numbers;
    std::uint64_t first;  // 0: null
    std::uint64_t last;
    bool rewritten;
  };
  const std::vector<Row> rows = {{"anim.js", "encryption_and_hash", 7, 1, 7, true},
                                 {"logo.png", "encryption", 0, 0, 0, false},
                                 {"menu.xml", "hash", 1, 8, 8, true},
                                 {"notes.txt", "non_protected", 0, 0, 0, false}};
  const JsonValue& files = document["files"];
  ASSERT_EQ(files.items.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const JsonValue& file = files[i];
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(file["name"].string, rows[i].name);
    EXPECT_TRUE(file["name_is_utf8"].boolean);
    EXPECT_EQ(file["type"].string, rows[i].type);
    EXPECT_EQ(file["numbers"].Unsigned(), rows[i].numbers);
    if (rows[i].first == 0) {
      EXPECT_TRUE(file["first_entry"].IsNull());
      EXPECT_TRUE(file["last_entry"].IsNull());
    } else {
      EXPECT_EQ(file["first_entry"].Unsigned(), rows[i].first);
      EXPECT_EQ(file["last_entry"].Unsigned(), rows[i].last);
    }
    EXPECT_EQ(file["rewritten"].boolean, rows[i].rewritten);
  }
  const JsonValue& table = document["table"];
  EXPECT_EQ(table["counter_before"].Unsigned(), 16u);
  EXPECT_EQ(table["counter_after"].Unsigned(), 8u);
  EXPECT_EQ(table["length_before"].Unsigned(), 40188u);
  EXPECT_EQ(table["length_after"].Unsigned(), 40124u);
  EXPECT_EQ(table["orphans_dropped"].Unsigned(), 8u);
  EXPECT_EQ(table["copies_made"].Unsigned(), 0u);
  EXPECT_EQ(document["exit_status"].Unsigned(), 0u);
}

TEST_F(ImageCompactTest, CompactingTwiceChangesNothingTheSecondTime) {
  MakeImageWithOrphans();
  Run({"compact", "img", "--json"});
  const std::map<std::string, Bytes> once = Tree();
  const JsonValue again = Run({"compact", "img", "--json"});
  EXPECT_EQ(Tree(), once);
  for (const JsonValue& file : again["files"].items) {
    EXPECT_FALSE(file["rewritten"].boolean) << file["name"].string;
  }
  EXPECT_EQ(again["table"]["counter_before"].Unsigned(), 8u);
  EXPECT_EQ(again["table"]["counter_after"].Unsigned(), 8u);
  EXPECT_EQ(again["table"]["orphans_dropped"].Unsigned(), 0u);
}

// The bytes before the counter are nobody's to interpret: they stay as they were.
TEST_F(ImageCompactTest, CompactKeepsTheTableHead) {
  MakeImageWithOrphans();
  Bytes table = Table();
  ASSERT_GT(table.size(), kCounterAt);
  for (std::size_t i = 0; i < kCounterAt; ++i) table[i] = static_cast<char>('A' + i % 23);
  w.Write(kTablePath, table);
  Run({"compact", "img", "--json"});
  const Bytes after = Table();
  ASSERT_GE(after.size(), kCounterAt);
  EXPECT_EQ(after.substr(0, kCounterAt), table.substr(0, kCounterAt));
  ExpectCleanTable(CheckJson(0));
}

TEST_F(ImageCompactTest, RemoveTakesTheFileAndItsEntries) {
  MakeStandardImage();
  const JsonValue document = Run({"remove", "img", "menu.xml", "--json"});
  EXPECT_EQ(document["command"].string, "remove");
  ASSERT_EQ(document["removed"].items.size(), 1u);
  EXPECT_EQ(document["removed"][0]["name"].string, "menu.xml");
  EXPECT_EQ(document["table"]["counter_before"].Unsigned(), 8u);
  EXPECT_EQ(document["table"]["counter_after"].Unsigned(), 7u);
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/menu.xml"));
  const JsonValue check = CheckJson(0);
  ASSERT_EQ(check["files"].items.size(), 3u);
  for (const JsonValue& file : check["files"].items) {
    EXPECT_NE(file["name"].string, "menu.xml");
    EXPECT_EQ(file["verdict"].string, "accepted") << file["name"].string;
  }
  ExpectCleanTable(check);
  EXPECT_EQ(check["table"]["counter"].Unsigned(), 7u);
}

// A name is matched as the file system the image lives on matches it: where letters fold
// (Windows), "MENU.XML" removes menu.xml together with its entry; where they do not, there is
// no such file, and nothing changes.
TEST_F(ImageCompactTest, RemoveMatchesANameAsTheFileSystemDoes) {
  MakeStandardImage();
  const Bytes table = Table();
  const ToolRun run = Image({"remove", "img", "MENU.XML", "--json"});
  if (!UnderWine()) {
    EXPECT_EQ(run.status, 2);
    EXPECT_TRUE(w.Exists("img/ADV_OBJ/menu.xml"));
    EXPECT_TRUE(Table() == table);
    return;
  }
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/menu.xml"));
  const JsonValue check = CheckJson(0);
  ASSERT_EQ(check["files"].items.size(), 3u);
  ExpectCleanTable(check);
  EXPECT_EQ(check["table"]["counter"].Unsigned(), 7u);
}

// On Windows a viewer or a scanner may hold a file of the image open so that no one else may
// write, remove or replace it. A change that needs such a file refuses before its point of no
// return and leaves the image exactly as it was; a held file the change does not touch stops
// nothing. (Elsewhere an open file stops no change: wine only.)
TEST_F(ImageCompactTest, AFileHeldByAnotherProgramRefusesOnlyTheChangesThatTouchIt) {
  if (!UnderWine()) GTEST_SKIP() << "Windows only: an open file stops no change elsewhere";
  struct Case {
    const char* label;
    const char* held;
    std::vector<std::string> arguments;
    int status;  // 0: the held file is not touched, and the change is made
  };
  const std::vector<Case> cases{
      {"a removal of the held file", "anim.js", {"remove", "img", "anim.js"}, 2},
      {"a removal of another file", "logo.png", {"remove", "img", "anim.js"}, 0},
      // The held file is refused like any file that cannot be replaced: nothing is written.
      {"a build that replaces the held file",
       "anim.js",
       {"build", "src", "img", "--key", "key"},
       1},
      {"a build that leaves the held file", "logo.png", {"build", "src", "img", "--key", "key"}, 0},
  };
  const auto tree = [&] {
    std::map<std::string, Bytes> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(w.Path("img"))) {
      if (entry.is_regular_file()) {
        files[entry.path().lexically_relative(w.Path("img")).string()] =
            w.Read(entry.path().lexically_relative(w.Path("")).string());
      }
    }
    return files;
  };
  const std::string exe = std::getenv("VELADOR_E2E_WINE_EXE");
  const std::string holder = exe.substr(0, exe.find_last_of("/\\") + 1) + "hold-file.exe";
  for (const Case& row : cases) {
    SCOPED_TRACE(row.label);
    std::filesystem::remove_all(w.Path("img"));
    std::filesystem::remove_all(w.Path("src"));
    MakeDiscImage(w, "img");
    MakeStandardImage();
    Source("anim.js", SampleContent(2500, 9));  // the build replaces anim.js, keeps logo.png
    const auto before = tree();
    const pid_t holding = StartTool(
        w.Path(""),
        {"setarch", "-R", "wine", holder, std::string("img/ADV_OBJ/") + row.held, "held.ready"},
        {kClosed, kClosed, kClosed}, EnvironmentWith());
    for (int waited = 0; waited < 600 && !w.Exists("held.ready"); ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    ASSERT_TRUE(w.Exists("held.ready"));
    const ToolRun run = Image(row.arguments);
    std::filesystem::remove(w.Path("held.ready"));
    EXPECT_EQ(WaitForExit(holding), 0);
    EXPECT_EQ(run.status, row.status) << run.out << run.err;
    EXPECT_EQ(tree() == before, row.status != 0) << run.out << run.err;
  }
}

TEST_F(ImageCompactTest, RemoveReportsTheRemovedFilesFirst) {
  MakeStandardImage();
  const ToolRun run = Image({"remove", "img", "anim.js", "menu.xml"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind("   ELIMINAT     anim.js\n   ELIMINAT     menu.xml\n"
                          "   SENSE CANVIS logo.png (Encryption)\n"
                          "   SENSE CANVIS notes.txt (Non-Protected)\n"
                          "   TAULA        comptador: de 8 a 0, llargada: de 40124 a 40060 bytes",
                          0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find("   RESUM:       fitxers: 2, renumerats: 0, sense canvis: 2, "
                         "eliminats: 2\n"),
            std::string::npos)
      << run.out;
}

// ---- Refusals: exit status 2, one line on standard error, the image as it was ---------------

struct RefusalCase {
  const char* label;
  std::vector<std::string> arguments;
  const char* text;
  const char* where;  // a piece of the path the line names
  void (*damage)(const Workspace&);
};
void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.label; }

class ImageChangeRefusal : public ImageCompactTest,
                           public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(ImageChangeRefusal, ChangesNothing) {
  const RefusalCase& c = GetParam();
  MakeImageWithOrphans();
  if (c.damage != nullptr) c.damage(w);
  const std::map<std::string, Bytes> before = Tree();
  const ToolRun run = Image(c.arguments);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  const std::string start = std::string("velador-image: ERROR: ") + c.text;
  EXPECT_EQ(run.err.rfind(start, 0), 0u) << run.err;
  EXPECT_NE(run.err.find(c.where, start.size()), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_EQ(Tree(), before);
}

INSTANTIATE_TEST_SUITE_P(
    All, ImageChangeRefusal,
    ::testing::Values(
        RefusalCase{"RemoveOfAMissingName",
                    {"remove", "img", "anim.js", "nothere.txt"},
                    "No hi ha cap fitxer amb aquest nom a la carpeta ADV_OBJ (no s'ha eliminat "
                    "res): ",
                    "nothere.txt",
                    nullptr},
        RefusalCase{"NoImage",
                    {"compact", "nothere"},
                    "No s'ha trobat la carpeta indicada: ",
                    "nothere",
                    nullptr},
        RefusalCase{"NoDiscFolder",
                    {"compact", "src"},
                    "No s'ha trobat la carpeta ADV_OBJ dins de la imatge de disc: ",
                    "src",
                    nullptr},
        RefusalCase{"NoTable",
                    {"remove", "img", "menu.xml"},
                    "La imatge de disc no t\xE9 taula de hash num 2: ",
                    "CONTENT_HASH_TABLE2.AACS",
                    [](const Workspace& w) { std::filesystem::remove(w.Path(kTablePath)); }},
        RefusalCase{"TableTooShort",
                    {"compact", "img"},
                    "No s'ha pogut fer servir la taula de hash num 2 (no s'obre per escriure-hi, "
                    "no es pot llegir o fa menys de 40060 bytes): ",
                    "CONTENT_HASH_TABLE2.AACS",
                    [](const Workspace& w) { w.Write(kTablePath, Bytes(40000, 'x')); }}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velador::testing

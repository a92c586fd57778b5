// velador-image build through the built programs: an image built from a source folder that a
// check accepts whole and that extracts back to the source byte for byte; a second build that
// changes nothing; one canonical result whatever state the image was built up from, a damaged
// entry included; a dry run that writes nothing; and refused files and runs that cannot be made,
// which leave the image as it was.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e/image_test.h"
#include "support/bytes.h"
#include "support/tool_process.h"

namespace velador::testing {
namespace {

using namespace expected;

constexpr std::size_t kEntryLength = 8;

class ImageBuildTest : public ImageTest {
 protected:
  // The source set S under "src": one file of each type that needs no MAC.
  void MakeSources() {
    Source("menu.xml", Bytes("<menu><item/></menu>\n"));
    Source("anim.js", SampleContent(3000, 7));
    Source("logo.png", SampleContent(700, 8));
    Source("notes.txt", Bytes("notes\n"));
  }

  // An earlier source set S0 under "src0": anim.js edited (and of another length), menu.xml as
  // in S, logo.png and notes.txt not there yet, old.xml and extra.js since dropped.
  void MakeEarlierSources() {
    w.Write("src0/anim.js", SampleContent(5000, 9));
    w.Write("src0/menu.xml", Bytes("<menu><item/></menu>\n"));
    w.Write("src0/old.xml", Bytes("<old/>\n"));
    w.Write("src0/extra.js", SampleContent(1200, 10));
  }

  // Every regular file under `folder`, by path relative to it, with its bytes.
  std::map<std::string, Bytes> Tree(const std::string& folder) const {
    std::map<std::string, Bytes> tree;
    const std::filesystem::path root = w.Path(folder);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      tree[entry.path().lexically_relative(root).generic_string()] =
          w.Read(folder + "/" + entry.path().lexically_relative(root).generic_string());
    }
    return tree;
  }

  // `build <source> <image> --key key [more] --json`, its status `status`, parsed.
  JsonValue BuildJson(const std::string& source, const std::string& image, int status,
                      const std::vector<std::string>& more = {}) {
    std::vector<std::string> arguments = {"build", source, image, "--key", "key"};
    arguments.insert(arguments.end(), more.begin(), more.end());
    arguments.push_back("--json");
    const ToolRun run = Image(arguments);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(run.err, "");
    std::string error;
    const auto document = ParseJson(run.out, error);
    EXPECT_TRUE(document.has_value()) << error << "\n" << run.out;
    return document.value_or(JsonValue{});
  }

  // The files of a build's document as "name:action", in the order they came.
  static std::vector<std::string> Actions(const JsonValue& build) {
    std::vector<std::string> actions;
    for (const JsonValue& file : build["files"].items) {
      actions.push_back(file["name"].string + ":" + file["action"].string);
    }
    return actions;
  }

  static const JsonValue& BuiltFileIn(const JsonValue& build, const std::string& name) {
    for (const JsonValue& file : build["files"].items) {
      if (file["name"].string == name) return file;
    }
    ADD_FAILURE() << "no file " << name;
    static const JsonValue none;
    return none;
  }
};

// (a) Into an image init has just made: every file added, and a check accepts the image whole.
TEST_F(ImageBuildTest, IntoAnEmptyImageEveryFileIsAddedAndACheckAcceptsThemAll) {
  MakeSources();
  ASSERT_EQ(Image({"init", "new"}).status, 0);
  const ToolRun run = Image({"build", "src", "new", "--key", "key"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  // By name; the table renumbered as a compaction numbers it: by name, then unit.
  EXPECT_EQ(run.out,
            "   AFEGIT       anim.js (Encryption-and-Hash): entrades 1-7\n"
            "   AFEGIT       logo.png (Encryption)\n"
            "   AFEGIT       menu.xml (Hash): entrada 8\n"
            "   AFEGIT       notes.txt (Non-Protected)\n"
            "   RESUM:       fitxers: 4, afegits: 4, substitu\xEFts: 0, eliminats: 0, sense "
            "canvis: 0\n");
  const JsonValue check = CheckJson(0, {"check", "new", "--key", "key"});
  EXPECT_EQ(check["summary"]["accepted"].Unsigned(), 4u);
  EXPECT_EQ(check["summary"]["table_findings"].Unsigned(), 0u);
  EXPECT_EQ(check["table"]["findings"].Unsigned(), 0u);
  EXPECT_EQ(check["table"]["counter"].Unsigned(), 8u);
  EXPECT_TRUE(check["table"]["length_matches"].boolean);
  ExpectNoLeftovers(w);
}

TEST_F(ImageBuildTest, JsonNamesEachFileItsActionAndTheTable) {
  MakeSources();
  const JsonValue document = BuildJson("src", "img", 0);
  EXPECT_EQ(document.keys, (std::vector<std::string>{
                               "schema_version", "program", "version", "command", "source", "image",
                               "dry_run", "excluded", "files", "table", "summary", "exit_status"}));
  EXPECT_EQ(document["schema_version"].Unsigned(), 2u);
  EXPECT_EQ(document["program"].string, "velador-image");
  EXPECT_EQ(document["command"].string, "build");
  EXPECT_EQ(document["source"].string, "src");
  EXPECT_EQ(document["image"].string, "img");
  EXPECT_FALSE(document["dry_run"].boolean);
  struct Row {
    const char* name;
    const char* type;
    std::uint64_t first;  // 0: null
    std::uint64_t last;
  };
  const std::vector<Row> rows = {{"anim.js", "encryption_and_hash", 1, 7},
                                 {"logo.png", "encryption", 0, 0},
                                 {"menu.xml", "hash", 8, 8},
                                 {"notes.txt", "non_protected", 0, 0}};
  const JsonValue& files = document["files"];
  ASSERT_EQ(files.items.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const JsonValue& file = files[i];
    SCOPED_TRACE(rows[i].name);
    EXPECT_EQ(file.keys,
              (std::vector<std::string>{"name", "name_is_utf8", "type", "action", "reason",
                                        "message", "first_entry", "last_entry"}));
    EXPECT_EQ(file["name"].string, rows[i].name);
    EXPECT_TRUE(file["name_is_utf8"].boolean);
    EXPECT_EQ(file["type"].string, rows[i].type);
    EXPECT_EQ(file["action"].string, "add");
    EXPECT_TRUE(file["reason"].IsNull());
    EXPECT_TRUE(file["message"].IsNull());
    if (rows[i].first == 0) {
      EXPECT_TRUE(file["first_entry"].IsNull());
      EXPECT_TRUE(file["last_entry"].IsNull());
    } else {
      EXPECT_EQ(file["first_entry"].Unsigned(), rows[i].first);
      EXPECT_EQ(file["last_entry"].Unsigned(), rows[i].last);
    }
  }
  EXPECT_EQ(document["table"]["counter_before"].Unsigned(), 0u);
  EXPECT_EQ(document["table"]["counter_after"].Unsigned(), 8u);
  const JsonValue& summary = document["summary"];
  EXPECT_EQ(summary["files"].Unsigned(), 4u);
  EXPECT_EQ(summary["added"].Unsigned(), 4u);
  EXPECT_EQ(summary["replaced"].Unsigned(), 0u);
  EXPECT_EQ(summary["removed"].Unsigned(), 0u);
  EXPECT_EQ(summary["kept"].Unsigned(), 0u);
  EXPECT_EQ(summary["refused"].Unsigned(), 0u);
  EXPECT_EQ(document["exit_status"].Unsigned(), 0u);
}

// (b) The same sources twice: the second run keeps every file and writes nothing.
TEST_F(ImageBuildTest, BuildingTwiceChangesNothingTheSecondTime) {
  MakeSources();
  BuildJson("src", "img", 0);
  const std::map<std::string, Bytes> once = Tree("img");
  const ToolRun again = Image({"build", "src", "img", "--key", "key"});
  EXPECT_EQ(again.status, 0);
  EXPECT_EQ(again.err, "");
  EXPECT_EQ(again.out,
            "   SENSE CANVIS anim.js (Encryption-and-Hash): entrades 1-7\n"
            "   SENSE CANVIS logo.png (Encryption)\n"
            "   SENSE CANVIS menu.xml (Hash): entrada 8\n"
            "   SENSE CANVIS notes.txt (Non-Protected)\n"
            "   RESUM:       fitxers: 4, afegits: 0, substitu\xEFts: 0, eliminats: 0, sense "
            "canvis: 4\n");
  EXPECT_EQ(Tree("img"), once);
  ExpectNoLeftovers(w);
  // What the builds learned is kept in the user's cache folder, or the one asked for, never in
  // the image; --no-cache keeps nothing.
  const auto cachesIn = [](const std::filesystem::path& folder) {
    std::size_t caches = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
      caches += entry.path().extension() == ".build";
    }
    return caches;
  };
  // (Windows keeps it under %LOCALAPPDATA%.)
  if (!UnderWine()) {
    EXPECT_EQ(cachesIn(w.CacheFolder() / "velador"), 1u);
  }
  EXPECT_EQ(Image({"build", "src", "img", "--key", "key", "--cache-dir", "mine"}).status, 0);
  EXPECT_EQ(cachesIn(w.Path("mine")), 1u);
  EXPECT_EQ(Image({"build", "src", "img", "--key", "key", "--no-cache", "--cache-dir=none"}).status,
            0);
  EXPECT_FALSE(std::filesystem::exists(w.Path("none")));
  EXPECT_EQ(Tree("img"), once);
}

// (c) Built from S directly, or from an earlier S0 then from S: the same bytes, ADV_OBJ and
// table alike.
TEST_F(ImageBuildTest, TheResultIsTheSameWhateverStateItWasBuiltUpFrom) {
  MakeSources();
  MakeEarlierSources();
  BuildJson("src", "img", 0);
  MakeDiscImage(w, "imgB");
  BuildJson("src0", "imgB", 0);
  const JsonValue update = BuildJson("src", "imgB", 0);
  EXPECT_EQ(Actions(update),
            (std::vector<std::string>{"anim.js:replace", "logo.png:add", "menu.xml:keep",
                                      "notes.txt:add", "extra.js:remove", "old.xml:remove"}));
  const JsonValue& removed = BuiltFileIn(update, "old.xml");
  EXPECT_TRUE(removed["first_entry"].IsNull());
  EXPECT_TRUE(removed["reason"].IsNull());
  EXPECT_EQ(update["summary"]["files"].Unsigned(), 6u);
  EXPECT_EQ(update["summary"]["replaced"].Unsigned(), 1u);
  EXPECT_EQ(update["summary"]["removed"].Unsigned(), 2u);
  EXPECT_EQ(update["table"]["counter_after"].Unsigned(), 8u);
  EXPECT_EQ(Tree("imgB"), Tree("img"));
  ExpectNoLeftovers(w);
}

// (d) What build put in, extract gives back.
TEST_F(ImageBuildTest, ExtractGivesBackTheSourceFolderByteForByte) {
  MakeSources();
  Source("empty.txt", "");
  Source("with blank.XML", "<a/>\n");
  BuildJson("src", "img", 0);
  const ToolRun extract = Image({"extract", "img", "out", "--key", "key"});
  EXPECT_EQ(extract.status, 0) << extract.out << extract.err;
  EXPECT_EQ(Tree("out"), Tree("src"));
}

// (e) A dry run says what a run would do, and writes nothing.
TEST_F(ImageBuildTest, DryRunListsWhatWouldBeDoneAndWritesNothing) {
  MakeSources();
  MakeEarlierSources();
  BuildJson("src0", "img", 0);
  const std::map<std::string, Bytes> before = Tree("img");
  const ToolRun run = Image({"build", "src", "img", "--key", "key", "--dry-run"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> starts = {
      "   PROVA        no s'ha escrit res: cada l\xEDnia diu qu\xE8 es faria\n",
      "   SUBSTITU\xCFT   anim.js (Encryption-and-Hash)",
      "   AFEGIT       logo.png (Encryption)",
      "   SENSE CANVIS menu.xml (Hash)",
      "   AFEGIT       notes.txt (Non-Protected)",
      "   ELIMINAT     extra.js",
      "   ELIMINAT     old.xml",
      "   RESUM:       fitxers: 6, afegits: 2, substitu\xEFts: 1, eliminats: 2, sense canvis: 1\n"};
  std::size_t at = 0;
  for (const std::string& start : starts) {
    EXPECT_EQ(run.out.compare(at, start.size(), start), 0) << "at " << at << ":\n" << run.out;
    at = run.out.find('\n', at);
    if (at == std::string::npos) break;
    ++at;
  }
  EXPECT_EQ(at, run.out.size()) << run.out;
  EXPECT_EQ(Tree("img"), before);
  const JsonValue document = BuildJson("src", "img", 0, {"--dry-run"});
  EXPECT_TRUE(document["dry_run"].boolean);
  EXPECT_EQ(Actions(document),
            (std::vector<std::string>{"anim.js:replace", "logo.png:add", "menu.xml:keep",
                                      "notes.txt:add", "extra.js:remove", "old.xml:remove"}));
  EXPECT_EQ(Tree("img"), before);
  ExpectNoLeftovers(w);
}

// What editors and systems drop into a folder stays out of the image, each file named on one
// line, the dry run alike; --exclude leaves out more, --no-default-exclude lets the junk in, and
// a file left out that an earlier build put in goes.
TEST_F(ImageBuildTest, JunkAndExcludedNamesStayOutOfTheImage) {
  MakeSources();
  for (const char* junk : {".DS_Store", "Thumbs.db", "desktop.ini", "menu01.xml~",
                           ".menu02.xml.swp", ".menu02.xml.swo", "#notes#"}) {
    Source(junk, "junk\n");
  }
  Source("draft.bak", "old\n");
  w.MakeFolder("src/.git");  // a folder would stop the build: left out, it does not
  const std::string excluded =
      "   EXCLOSOS:    9 fitxers de l'origen no s'han posat a la imatge: #notes#, .DS_Store, "
      ".git, .menu02.xml.swo, .menu02.xml.swp, Thumbs.db, desktop.ini, draft.bak, menu01.xml~\n";
  const std::vector<std::string> options = {"--exclude", "*.bak", "--exclude=.git"};
  for (const bool dry : {true, false}) {
    std::vector<std::string> arguments = {"build", "src", "img", "--key", "key"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    if (dry) arguments.push_back("--dry-run");
    const ToolRun run = Image(arguments);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("fitxers: 4, afegits: 4"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), excluded.size())), excluded);
  }
  EXPECT_EQ(Tree("img/ADV_OBJ").size(), 4u);
  const JsonValue document = BuildJson("src", "img", 0, options);
  std::vector<std::string> names;
  for (const JsonValue& name : document["excluded"].items) names.push_back(name.string);
  EXPECT_EQ(names.size(), 9u);
  // Let in, the junk goes into the image; left out again, it leaves it.
  std::filesystem::remove(w.Path("src/.git"));
  const ToolRun all = Image({"build", "src", "img", "--key", "key", "--no-default-exclude"});
  EXPECT_EQ(all.status, 0);
  EXPECT_EQ(Tree("img/ADV_OBJ").size(), 12u);
  const ToolRun again = Image({"build", "src", "img", "--key", "key"});
  EXPECT_NE(again.out.find("   ELIMINAT     .DS_Store (Non-Protected)\n"), std::string::npos)
      << again.out;
  EXPECT_EQ(Tree("img/ADV_OBJ").size(), 5u) << "the four, and draft.bak";
  EXPECT_EQ(Image({"check", "img", "--key", "key"}).status, 0);
  EXPECT_EQ(Image({"add", "img", "--exclude", "*.bak", "src/menu.xml"}).status, 2);
}

// (h) A kept file must be one a player accepts: with its table entry damaged, it is
// encapsulated again, and the image comes out as if built afresh.
TEST_F(ImageBuildTest, AFileWhoseEntryIsDamagedIsEncapsulatedAgain) {
  MakeSources();
  const JsonValue first = BuildJson("src", "img", 0);
  MakeDiscImage(w, "imgB");
  BuildJson("src", "imgB", 0);
  const std::uint64_t entry = BuiltFileIn(first, "menu.xml")["first_entry"].Unsigned();
  ASSERT_GT(entry, 0u);
  w.FlipBits("imgB/AACS/CONTENT_HASH_TABLE2.AACS",
             kTableEntriesAt + kEntryLength * static_cast<std::size_t>(entry - 1) + 3);
  ASSERT_NE(Tree("imgB"), Tree("img"));
  const JsonValue again = BuildJson("src", "imgB", 0);
  EXPECT_EQ(Actions(again), (std::vector<std::string>{"anim.js:keep", "logo.png:keep",
                                                      "menu.xml:replace", "notes.txt:keep"}));
  EXPECT_EQ(Tree("imgB"), Tree("img"));
  EXPECT_EQ(CheckJson(0, {"check", "imgB", "--key", "key"})["summary"]["accepted"].Unsigned(), 4u);
}

// ---- (g) A refused file: exit status 1, nothing written ------------------------------------

struct RefusedCase {
  const char* label;
  void (*prepare)(const Workspace&);  // writes the source folder "srcR"
  bool key;
  const char* name;  // the file refused
  const char* line;  // its line
  const char* reason;
  const char* message;
  std::uint64_t files;  // the source's two and the image's three it would remove
};
void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.label; }

class ImageBuildRefused : public ImageBuildTest,
                          public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(ImageBuildRefused, LeavesTheImageAsItWas) {
  const RefusedCase& c = GetParam();
  MakeStandardImage();
  c.prepare(w);
  const std::map<std::string, Bytes> before = Tree("img");
  std::vector<std::string> arguments = {"build", "srcR", "img"};
  if (c.key) arguments.insert(arguments.end(), {"--key", "key"});
  const ToolRun run = Image(arguments);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.rfind(
                "   NO FET       hi ha fitxers que no es poden afegir, i no s'ha escrit res: cada "
                "l\xEDnia diu qu\xE8 es faria\n",
                0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find(std::string("\n") + c.line + "\n"), std::string::npos) << run.out;
  const std::string summary = "   RESUM:       fitxers: " + std::to_string(c.files) +
                              ", no afegits: 1: no s'ha canviat res\n";
  EXPECT_EQ(run.out.substr(run.out.size() - std::min(run.out.size(), summary.size())), summary);
  EXPECT_EQ(Tree("img"), before);
  arguments.push_back("--json");
  const ToolRun json = Image(arguments);
  EXPECT_EQ(json.status, 1);
  std::string error;
  const auto document = ParseJson(json.out, error);
  ASSERT_TRUE(document.has_value()) << error << "\n" << json.out;
  EXPECT_EQ((*document)["exit_status"].Unsigned(), 1u);
  EXPECT_EQ((*document)["summary"]["refused"].Unsigned(), 1u);
  const JsonValue& file = BuiltFileIn(*document, c.name);
  EXPECT_EQ(file["action"].string, "refused");
  EXPECT_EQ(file["reason"].string, c.reason);
  EXPECT_EQ(file["message"].string, c.message);
  EXPECT_EQ(Tree("img"), before);
  std::filesystem::remove_all(w.Path("srcR"));  // it may hold a name the tools reserve
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ImageBuildRefused,
    ::testing::Values(
        RefusedCase{"AlreadyAContainer",
                    [](const Workspace& w) {
                      w.Write("srcR/menu.xml", "<menu/>\n");
                      // "AACS", the Hash type's byte, and the rest of a header.
                      w.Write("srcR/already.xml", Header(0x12, 20) + Bytes(20, 'x'));
                    },
                    true, "already.xml",
                    "   NO AFEGIT    already.xml: ja correspon a un fitxer AACS",
                    "already_container", "ja correspon a un fitxer AACS", 5},
        // The tools' own names: a later clean-up would take such a file for a leftover.
        RefusedCase{"ReservedName",
                    [](const Workspace& w) {
                      w.Write("srcR/menu.xml", "<menu/>\n");
                      w.Write("srcR/.velador-0badc0de.tmp", "mine\n");
                    },
                    true, ".velador-0badc0de.tmp",
                    "   NO AFEGIT    .velador-0badc0de.tmp: el nom comen\xE7"
                    "a per .velador-, que les eines reserven per als seus fitxers temporals",
                    "reserved_name",
                    "el nom comen\xC3\xA7"
                    "a per .velador-, que les eines reserven per als seus fitxers temporals",
                    5},
        // A disc and Windows fold letters: the two would be one file there.
        RefusedCase{"NamesThatFoldAlike",
                    [](const Workspace& w) {
                      w.Write("srcR/Case.xml", "<menu/>\n");
                      w.Write("srcR/case.xml", "<other/>\n");
                    },
                    true, "case.xml",
                    "   NO AFEGIT    case.xml (Hash): un fitxer anterior d'aquesta llista ja "
                    "t\xE9 aquest nom",
                    "duplicate", "un fitxer anterior d'aquesta llista ja t\xC3\xA9 aquest nom", 6}),
    [](const auto& info) { return std::string(info.param.label); });

// Ctrl-C at any moment of a build that stages 60 files: the image as before or after (a check
// accepts every file), and none of the temporary files it staged left behind, however many. The
// line the interrupt leaves says which of the two.
class ImageBuildInterrupted : public ImageTest, public ::testing::WithParamInterface<int> {};

TEST_P(ImageBuildInterrupted, LeavesNoTemporaryFileBehind) {
  SKIP_UNDER_WINE("signals are POSIX");
  for (int i = 0; i < 60; ++i) {
    const std::string name = std::string("f").append(std::to_string(i)) + (i % 2 ? ".js" : ".xml");
    Source(name, SampleContent(i % 10 == 0 ? 1u << 20 : 20000u, static_cast<std::uint32_t>(i)));
  }
  Workspace capture;
  const pid_t build = w.Start({"build", "src", "img", "--key", "key"}, capture.Path("out").string(),
                              capture.Path("err").string(), Program::kImage);
  std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
  kill(build, SIGINT);
  // Done before the interrupt came, or ended by it as the system ends a process on one.
  const int status = WaitForExit(build);
  EXPECT_TRUE(status == 0 || status == -1) << status;
  ExpectNoLeftovers(w);
  const JsonValue document = CheckJson(0);
  EXPECT_EQ(document["table"]["orphans"].Unsigned(), 0u);
  const std::size_t files = document["files"].items.size();
  EXPECT_TRUE(files == 0 || files == 60) << files;
  const Bytes said = capture.Read("err");
  // An interrupt that came before the program had begun says nothing.
  if (status == 0 || said.empty()) {
    EXPECT_TRUE(status == 0 ? said.empty() : files == 0) << said;
  } else {
    EXPECT_EQ(said, files == 0 ? "velador-image: INTERROMPUT: La imatge no ha canviat\n"
                               : "velador-image: INTERROMPUT: El canvi ja s'ha fet sencer\n");
  }
}

INSTANTIATE_TEST_SUITE_P(After, ImageBuildInterrupted, ::testing::Values(60, 150, 250, 400),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

// ---- (f) and the other runs that cannot be made: exit status 2, the image as it was ---------

struct BuildErrorCase {
  const char* label;
  std::vector<std::string> arguments;
  const char* text;
  const char* where;  // a piece of the path the line names
  void (*prepare)(const Workspace&);
};
void PrintTo(const BuildErrorCase& c, std::ostream* os) { *os << c.label; }

class ImageBuildCannotBeMade : public ImageBuildTest,
                               public ::testing::WithParamInterface<BuildErrorCase> {};

TEST_P(ImageBuildCannotBeMade, ChangesNothingAndSaysWhy) {
  const BuildErrorCase& c = GetParam();
  MakeStandardImage();
  if (c.prepare != nullptr) c.prepare(w);
  const std::map<std::string, Bytes> before = Tree(".");
  const ToolRun run = Image(c.arguments);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  const std::string start = std::string("velador-image: ERROR: ") + c.text;
  EXPECT_EQ(run.err.rfind(start, 0), 0u) << run.err;
  EXPECT_NE(run.err.find(c.where, start.size()), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  EXPECT_EQ(Tree("."), before);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ImageBuildCannotBeMade,
    ::testing::Values(
        BuildErrorCase{"SubFolderInTheSource",
                       {"build", "src", "img", "--key", "key"},
                       "La carpeta ADV_OBJ no t\xE9 subcarpetes, i la carpeta d'origen nom\xE9s "
                       "pot tenir fitxers (no se'n prenen subcarpetes); aquesta entrada no \xE9s "
                       "un fitxer: ",
                       "sub",
                       [](const Workspace& w) { w.Write("src/sub/inner.txt", "inner\n"); }},
        BuildErrorCase{"NoSource",
                       {"build", "nosource", "img", "--key", "key"},
                       "No s'ha trobat la carpeta d'origen: ",
                       "nosource",
                       nullptr},
        BuildErrorCase{"NoImage",
                       {"build", "src", "noimage", "--key", "key"},
                       "No s'ha trobat la carpeta indicada: ",
                       "noimage",
                       nullptr},
        BuildErrorCase{"NoDiscFolder",
                       {"build", "src", "out", "--key", "key"},
                       "No s'ha trobat la carpeta ADV_OBJ dins de la imatge de disc: ",
                       "out",
                       nullptr},
        BuildErrorCase{"NoTable",
                       {"build", "src", "img", "--key", "key"},
                       "La imatge de disc no t\xE9 taula de hash num 2: ",
                       "CONTENT_HASH_TABLE2.AACS",
                       [](const Workspace& w) { std::filesystem::remove(w.Path(kTablePath)); }},
        BuildErrorCase{"TableTooShort",
                       {"build", "src", "img", "--key", "key", "--dry-run"},
                       "No s'ha pogut fer servir la taula de hash num 2 (no s'obre per "
                       "escriure-hi, no es pot llegir o fa menys de 40060 bytes): ",
                       "CONTENT_HASH_TABLE2.AACS",
                       [](const Workspace& w) { w.Write(kTablePath, Bytes(40000, 'x')); }},
        BuildErrorCase{"SourceIsTheImagesTableFolder",
                       {"build", "img/AACS", "img", "--key", "key"},
                       "La carpeta d'origen \xE9s la imatge de disc o hi \xE9s a dins; cal una "
                       "carpeta de fora de la imatge: ",
                       "AACS",
                       nullptr},
        BuildErrorCase{"SourceIsTheImageItself",
                       {"build", "./img/", "img", "--key", "key"},
                       "La carpeta d'origen \xE9s la imatge de disc o hi \xE9s a dins; cal una "
                       "carpeta de fora de la imatge: ",
                       "img",
                       nullptr},
        BuildErrorCase{"KeyFileMissing",
                       {"build", "src", "img", "--key", "nokey"},
                       "No s'ha pogut obrir el fitxer on es troba la clau: ",
                       "nokey",
                       nullptr},
        // Without a key, one error rather than a line for each file that needs one.
        BuildErrorCase{"NoKeyForFilesThatNeedOne",
                       {"build", "src", "img"},
                       "Cal la clau (--key): els fitxers de l'origen que no s\xF3n de tipus Hash "
                       "s'han de xifrar, com ara: ",
                       "src/anim.js",
                       nullptr},
        BuildErrorCase{
            "KeyFileOfHexText",
            {"build", "src", "img", "--key", "hex"},
            "El fitxer de clau ha de contenir els 16 bytes de la clau, no el text "
            "hexadecimal de 32 car\xE0"
            "cters que la representa: ",
            "hex",
            [](const Workspace& w) { w.Write("hex", "00112233445566778899AABBCCDDEEFF\r\n"); }}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velador::testing

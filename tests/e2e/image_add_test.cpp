// velador-image add through the built program: the same containers and table as a loop of
// `velador -e -d` in the same order, the same refusals, a batch of 200 files that a check then
// accepts, batches beside velador runs on the same table, and the runs that cannot be made;
// and the command line of velador-image.

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "crypto/crypto_paths.h"
#include "e2e/image_test.h"

namespace velador::testing {
namespace {

using namespace expected;

std::string Added(std::string_view input, std::string_view type, std::string_view entries = "") {
  return Expected("image/added", {{"input", input}, {"type", type}, {"entries", entries}});
}
std::string NotAdded(std::string_view input, std::string_view type, std::string_view reason) {
  return Expected("image/not_added", {{"input", input}, {"type", type}, {"reason", reason}});
}
std::string AddSummary(std::string_view files, std::string_view added, std::string_view notAdded) {
  return Expected("image/add_summary",
                  {{"files", files}, {"added", added}, {"not_added", notAdded}});
}

// Every file below `folder`, by relative path, with its bytes.
std::vector<std::pair<std::string, Bytes>> Contents(const Workspace& w, const std::string& folder) {
  std::vector<std::pair<std::string, Bytes>> contents;
  for (const std::string& entry : w.List()) {
    if (entry.rfind(folder + "/", 0) == 0 && std::filesystem::is_regular_file(w.Path(entry))) {
      contents.emplace_back(entry.substr(folder.size()), w.Read(entry));
    }
  }
  return contents;
}

class ImageAdd : public ImageTest {
 protected:
  ImageAdd() { MakeDiscImage(w, "ref"); }

  // Adds `files` (under src/) to img with velador-image and to ref with a loop of velador.
  ToolRun AddBoth(const std::vector<std::string>& files) {
    std::vector<std::string> arguments = {"add", "img", "--key", "key"};
    for (const std::string& file : files) {
      arguments.push_back("src/" + file);
      Out({"-e", "-d", "src/" + file, "ref", "key"});
    }
    return Image(arguments);
  }
};

TEST_F(ImageAdd, WritesWhatALoopOfVeladorWrites) {
  Source("menu.xml", "<menu/>\n");
  Source("anim.js", SampleContent(3000, 1));
  Source("big.js", SampleContent(1572864, 2));  // 3073 units, through the threaded pipeline
  Source("logo.png", SampleContent(5000, 3));
  Source("notes.txt", "notes\n");
  Source("with blank.XML", "<a/>\n");
  Source("empty.txt", "");
  const ToolRun run = AddBoth(
      {"menu.xml", "anim.js", "big.js", "logo.png", "notes.txt", "with blank.XML", "empty.txt"});
  EXPECT_EQ(run.out, Added("src/menu.xml", "Hash", ": entrada 1") +
                         Added("src/anim.js", "Encryption-and-Hash", ": entrades 2-8") +
                         Added("src/big.js", "Encryption-and-Hash", ": entrades 9-3081") +
                         Added("src/logo.png", "Encryption") +
                         Added("src/notes.txt", "Non-Protected") +
                         Added("src/with blank.XML", "Hash", ": entrada 3082") +
                         Added("src/empty.txt", "Non-Protected") + AddSummary("7", "7", "0"));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(Contents(w, "img") == Contents(w, "ref")) << "containers and table byte for byte";
  ExpectNoLeftovers(w);
}

// With standard output closed, the first file a run opened took descriptor 1 and received the
// report: the table, say. Such runs now print into nothing and leave exactly the files a run
// with its output open leaves. Each run is made once on "ref" with the output open and once on
// "img" with it closed ("IMG" stands for the image).
struct ClosedOutputCase {
  const char* label;
  Program program;
  std::vector<std::vector<std::string>> runs;
};
void PrintTo(const ClosedOutputCase& c, std::ostream* os) { *os << c.label; }

class ImageAddWithOutputClosed : public ImageAdd,
                                 public ::testing::WithParamInterface<ClosedOutputCase> {};

TEST_P(ImageAddWithOutputClosed, LeavesWhatARunWithItOpenLeaves) {
  SKIP_UNDER_WINE("descriptors closed at the start are a POSIX matter");
  Source("menu.xml", "<menu/>\n");
  Source("anim.js", SampleContent(3000, 1));
  Source("notes.txt", "notes\n");
  for (const std::vector<std::string>& words : GetParam().runs) {
    for (const char* image : {"ref", "img"}) {
      std::vector<std::string> arguments = words;
      std::replace(arguments.begin(), arguments.end(), std::string("IMG"), std::string(image));
      const bool closed = image == std::string("img");
      const ToolRun run = closed ? w.RunWithOutputClosed(arguments, GetParam().program)
                                 : w.Run(arguments, GetParam().program);
      EXPECT_EQ(run.status, 0) << image;
      EXPECT_EQ(run.err, "") << image;
    }
  }
  EXPECT_TRUE(Contents(w, "img") == Contents(w, "ref")) << "containers and table byte for byte";
  ExpectNoLeftovers(w);
  // The containers restore whole with the output closed too.
  for (const char* name : {"menu.xml", "anim.js", "notes.txt"}) {
    EXPECT_EQ(
        w.RunWithOutputClosed({"-d", std::string("img/ADV_OBJ/") + name, "back", "key"}).status, 0);
    EXPECT_TRUE(w.Read(std::string("back/") + name) == w.Read(std::string("src/") + name)) << name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachProgram, ImageAddWithOutputClosed,
    ::testing::Values(ClosedOutputCase{"VeladorImage",
                                       Program::kImage,
                                       {{"add", "IMG", "--key", "key", "src/menu.xml",
                                         "src/anim.js", "src/notes.txt"}}},
                      ClosedOutputCase{"Velador",
                                       Program::kVelador,
                                       {{"-e", "-d", "src/menu.xml", "IMG", "key"},
                                        {"-e", "-d", "src/anim.js", "IMG", "key"},
                                        {"-e", "-d", "src/notes.txt", "IMG", "key"}}}),
    [](const auto& info) { return std::string(info.param.label); });

// A report that does not reach its reader is no success, whatever the command did: a full disk
// under standard output makes each command fail with a word on standard error.
TEST_F(ImageAdd, AReportThatCannotBeWrittenIsAFailure) {
  SKIP_UNDER_WINE("the full device is a Linux one");
  Source("menu.xml", "<menu/>\n");
  Workspace capture;
  for (const std::vector<std::string>& arguments :
       {std::vector<std::string>{"init", "fresh"},
        std::vector<std::string>{"add", "img", "--key", "key", "src/menu.xml"},
        std::vector<std::string>{"check", "img", "--key", "key"},
        std::vector<std::string>{"check", "img", "--key", "key", "--json"}}) {
    SCOPED_TRACE(arguments[0]);
    const pid_t run =
        w.Start(arguments, "/dev/full", capture.Path("err").string(), Program::kImage);
    EXPECT_EQ(WaitForExit(run), 2);
    EXPECT_EQ(capture.Read("err").rfind("velador-image: ERROR: No s'ha pogut escriure l'informe a "
                                        "la sortida est\xE0ndard",
                                        0),
              0u)
        << capture.Read("err");
  }
  EXPECT_TRUE(w.Exists("img/ADV_OBJ/menu.xml")) << "the change was made all the same";
}

TEST_F(ImageAdd, RefusesWhatVeladorRefusesAndAddsTheRest) {
  Source("good.xml", "<good/>\n");
  Source("pic.png", SampleContent(100, 1));
  Source("one/same.txt", "1\n");
  Source("two/SAME.txt", "2\n");
  Out({"-e", "-d", "src/good.xml", "ref"});
  w.Write("src/already.xml", w.Read("ref/ADV_OBJ/good.xml"));
  // No key: the picture needs one, the Hash file does not.
  const ToolRun run = Image({"add", "img", "src/missing.txt", "src/already.xml", "src/pic.png",
                             "src/good.xml", "src/one/same.txt", "src/two/SAME.txt"});
  EXPECT_EQ(run.out,
            NotAdded("src/missing.txt", "", "no s'ha trobat el fitxer") +
                NotAdded("src/already.xml", "", "ja correspon a un fitxer AACS") +
                NotAdded("src/pic.png", " (Encryption)", "cal la clau per encapsular-lo (--key)") +
                Added("src/good.xml", "Hash", ": entrada 1") +
                NotAdded("src/one/same.txt", " (Non-Protected)",
                         "cal la clau per encapsular-lo (--key)") +
                NotAdded("src/two/SAME.txt", " (Non-Protected)",
                         "cal la clau per encapsular-lo (--key)") +
                AddSummary("6", "1", "5"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(w.Read("img/ADV_OBJ/good.xml"), w.Read("ref/ADV_OBJ/good.xml"));
  EXPECT_EQ(w.Read(kTablePath), w.Read("ref/AACS/CONTENT_HASH_TABLE2.AACS"));
  // With the key the two files of one name meet: the later one is refused.
  const ToolRun keyed =
      Image({"add", "img", "--key", "key", "src/one/same.txt", "src/two/SAME.txt"});
  EXPECT_EQ(keyed.out, Added("src/one/same.txt", "Non-Protected") +
                           NotAdded("src/two/SAME.txt", " (Non-Protected)",
                                    "un fitxer anterior d'aquesta llista ja t\xE9 aquest nom") +
                           AddSummary("2", "1", "1"));
  EXPECT_EQ(keyed.status, 1);
  // A name the tools keep for their own files: the next clean-up would take it for a leftover.
  w.Write("src/.velador-0badc0de.tmp", "mine\n");
  const ToolRun reserved = Image({"add", "img", "--key", "key", "src/.velador-0badc0de.tmp"});
  EXPECT_EQ(reserved.out,
            NotAdded("src/.velador-0badc0de.tmp", "",
                     "el nom comen\xE7"
                     "a per .velador-, que les eines reserven per als seus fitxers temporals") +
                AddSummary("1", "0", "1"));
  EXPECT_EQ(reserved.status, 1);
  std::filesystem::remove(w.Path("src/.velador-0badc0de.tmp"));
  ExpectNoLeftovers(w);
}

TEST_F(ImageAdd, NeverReplacesItsInputTheTableOrTheKey) {
  MakeStandardImage();
  const Bytes table = Table();
  w.Write("img/ADV_OBJ/plain.txt", "plain\n");
  const ToolRun run =
      Image({"add", "img", "--key", "img/ADV_OBJ/key.txt", "img/ADV_OBJ/plain.txt", "key.txt"});
  EXPECT_EQ(run.status, 2) << "the key file does not exist yet";
  w.Write("img/ADV_OBJ/key.txt", expected::kKey);
  const ToolRun same =
      Image({"add", "img", "--key", "img/ADV_OBJ/key.txt", "img/ADV_OBJ/plain.txt"});
  EXPECT_EQ(same.out, NotAdded("img/ADV_OBJ/plain.txt", " (Non-Protected)",
                               "el fitxer de sortida seria el mateix fitxer d'entrada, la taula o "
                               "la clau") +
                          AddSummary("1", "0", "1"));
  EXPECT_EQ(w.Read("img/ADV_OBJ/plain.txt"), "plain\n");
  EXPECT_EQ(Table(), table);
}

TEST_F(ImageAdd, TwoHundredFilesThenACheckAcceptsThemAll) {
  std::vector<std::string> arguments = {"add", "img", "--key", "key"};
  const char* endings[] = {".xml", ".js", ".png", ".txt"};
  for (int i = 0; i < 200; ++i) {
    const std::string name = std::string("f").append(std::to_string(i)) + endings[i % 4];
    Source(name,
           SampleContent(static_cast<std::size_t>(100 + 37 * i), static_cast<std::uint32_t>(i)));
    arguments.push_back("src/" + name);
  }
  const ToolRun add = Image(arguments);
  EXPECT_EQ(add.status, 0) << add.out;
  EXPECT_NE(add.out.find(Expected("image/add_summary",
                                  {{"files", "200"}, {"added", "200"}, {"not_added", "0"}})),
            std::string::npos);
  const JsonValue document = CheckJson(0);
  EXPECT_EQ(document["summary"]["accepted"].Unsigned(), 200u);
  EXPECT_EQ(document["table"]["findings"].Unsigned(), 0u);
  ExpectNoLeftovers(w);
}

// A batch and four velador runs on one table at the same time: the batch holds the lock from
// its first entry to its last file, the runs wait for it or go before; no number is handed out
// twice, and every entry is named.
TEST_F(ImageAdd, BesideFourVeladorRunsNoNumberIsHandedOutTwice) {
  Workspace capture;
  std::vector<std::string> arguments = {"add", "img", "--key", "key"};
  for (int i = 0; i < 40; ++i) {
    const std::string name =
        std::string("b").append(std::to_string(i)) + (i % 2 == 0 ? ".xml" : ".js");
    Source(name, SampleContent(700, static_cast<std::uint32_t>(i)));
    arguments.push_back("src/" + name);
  }
  std::vector<pid_t> runs;
  runs.push_back(w.Start(arguments, capture.Path("batch").string(),
                         capture.Path("batch.err").string(), Program::kImage));
  for (int i = 0; i < 4; ++i) {
    const std::string name =
        std::string("v").append(std::to_string(i)) + (i % 2 == 0 ? ".xml" : ".js");
    Source(name, SampleContent(1500, static_cast<std::uint32_t>(100 + i)));
    runs.push_back(w.Start({"-e", "-d", "src/" + name, "img", "key"}, capture.Path(name).string(),
                           capture.Path(name + ".err").string()));
  }
  for (pid_t run : runs) EXPECT_EQ(WaitForExit(run), 0);
  const JsonValue document = CheckJson(0);
  EXPECT_EQ(document["summary"]["accepted"].Unsigned(), 44u);
  EXPECT_EQ(document["table"]["shared"].Unsigned(), 0u);
  EXPECT_EQ(document["table"]["orphans"].Unsigned(), 0u);
  // 20 Hash files of one entry, 20 of 2 units, then 2 x 1 and 2 x 4 from velador.
  EXPECT_EQ(document["table"]["counter"].Unsigned(), 20u + 40u + 2u + 8u);
}

// Ctrl-C at any moment of a batch: the files finished stand complete with their entries, the
// one being finished is finished first, and no temporary file or entry without its container
// is left behind. The line the interrupt leaves counts the files in the image and names every
// other one.
class ImageAddInterrupted : public ImageTest, public ::testing::WithParamInterface<int> {};

TEST_P(ImageAddInterrupted, LeavesAnImageACheckAccepts) {
  SKIP_UNDER_WINE("signals are POSIX");
  std::vector<std::string> arguments = {"add", "img", "--key", "key"};
  for (int i = 0; i < 12; ++i) {
    const std::string name = std::string("i").append(std::to_string(i)) + (i % 2 ? ".js" : ".xml");
    Source(name, SampleContent(i % 3 == 0 ? 6u << 20 : 3000u, static_cast<std::uint32_t>(i)));
    arguments.push_back("src/" + name);
  }
  Workspace capture;
  const pid_t batch = w.Start(arguments, capture.Path("out").string(), capture.Path("err").string(),
                              Program::kImage);
  std::this_thread::sleep_for(std::chrono::milliseconds(GetParam()));
  kill(batch, SIGINT);
  const bool interrupted = WaitForExit(batch) == -1;
  ExpectNoLeftovers(w);
  const JsonValue document = CheckJson(0);
  EXPECT_EQ(document["table"]["orphans"].Unsigned(), 0u);
  EXPECT_EQ(document["table"]["shared"].Unsigned(), 0u);
  const Bytes said = capture.Read("err");
  if (!interrupted) {
    EXPECT_EQ(said.find("INTERROMPUT"), Bytes::npos) << said;
    return;
  }
  // The files not in the image, in the order given, follow the count. An interrupt that came
  // before the program had begun says nothing, and nothing was added.
  const std::size_t added = document["files"].items.size();
  if (said.empty()) {
    EXPECT_EQ(added, 0u);
    return;
  }
  std::string notice = "velador-image: INTERROMPUT: La imatge \xE9s sencera; fitxers afegits: " +
                       std::to_string(added) + " de 12";
  const char* separator = "; no afegits: ";
  for (int i = 0; i < 12; ++i) {
    const std::string name = "i" + std::to_string(i) + (i % 2 ? ".js" : ".xml");
    bool inImage = false;
    for (const JsonValue& file : document["files"].items) inImage |= file["name"].string == name;
    if (inImage) continue;
    notice += separator + ("src/" + name);
    separator = ", ";
  }
  EXPECT_NE(said.find(notice + "\n"), Bytes::npos) << said << "\nexpected: " << notice;
}

INSTANTIATE_TEST_SUITE_P(After, ImageAddInterrupted, ::testing::Values(20, 80, 200, 500),
                         [](const auto& info) { return std::to_string(info.param) + "ms"; });

struct AddErrorCase {
  const char* label;
  std::function<void(const Workspace&)> prepare;
  std::vector<std::string> arguments;
  const char* text;
  const char* word;
};
void PrintTo(const AddErrorCase& c, std::ostream* os) { *os << c.label; }

class ImageAddCannotBeMade : public ImageTest,
                             public ::testing::WithParamInterface<AddErrorCase> {};

TEST_P(ImageAddCannotBeMade, WritesNothingAndSaysWhy) {
  const AddErrorCase& c = GetParam();
  Source("menu.xml", "<menu/>\n");
  Source("notes.txt", "notes\n");
  c.prepare(w);
  const std::vector<std::string> before = w.List();
  const Bytes table = w.Exists(kTablePath) ? Table() : Bytes();
  const ToolRun run = Image(c.arguments);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, Expected("image/error", {{"text", c.text}, {"word", c.word}}));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(w.List(), before);
  if (!table.empty()) {
    EXPECT_EQ(Table(), table);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ImageAddCannotBeMade,
    ::testing::Values(
        AddErrorCase{"NoDiscFolder",
                     [](const Workspace&) {},
                     {"add", "nowhere", "--key", "key", "src/menu.xml"},
                     "No s'ha trobat la carpeta ADV_OBJ dins de la imatge de disc: ",
                     "nowhere/ADV_OBJ"},
        AddErrorCase{"TableLengthDisagreesWithCounter",
                     [](const Workspace& w) { w.Write(kTablePath, Bytes(40060, '\0') + "abc"); },
                     {"add", "img", "--key", "key", "src/notes.txt", "src/menu.xml"},
                     "No s'ha pogut actualitzar la taula de hash num 2 (no s'obre per "
                     "escriure-hi, \xE9s plena o la llargada no correspon al comptador): ",
                     "img/AACS/CONTENT_HASH_TABLE2.AACS"},
        AddErrorCase{"FullTable",
                     [](const Workspace& w) {
                       w.Write(kTablePath, Bytes(40056, '\0') + "\xff\xff\xff\xff");
                     },
                     {"add", "img", "--key", "key", "src/menu.xml"},
                     "No s'ha pogut actualitzar la taula de hash num 2 (no s'obre per "
                     "escriure-hi, \xE9s plena o la llargada no correspon al comptador): ",
                     "img/AACS/CONTENT_HASH_TABLE2.AACS"},
        AddErrorCase{"KeyFileMissing",
                     [](const Workspace&) {},
                     {"add", "img", "--key", "nokey", "src/notes.txt"},
                     "No s'ha pogut obrir el fitxer on es troba la clau: ",
                     "nokey"},
        // A key file holds the 16 bytes of the key and nothing else: one byte more or less, or
        // the key written as hexadecimal text, would encipher every file under another key.
        AddErrorCase{"KeyFileEmpty",
                     [](const Workspace& w) { w.Write("k", ""); },
                     {"add", "img", "--key", "k", "src/notes.txt"},
                     "El fitxer de clau ha de contenir exactament els 16 bytes de la clau, ni "
                     "m\xE9s ni menys: ",
                     "k"},
        AddErrorCase{"KeyFileOf15Bytes",
                     [](const Workspace& w) { w.Write("k", Bytes(15, 'k')); },
                     {"add", "img", "--key", "k", "src/notes.txt"},
                     "El fitxer de clau ha de contenir exactament els 16 bytes de la clau, ni "
                     "m\xE9s ni menys: ",
                     "k"},
        AddErrorCase{"KeyFileOf17Bytes",
                     [](const Workspace& w) { w.Write("k", Bytes(17, 'k')); },
                     {"add", "img", "--key", "k", "src/notes.txt"},
                     "El fitxer de clau ha de contenir exactament els 16 bytes de la clau, ni "
                     "m\xE9s ni menys: ",
                     "k"},
        AddErrorCase{"KeyFileOfHexText",
                     [](const Workspace& w) { w.Write("k", "00112233445566778899aabbccddeeff\n"); },
                     {"add", "img", "--key", "k", "src/notes.txt"},
                     "El fitxer de clau ha de contenir els 16 bytes de la clau, no el text "
                     "hexadecimal de 32 car\xE0"
                     "cters que la representa: ",
                     "k"},
        AddErrorCase{"KeyFromStandardInput",
                     [](const Workspace&) {},
                     {"add", "img", "--key", "-", "src/notes.txt"},
                     "La clau no es llegeix de l'entrada est\xE0ndard: --key necessita el "
                     "cam\xED d'un fitxer amb els 16 bytes de la clau: ",
                     "-"}),
    [](const auto& info) { return std::string(info.param.label); });

// Without the table, hashed files are refused one by one, as velador refuses them.
TEST_F(ImageAdd, WithoutATableOnlyTheHashedFilesAreRefused) {
  std::filesystem::remove(w.Path(kTablePath));
  Source("menu.xml", "<menu/>\n");
  Source("notes.txt", "notes\n");
  const ToolRun run = Image({"add", "img", "--key", "key", "src/menu.xml", "src/notes.txt"});
  EXPECT_EQ(run.out, NotAdded("src/menu.xml", " (Hash)", "no s'ha trobat la taula de hash num 2") +
                         Added("src/notes.txt", "Non-Protected") + AddSummary("2", "1", "1"));
  EXPECT_EQ(run.status, 1);
}

// --json: one document for the whole add, each file with what its line says; the same files
// added and refused as without it.
TEST_F(ImageAdd, JsonListsEveryFileAndTheSummary) {
  Source("menu.xml", "<menu/>\n");
  Source("anim.js", SampleContent(3000, 1));
  Source("notes.txt", "notes\n");
  Out({"-e", "-d", "src/notes.txt", "img", "key"});
  const ToolRun run = Image({"add", "img", "--key", "key", "--json", "src/menu.xml", "src/anim.js",
                             "src/none.js", "src/notes.txt"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  std::string error;
  const auto document = ParseJson(run.out, error);
  ASSERT_TRUE(document.has_value()) << error << "\n" << run.out;
  EXPECT_EQ(document->keys.front(), "schema_version");
  EXPECT_EQ((*document)["schema_version"].Unsigned(), 1u);
  EXPECT_EQ((*document)["command"].string, "add");
  EXPECT_EQ((*document)["image"].string, "img");
  EXPECT_EQ((*document)["exit_status"].Unsigned(), 1u);
  const struct {
    const char* input;
    const char* name;
    const char* type;  // "" for null
    bool added;
    const char* reason;  // "" for null
    unsigned first, last;
  } expected[] = {
      {"src/menu.xml", "menu.xml", "hash", true, "", 1, 1},
      {"src/anim.js", "anim.js", "encryption_and_hash", true, "", 2, 8},
      {"src/none.js", "none.js", "", false, "not_found", 0, 0},
      {"src/notes.txt", "notes.txt", "non_protected", false, "exists", 0, 0},
  };
  const JsonValue& files = (*document)["files"];
  ASSERT_EQ(files.items.size(), std::size(expected));
  for (std::size_t i = 0; i < files.items.size(); ++i) {
    const JsonValue& file = files[i];
    const auto& e = expected[i];
    EXPECT_EQ(file["input"].string, e.input);
    EXPECT_EQ(file["name"].string, e.name) << e.input;
    EXPECT_EQ(file["type"].string, e.type) << e.input;
    EXPECT_EQ(file["added"].boolean, e.added) << e.input;
    EXPECT_EQ(file["reason"].string, e.reason) << e.input;
    EXPECT_EQ(file["message"].IsNull(), std::string(e.reason).empty()) << e.input;
    EXPECT_EQ(file["first_entry"].IsNull() ? 0u : file["first_entry"].Unsigned(), e.first);
    EXPECT_EQ(file["last_entry"].IsNull() ? 0u : file["last_entry"].Unsigned(), e.last);
    EXPECT_FALSE(file["replaced"].boolean);
    EXPECT_EQ(file["entries_left_unused"].Unsigned(), 0u);
  }
  EXPECT_EQ(files[3]["message"].string,
            "ja hi ha un fitxer amb aquest nom a la imatge: img/ADV_OBJ/notes.txt "
            "(--replace per substituir-lo)");
  const JsonValue& summary = (*document)["summary"];
  EXPECT_EQ(summary["files"].Unsigned(), 4u);
  EXPECT_EQ(summary["added"].Unsigned(), 2u);
  EXPECT_EQ(summary["not_added"].Unsigned(), 2u);
  // Replacing says what it left behind.
  const auto replaced =
      ParseJson(Image({"add", "img", "--json", "--replace", "src/menu.xml"}).out, error);
  ASSERT_TRUE(replaced.has_value()) << error;
  EXPECT_TRUE((*replaced)["files"][0]["replaced"].boolean);
  EXPECT_EQ((*replaced)["files"][0]["entries_left_unused"].Unsigned(), 1u);
}

// Entries a replacement leaves unused are counted in agreement ("1 entrada") and the summary
// names what removes them; --quiet keeps only the lines that need attention and the summary.
TEST_F(ImageAdd, AReplacementNamesCompactAndQuietKeepsWhatNeedsAttention) {
  Source("menu.xml", "<menu/>\n");
  Source("notes.txt", "notes\n");
  Out({"-e", "-d", "src/menu.xml", "img", "key"});
  const std::string hint =
      "   NOTA         les entrades de la taula que han quedat sense fer servir es treuen amb: "
      "velador-image compact img\n";
  const ToolRun replaced = Image({"add", "img", "--key", "key", "--replace", "src/menu.xml"});
  EXPECT_EQ(replaced.status, 0);
  EXPECT_EQ(replaced.out,
            "   AFEGIT       src/menu.xml (Hash): entrada 2; substitueix el fitxer anterior, que "
            "deixa 1 entrada de la taula sense fer servir\n" +
                AddSummary("1", "1", "0") + hint);
  const ToolRun quiet = Image({"add", "img", "--key", "key", "-q", "--replace", "src/menu.xml",
                               "src/none.txt", "src/notes.txt"});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out, NotAdded("src/none.txt", "", "no s'ha trobat el fitxer") +
                           AddSummary("3", "2", "1") + hint);
  // The other commands alike: check and extract name only what is not fine, build and compact
  // give their summaries alone.
  EXPECT_EQ(Image({"check", "img", "--key", "key", "--quiet"}).out.rfind("   TAULA", 0), 0u);
  const ToolRun build = Image({"build", "src", "img", "--key", "key", "--quiet"});
  EXPECT_EQ(build.out.rfind("   RESUM:", 0), 0u) << build.out;
  const ToolRun compact = Image({"compact", "img", "--quiet"});
  EXPECT_EQ(compact.out.rfind("   TAULA", 0), 0u) << compact.out;
  const ToolRun extract = Image({"extract", "img", "out", "--key", "key", "--quiet"});
  EXPECT_EQ(extract.out.rfind("   RESUM:", 0), 0u) << extract.out;
}

// ---- The command line ----------------------------------------------------------------------

struct CommandLineCase {
  const char* label;
  std::vector<std::string> arguments;
  int status;
  const char* expectedOut;  // an expected text's name, "" for none
  const char* errorText;    // a usage error's text, "" for none
  const char* errorWord;
  const char* expectedErr = "";  // an expected text's name on standard error, "" for none
};
void PrintTo(const CommandLineCase& c, std::ostream* os) { *os << c.label; }

class ImageCommandLine : public ImageTest, public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(ImageCommandLine, AnswersWithTheUsageOrAnError) {
  const CommandLineCase& c = GetParam();
  const ToolRun run = Image(c.arguments);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, std::string(c.expectedOut).empty() ? "" : Expected(c.expectedOut));
  if (std::string(c.errorText).empty()) {
    EXPECT_EQ(run.err, std::string(c.expectedErr).empty() ? "" : Expected(c.expectedErr));
  } else {
    EXPECT_EQ(run.err,
              Expected("image/usage_error", {{"text", c.errorText}, {"word", c.errorWord}}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Words, ImageCommandLine,
    ::testing::Values(
        // No words at all is a usage error: the usage goes where errors go.
        CommandLineCase{"None", {}, 2, "", "", "", "image/usage"},
        CommandLineCase{"Help", {"--help"}, 0, "image/usage", "", ""},
        CommandLineCase{"HelpAfterACommand", {"check", "img", "--help"}, 0, "image/usage", "", ""},
        CommandLineCase{"HelpAfterAnUnknownOption", {"--bogus", "-h"}, 0, "image/usage", "", ""},
        CommandLineCase{"UnknownOption",
                        {"check", "img", "--bogus"},
                        2,
                        "",
                        "Opci\xF3 desconeguda: ",
                        "--bogus"},
        CommandLineCase{
            "UnknownCommand",
            {"verify", "img"},
            2,
            "",
            "Ordre desconeguda, ha de ser check, add, init, extract, compact, remove o build: ",
            "verify"},
        CommandLineCase{"OnlyOptions",
                        {"--json"},
                        2,
                        "",
                        "Falta l'ordre: check, add, init, extract, compact, remove o build",
                        ""},
        CommandLineCase{"CheckWithoutFolder", {"check"}, 2, "", "Falta la carpeta a comprovar", ""},
        CommandLineCase{
            "CheckOfTwoFolders", {"check", "img", "out"}, 2, "", "Sobra aquesta paraula: ", "out"},
        CommandLineCase{"AddWithoutFiles",
                        {"add", "img", "--key", "key"},
                        2,
                        "",
                        "Falten els fitxers a afegir",
                        ""},
        CommandLineCase{"AddWithoutImage", {"add"}, 2, "", "Falta la imatge de disc", ""},
        CommandLineCase{
            "InitWithoutFolder", {"init"}, 2, "", "Falta la carpeta de la imatge de disc nova", ""},
        CommandLineCase{
            "InitOfTwoFolders", {"init", "a", "b"}, 2, "", "Sobra aquesta paraula: ", "b"},
        CommandLineCase{"InitWithAKey",
                        {"init", "a", "--key", "key"},
                        2,
                        "",
                        "--key no es pot fer servir amb init, compact ni remove",
                        ""},
        CommandLineCase{"CompactWithoutImage", {"compact"}, 2, "", "Falta la imatge de disc", ""},
        CommandLineCase{
            "CompactOfTwoImages", {"compact", "a", "b"}, 2, "", "Sobra aquesta paraula: ", "b"},
        CommandLineCase{"CompactWithAKey",
                        {"compact", "img", "--key=key"},
                        2,
                        "",
                        "--key no es pot fer servir amb init, compact ni remove",
                        ""},
        CommandLineCase{"CompactWithReplace",
                        {"compact", "img", "--replace"},
                        2,
                        "",
                        "--replace nom\xE9s es pot fer servir amb add",
                        ""},
        CommandLineCase{"CompactWithForce",
                        {"--force", "compact", "img"},
                        2,
                        "",
                        "--force nom\xE9s es pot fer servir amb extract",
                        ""},
        CommandLineCase{
            "CompactHelpAfterTheImage", {"compact", "img", "--help"}, 0, "image/usage", "", ""},
        CommandLineCase{"RemoveWithoutImage", {"remove"}, 2, "", "Falta la imatge de disc", ""},
        CommandLineCase{"RemoveWithoutNames",
                        {"remove", "img", "--json"},
                        2,
                        "",
                        "Falten els noms dels fitxers a eliminar",
                        ""},
        CommandLineCase{"RemoveWithAKey",
                        {"remove", "img", "menu.xml", "--key", "key"},
                        2,
                        "",
                        "--key no es pot fer servir amb init, compact ni remove",
                        ""},
        CommandLineCase{"RemoveWithReplace",
                        {"remove", "--replace", "img", "menu.xml"},
                        2,
                        "",
                        "--replace nom\xE9s es pot fer servir amb add",
                        ""},
        CommandLineCase{"RemoveAPath",
                        {"remove", "img", "menu.xml", "img/ADV_OBJ/anim.js"},
                        2,
                        "",
                        "Cal el nom d'un fitxer d'ADV_OBJ, sense / ni \\ (no una ruta): ",
                        "img/ADV_OBJ/anim.js"},
        CommandLineCase{"RemoveAWindowsPath",
                        {"remove", "img", "ADV_OBJ\\anim.js"},
                        2,
                        "",
                        "Cal el nom d'un fitxer d'ADV_OBJ, sense / ni \\ (no una ruta): ",
                        "ADV_OBJ\\anim.js"},
        CommandLineCase{"RemoveTheFolderItself",
                        {"remove", "img", ".."},
                        2,
                        "",
                        "Cal el nom d'un fitxer d'ADV_OBJ, sense / ni \\ (no una ruta): ",
                        ".."},
        CommandLineCase{"RemoveAnEmptyName",
                        {"remove", "img", ""},
                        2,
                        "",
                        "Cal el nom d'un fitxer d'ADV_OBJ, sense / ni \\ (no una ruta): ",
                        ""},
        CommandLineCase{"RemoveUnknownOption",
                        {"remove", "img", "--all"},
                        2,
                        "",
                        "Opci\xF3 desconeguda: ",
                        "--all"},
        CommandLineCase{"BuildWithoutSource", {"build"}, 2, "", "Falta la carpeta d'origen", ""},
        CommandLineCase{"BuildWithoutImage",
                        {"build", "src", "--dry-run", "--key", "key"},
                        2,
                        "",
                        "Falta la imatge de disc",
                        ""},
        CommandLineCase{"BuildWithAThirdWord",
                        {"build", "src", "img", "x"},
                        2,
                        "",
                        "Sobra aquesta paraula: ",
                        "x"},
        CommandLineCase{"BuildWithReplace",
                        {"build", "src", "img", "--replace"},
                        2,
                        "",
                        "--replace nom\xE9s es pot fer servir amb add",
                        ""},
        CommandLineCase{"BuildWithForce",
                        {"build", "--force", "src", "img"},
                        2,
                        "",
                        "--force nom\xE9s es pot fer servir amb extract",
                        ""},
        CommandLineCase{"BuildUnknownOption",
                        {"build", "src", "img", "--dry"},
                        2,
                        "",
                        "Opci\xF3 desconeguda: ",
                        "--dry"},
        CommandLineCase{
            "BuildHelpAfterTheImage", {"build", "src", "img", "--help"}, 0, "image/usage", "", ""},
        CommandLineCase{"DryRunForAdd",
                        {"add", "img", "--dry-run", "src/menu.xml"},
                        2,
                        "",
                        "--dry-run nom\xE9s es pot fer servir amb build",
                        ""},
        CommandLineCase{"DryRunForRemove",
                        {"remove", "img", "menu.xml", "--dry-run"},
                        2,
                        "",
                        "--dry-run nom\xE9s es pot fer servir amb build",
                        ""},
        CommandLineCase{"DryRunForCompact",
                        {"--dry-run", "compact", "img"},
                        2,
                        "",
                        "--dry-run nom\xE9s es pot fer servir amb build",
                        ""},
        CommandLineCase{"NoCacheForCheck",
                        {"check", "img", "--no-cache"},
                        2,
                        "",
                        "--no-cache i --cache-dir nom\xE9s es poden fer servir amb build",
                        ""},
        CommandLineCase{"CacheFolderWithoutAFolder",
                        {"build", "src", "img", "--cache-dir"},
                        2,
                        "",
                        "Falta la carpeta despr\xE9s de --cache-dir",
                        ""},
        CommandLineCase{
            "ExtractWithoutOutput", {"extract", "img"}, 2, "", "Falta la carpeta de sortida", ""},
        CommandLineCase{"ExtractWithAThirdWord",
                        {"extract", "img", "out", "x"},
                        2,
                        "",
                        "Sobra aquesta paraula: ",
                        "x"},
        CommandLineCase{"ForceForCheck",
                        {"check", "img", "--force"},
                        2,
                        "",
                        "--force nom\xE9s es pot fer servir amb extract",
                        ""},
        CommandLineCase{"ReplaceForCheck",
                        {"check", "img", "--replace"},
                        2,
                        "",
                        "--replace nom\xE9s es pot fer servir amb add",
                        ""},
        CommandLineCase{"KeyWithoutFile",
                        {"check", "img", "--key"},
                        2,
                        "",
                        "Falta el fitxer de la clau despr\xE9s de --key",
                        ""},
        CommandLineCase{"TwoKeys",
                        {"check", "img", "--key", "a", "--key=b"},
                        2,
                        "",
                        "La clau nom\xE9s es pot indicar un cop",
                        ""}),
    [](const auto& info) { return std::string(info.param.label); });

// The second line names the code the crypto runs on, as this machine gives it to the test
// itself: natively, on each processor qemu models, and with the extension hidden from both.
// The Windows build has no 256-bit AES, so under wine only the line's form is held.
TEST_F(ImageTest, VersionNamesTheProgramItsReleaseAndItsCryptoPaths) {
  const ToolRun run = Image({"--version"});
  EXPECT_EQ(run.status, 0);
  const std::size_t firstEnd = run.out.find('\n');
  ASSERT_NE(firstEnd, std::string::npos);
  EXPECT_EQ(run.out.rfind("velador-image ", 0), 0u);
  const std::string second = run.out.substr(firstEnd + 1);
  const char* const aesNames[] = {"codi portable", "AES-NI", "AES-NI i VAES", "ARMv8"};
  const char* const sha1Names[] = {"codi portable", "SHA-NI", "ARMv8"};
  const CryptoPaths paths = ChosenCryptoPaths();
  const std::string expected = std::string("criptografia: AES amb ") +
                               aesNames[static_cast<int>(paths.aes)] + ", SHA-1 amb " +
                               sha1Names[static_cast<int>(paths.sha1)] + "\n";
  if (!UnderWine()) {
    EXPECT_EQ(second, expected);
  } else {
    EXPECT_EQ(second.rfind("criptografia: AES amb ", 0), 0u) << second;
    EXPECT_EQ(second.find('\n'), second.size() - 1) << second;
  }
}

// After "--" a word starting with "-" is a file; options may follow the files.
TEST_F(ImageTest, DoubleDashEndsTheOptions) {
  Source("-dash.txt", "dash\n");
  const ToolRun run = Image({"add", "img", "--", "src/-dash.txt", "--key"});
  EXPECT_EQ(run.status, 1);  // "--key" is a file here, and there is none of that name
  w.Write("src/--key", "x");
  EXPECT_EQ(Image({"add", "--key", "key", "img", "--", "src/-dash.txt"}).status, 0);
  EXPECT_TRUE(w.Exists("img/ADV_OBJ/-dash.txt"));
}

}  // namespace
}  // namespace velador::testing

// velador-image init and extract through the built programs: a new image filled by add and
// accepted by check, and an image restored into a folder byte for byte as a loop of velador -d
// restores it, with its exact text, its JSON document and the files it must leave alone.

#include <string>
#include <vector>

#include "e2e/image_test.h"

namespace velador::testing {
namespace {

using namespace expected;

const std::vector<std::string> kNames = {"anim.js", "logo.png", "menu.xml", "notes.txt"};
const std::vector<std::string> kTypes = {"Encryption-and-Hash", "Encryption", "Hash",
                                         "Non-Protected"};

// A check's line, then what became of the file.
std::string NotExtracted(std::string line) { return line.insert(line.size() - 1, "; NO EXTRET"); }

std::string ExtractSummary(std::string_view files, std::string_view extracted,
                           std::string_view accepted, std::string_view refused,
                           std::string_view notExtracted) {
  return Expected("image/extract_summary", {{"files", files},
                                            {"extracted", extracted},
                                            {"accepted", accepted},
                                            {"refused", refused},
                                            {"not_extracted", notExtracted}});
}

std::string AllAccepted() {
  std::string lines;
  for (std::size_t i = 0; i < kNames.size(); ++i) {
    lines += Expected("image/line_accepted", {{"name", kNames[i]}, {"type", kTypes[i]}});
  }
  return lines;
}

TEST_F(ImageTest, InitThenAddThenCheckIsAccepted) {
  const ToolRun init = Image({"init", "new"});
  EXPECT_EQ(init.status, 0);
  EXPECT_EQ(init.err, "");
  EXPECT_EQ(init.out, Expected("image/init", {{"image", "new"}}));
  EXPECT_EQ(w.Read("new/AACS/CONTENT_HASH_TABLE2.AACS"), Bytes(40060, '\0'));
  Source("menu.xml", "<menu/>\n");
  Source("anim.js", SampleContent(2000, 3));
  EXPECT_EQ(Image({"add", "new", "--key", "key", "src/menu.xml", "src/anim.js"}).status, 0);
  const ToolRun check = Image({"check", "new", "--key", "key"});
  EXPECT_EQ(check.status, 0) << check.out;
  // A second init finds the table and leaves it alone.
  const Bytes table = w.Read("new/AACS/CONTENT_HASH_TABLE2.AACS");
  const ToolRun again = Image({"init", "new"});
  EXPECT_EQ(again.status, 2);
  EXPECT_EQ(again.out, "");
  EXPECT_EQ(
      again.err,
      Expected("image/error",
               {{"text", "La imatge de disc ja t\xE9 una taula de hash num 2 (no s'ha tocat): "},
                {"word", "new/AACS/CONTENT_HASH_TABLE2.AACS"}}));
  EXPECT_EQ(w.Read("new/AACS/CONTENT_HASH_TABLE2.AACS"), table);
  ExpectNoLeftovers(w);
}

TEST_F(ImageTest, InitJsonParses) {
  const JsonValue document = CheckJson(0, {"init", "new"});
  EXPECT_EQ(document["command"].string, "init");
  EXPECT_EQ(document["table_length"].Unsigned(), 40060u);
  EXPECT_TRUE(document["created_image_folder"].boolean);
}

TEST_F(ImageTest, ExtractGivesBackExactlyTheSources) {
  MakeStandardImage();
  const ToolRun run = Image({"extract", "img", "out", "--key", "key"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out, AllAccepted() + ExtractSummary("4", "4", "4", "0", "0"));
  for (const std::string& name : kNames) EXPECT_EQ(w.Read("out/" + name), w.Read("src/" + name));
  ExpectNoLeftovers(w);
  const JsonValue document = CheckJson(0, {"extract", "img", "out", "--key", "key", "--force"});
  EXPECT_EQ(document["command"].string, "extract");
  EXPECT_EQ(document["summary"]["extracted"].Unsigned(), 4u);
  EXPECT_EQ(document["summary"]["not_extracted"].Unsigned(), 0u);
  EXPECT_TRUE(FileIn(document, "anim.js")["extracted"].boolean);
  EXPECT_EQ(FileIn(document, "anim.js")["result"].string, "out/anim.js");
  EXPECT_EQ(FileIn(document, "anim.js")["units_checked"].Unsigned(), 7u);
}

// The same bytes as velador -d, a tampered container among them: restored, and refused.
// But for a file whose name block the key does not decipher: velador restores its noise, extract
// only checks it.
TEST_F(ImageTest, ExtractWritesWhatALoopOfVeladorDecapsulationsWrites) {
  MakeStandardImage();
  w.FlipBits("img/ADV_OBJ/menu.xml", 283, 1);
  w.FlipBits("img/ADV_OBJ/logo.png", 13, 1);  // a garbled name block, as under another key
  const ToolRun run = Image({"extract", "img", "out", "--key", "key"});
  EXPECT_EQ(run.status, 1);
  for (const std::string& name : kNames) {
    if (name == "logo.png") continue;
    w.Run({"-d", "img/ADV_OBJ/" + name, "back", "key"});
    EXPECT_EQ(w.Read("out/" + name), w.Read("back/" + name)) << name;
  }
  EXPECT_FALSE(w.Exists("out/logo.png"));
  EXPECT_EQ(
      run.out,
      Expected("image/line_accepted", {{"name", "anim.js"}, {"type", "Encryption-and-Hash"}}) +
          NotExtracted(
              Expected("image/line_wrong_key", {{"name", "logo.png"}, {"type", "Encryption"}})) +
          Expected("image/line_hash_entry_differs", {{"name", "menu.xml"}, {"entry", "1"}}) +
          Expected("image/line_accepted", {{"name", "notes.txt"}, {"type", "Non-Protected"}}) +
          ExtractSummary("4", "3", "2", "2", "1"));
  ExpectNoLeftovers(w);
}

// A key that deciphers the name of none of the image's enciphered files is another key: every
// command that would write under it or restore with it refuses before it writes anything.
TEST_F(ImageTest, AKeyThatFitsNoFileOfTheImageWritesNothing) {
  MakeStandardImage();
  w.Write("other", Bytes(16, 'o'));
  w.MakeFolder("out");
  const std::string refusal = Expected(
      "image/error", {{"text",
                       "La clau no correspon a la imatge de disc: no desxifra el nom de cap dels "
                       "fitxers xifrats que ja t\xE9 (per tornar a xifrar tota la imatge amb "
                       "aquesta clau: build --change-key): "},
                      {"word", "other"}});
  const std::vector<std::vector<std::string>> commands = {
      {"extract", "img", "out", "--key", "other"},
      {"extract", "img", "out", "--key", "other", "--json"},
      {"add", "img", "--key", "other", "--replace", "src/logo.png"},
      {"build", "src", "img", "--key", "other"},
      {"build", "src", "img", "--key", "other", "--dry-run"},
  };
  const std::vector<std::string> before = w.List();
  const Bytes table = w.Read(kTablePath);
  for (const std::vector<std::string>& command : commands) {
    const ToolRun run = Image(command);
    EXPECT_EQ(run.status, 2) << command.front();
    EXPECT_EQ(run.out, "") << command.front();
    EXPECT_EQ(run.err, refusal) << command.front();
    EXPECT_EQ(w.List(), before) << command.front();
    EXPECT_EQ(w.Read(kTablePath), table) << command.front();
  }
  // Asked for, the build enciphers every file anew under the new key, which then fits them all.
  EXPECT_EQ(Image({"build", "src", "img", "--key", "other", "--change-key"}).status, 0);
  EXPECT_EQ(Image({"check", "img", "--key", "other"}).status, 0);
  EXPECT_EQ(Image({"extract", "img", "out", "--key", "key"}).status, 2);
  const ToolRun extracted = Image({"extract", "img", "out", "--key", "other"});
  EXPECT_EQ(extracted.status, 0);
  for (const char* name : {"menu.xml", "anim.js", "logo.png", "notes.txt"}) {
    EXPECT_EQ(w.Read(std::string("out/") + name), w.Read(std::string("src/") + name)) << name;
  }
  // --change-key is build's alone.
  EXPECT_EQ(Image({"add", "img", "--key", "other", "--change-key", "src/logo.png"}).status, 2);
}

TEST_F(ImageTest, ExtractKeepsAnExistingFileUnlessForced) {
  MakeStandardImage();
  w.Write("out/notes.txt", "mine\n");
  const ToolRun kept = Image({"extract", "img", "out", "--key", "key"});
  EXPECT_EQ(kept.status, 1);
  std::string lines = AllAccepted();
  const std::string notesOk =
      Expected("image/line_accepted", {{"name", "notes.txt"}, {"type", "Non-Protected"}});
  lines.replace(
      lines.find(notesOk), notesOk.size(),
      Expected("image/line_not_extracted_exists",
               {{"name", "notes.txt"}, {"type", "Non-Protected"}, {"result", "out/notes.txt"}}));
  EXPECT_EQ(kept.out, lines + ExtractSummary("4", "3", "4", "0", "1"));
  EXPECT_EQ(w.Read("out/notes.txt"), "mine\n");
  const ToolRun forced = Image({"--force", "extract", "img", "out", "--key", "key"});
  EXPECT_EQ(forced.status, 0);
  EXPECT_EQ(w.Read("out/notes.txt"), w.Read("src/notes.txt"));
  ExpectNoLeftovers(w);
}

TEST_F(ImageTest, ExtractWithoutTheKeyRestoresOnlyTheHashFile) {
  MakeStandardImage();
  const ToolRun run = Image({"extract", "img", "out"});
  EXPECT_EQ(run.status, 1);
  const auto noKey = [&](std::string_view name, std::string_view type) {
    return NotExtracted(Expected("image/line_no_key", {{"name", name}, {"type", type}}));
  };
  EXPECT_EQ(run.out, noKey("anim.js", "Encryption-and-Hash") + noKey("logo.png", "Encryption") +
                         Expected("image/line_accepted", {{"name", "menu.xml"}, {"type", "Hash"}}) +
                         noKey("notes.txt", "Non-Protected") +
                         ExtractSummary("4", "1", "1", "0", "3"));
  EXPECT_TRUE(w.Exists("out/menu.xml"));
  EXPECT_FALSE(w.Exists("out/anim.js"));
}

// A missing output folder is made, with the folders above it, as mkdir -p would; a file there
// stops everything.
TEST_F(ImageTest, ExtractMakesAMissingOutputFolder) {
  MakeStandardImage();
  EXPECT_EQ(Image({"extract", "img", "new/deeper", "--key", "key"}).status, 0);
  EXPECT_EQ(w.Read("new/deeper/anim.js"), w.Read("src/anim.js"));
  w.Write("taken", "a file");
  const ToolRun run = Image({"extract", "img", "taken", "--key", "key"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            Expected("image/error", {{"text",
                                      "A la ruta de sortida no hi ha cap carpeta, ni se n'hi ha "
                                      "pogut crear cap: "},
                                     {"word", "taken"}}));
  EXPECT_EQ(w.Read("taken"), "a file");
}

// Restored files go outside the image, whatever the spelling and with --force too: inside, one
// of them could take the table's place (a file of the image called CONTENT_HASH_TABLE2.AACS).
// velador itself writes no result into an image's AACS either.
TEST_F(ImageTest, NothingIsRestoredIntoTheImage) {
  MakeStandardImage();
  w.Write("src/CONTENT_HASH_TABLE2.AACS", "not a table\n");
  Out({"-e", "-d", "src/CONTENT_HASH_TABLE2.AACS", "img", "key"});
  const Bytes table = w.Read(expected::kTablePath);
  for (const char* output : {"img/AACS", "img", "./img/ADV_OBJ/"}) {
    SCOPED_TRACE(output);
    const ToolRun run = Image({"extract", "img", output, "--key", "key", "--force"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, Expected("image/error", {{"text",
                                                 "La carpeta de sortida \xE9s la imatge de disc o "
                                                 "hi \xE9s a dins; cal una carpeta de fora de la "
                                                 "imatge: "},
                                                {"word", output}}));
  }
  const ToolRun single = w.Run({"-d", "img/ADV_OBJ/CONTENT_HASH_TABLE2.AACS", "img/AACS", "key"});
  EXPECT_NE(single.out.find("ERROR:   La ruta del fitxer d'entrada coincideix amb el de sortida."),
            std::string::npos)
      << single.out;
  EXPECT_TRUE(w.Read(expected::kTablePath) == table);
}

// Two files of the image whose names fold alike would be one file where letters fold (on the
// disc, on Windows): only the first is restored, and the second is named as not extracted; a
// file the run wrote is never replaced by the same run.
TEST_F(ImageTest, NamesThatFoldAlikeAreExtractedOnce) {
  SKIP_UNDER_WINE("the two names are one file there");
  w.Write("a/Case.xml", "<upper/>\n");
  w.Write("b/case.xml", "<lower/>\n");
  Out({"-e", "-d", "a/Case.xml", "img", "key"});
  Out({"-e", "-d", "b/case.xml", "img", "key"});
  const ToolRun run = Image({"extract", "img", "out", "--key", "key"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_EQ(w.Read("out/Case.xml"), "<upper/>\n");
  EXPECT_FALSE(w.Exists("out/case.xml"));
  EXPECT_NE(run.out.find(
                "case.xml (Hash): NO EXTRET: un fitxer anterior de la imatge t\xE9 el mateix nom "
                "amb les lletres en una altra caixa, i nom\xE9s se n'extreu el primer"),
            std::string::npos)
      << run.out;
  const ToolRun json = Image({"extract", "img", "out", "--key", "key", "--force", "--json"});
  EXPECT_NE(json.out.find("\"name_taken\""), std::string::npos) << json.out;
}

}  // namespace
}  // namespace velador::testing

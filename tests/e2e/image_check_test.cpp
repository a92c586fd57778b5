// velador-image check through the built program, on disc images made by velador: one case per
// kind of damage a player would refuse (or, for the types that protect no content, would not
// notice), each with its exact text and its JSON document, and the runs that cannot be made.

#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "e2e/image_test.h"

namespace velador::testing {
namespace {

using namespace expected;

void FlipLast(const Workspace& w, const std::string& file, char mask) {
  w.FlipBits(file, w.Read(file).size() - 1, mask);
}

void SetTrailer(const Workspace& w, const std::string& file, std::uint32_t number) {
  Bytes bytes = w.Read(file);
  bytes.replace(bytes.size() - 4, 4, Number(number));
  w.Write(file, bytes);
}

void Append(const Workspace& w, const std::string& file, const Bytes& more) {
  w.Write(file, w.Read(file) + more);
}

const std::string kMenu = "img/ADV_OBJ/menu.xml";
const std::string kAnim = "img/ADV_OBJ/anim.js";
const std::string kLogo = "img/ADV_OBJ/logo.png";
const std::string kNotes = "img/ADV_OBJ/notes.txt";

std::string Accepted(std::string_view name, std::string_view type) {
  return Expected("image/line_accepted", {{"name", name}, {"type", type}});
}
std::string NameDiffers(std::string_view name, std::string_view type) {
  return Expected("image/line_name_differs", {{"name", name}, {"type", type}});
}
std::string WrongKey(std::string_view name, std::string_view type) {
  return Expected("image/line_wrong_key", {{"name", name}, {"type", type}});
}
std::string NotRegular(std::string_view name, std::string_view reason) {
  return Expected("image/line_not_regular", {{"name", name}, {"reason", reason}});
}
std::string NoKey(std::string_view name, std::string_view type) {
  return Expected("image/line_no_key", {{"name", name}, {"type", type}});
}
const std::string kAnimOk = Accepted("anim.js", "Encryption-and-Hash");
const std::string kLogoOk = Accepted("logo.png", "Encryption");
const std::string kMenuOk = Accepted("menu.xml", "Hash");
const std::string kNotesOk = Accepted("notes.txt", "Non-Protected");

std::string HashEntryDiffers(std::string_view name, std::string_view entry) {
  return Expected("image/line_hash_entry_differs", {{"name", name}, {"entry", entry}});
}
std::string MenuEntryDiffers(std::string_view entry) { return HashEntryDiffers("menu.xml", entry); }
std::string TableConsistent(std::string_view counter) {
  return Expected("image/table_consistent", {{"counter", counter}});
}
std::string TableFindings(std::string_view counter, std::string_view count) {
  return Expected("image/table_findings", {{"counter", counter}, {"count", count}});
}
std::string Orphans(std::string_view count, std::string_view ranges) {
  return Expected("image/finding_orphans", {{"count", count}, {"ranges", ranges}});
}
std::string Shared(std::string_view count, std::string_view ranges, std::string_view files) {
  return Expected("image/finding_shared", {{"count", count}, {"ranges", ranges}, {"files", files}});
}
std::string Summary(std::string_view files, std::string_view accepted, std::string_view refused,
                    std::string_view unchecked, std::string_view findings) {
  return Expected("image/summary", {{"files", files},
                                    {"accepted", accepted},
                                    {"refused", refused},
                                    {"unchecked", unchecked},
                                    {"findings", findings}});
}
std::string Verdict(int status, bool undecided = false) {
  if (undecided) return Expected("image/verdict_undecided");
  return Expected(status == 0 ? "image/verdict_accepted" : "image/verdict_refused");
}

// A file the JSON document must show as not accepted, with its reason (and for the reasons
// that name one, the unit and entry, from 1; 0 for null).
struct JsonRefusal {
  const char* name;
  const char* verdict;
  const char* reason;
  unsigned unit;
  unsigned entry;
};

struct CheckCase {
  const char* label;
  std::function<void(const Workspace&)> damage;
  std::function<std::string()> text;
  int status;
  std::vector<JsonRefusal> refusals;
  unsigned tableFindings;
  bool withKey = true;
  const char* keyFile = "key";
  const char* keyVerdict = "";  // the summary's "key" in JSON, "" for null
};
void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.label; }

const std::vector<CheckCase>& Cases() {
  static const std::vector<CheckCase> cases = {
      {"AllGood",
       [](const Workspace&) {},
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + TableConsistent("8") +
                Summary("4", "4", "0", "0", "0") + Verdict(0);
       },
       0,
       {},
       0},
      {"HashContentByte",
       [](const Workspace& w) { w.FlipBits(kMenu, 283, 1); },
       [] {
         return kAnimOk + kLogoOk + MenuEntryDiffers("1") + kNotesOk + TableConsistent("8") +
                Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"menu.xml", "refused", "entry_differs", 1, 1}},
       0},
      // Byte 883 lies in the body's second unit (body offset 872), whose entry is 3.
      {"EncryptionHashContentByte",
       [](const Workspace& w) { w.FlipBits(kAnim, 883, 1); },
       [] {
         return Expected("image/line_anim_entry_differs", {{"unit", "2"}, {"entry", "3"}}) +
                kLogoOk + kMenuOk + kNotesOk + TableConsistent("8") +
                Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"anim.js", "refused", "entry_differs", 2, 3}},
       0},
      // The two types that protect only the name: a player does not notice.
      {"EncryptionContentByteGoesUnnoticed",
       [](const Workspace& w) { w.FlipBits(kLogo, 288, 1); },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + TableConsistent("8") +
                Summary("4", "4", "0", "0", "0") + Verdict(0);
       },
       0,
       {},
       0},
      {"NonProtectedContentByteGoesUnnoticed",
       [](const Workspace& w) { w.FlipBits(kNotes, 283, 1); },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + TableConsistent("8") +
                Summary("4", "4", "0", "0", "0") + Verdict(0);
       },
       0,
       {},
       0},
      {"HashNameBlock",
       [](const Workspace& w) { w.FlipBits(kMenu, 13, 1); },
       [] {
         return kAnimOk + kLogoOk + NameDiffers("menu.xml", "Hash") + kNotesOk +
                TableConsistent("8") + Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"menu.xml", "refused", "name_differs", 0, 0}},
       0},
      // Under CBC a changed byte of an enciphered name block garbles it whole: deciphered, it
      // is no name, as under a wrong key. Only that file says so; the image's key still fits
      // the others, so no line on the key follows.
      {"EncryptionHashNameBlock",
       [](const Workspace& w) { w.FlipBits(kAnim, 13, 1); },
       [] {
         return WrongKey("anim.js", "Encryption-and-Hash") + kLogoOk + kMenuOk + kNotesOk +
                TableConsistent("8") + Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"anim.js", "refused", "wrong_key", 0, 0}},
       0},
      {"EncryptionNameBlock",
       [](const Workspace& w) { w.FlipBits(kLogo, 13, 1); },
       [] {
         return kAnimOk + WrongKey("logo.png", "Encryption") + kMenuOk + kNotesOk +
                TableConsistent("8") + Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"logo.png", "refused", "wrong_key", 0, 0}},
       0},
      {"NonProtectedNameBlock",
       [](const Workspace& w) { w.FlipBits(kNotes, 13, 1); },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + WrongKey("notes.txt", "Non-Protected") +
                TableConsistent("8") + Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"notes.txt", "refused", "wrong_key", 0, 0}},
       0},
      // Every keyed container renamed: each still bears a name, its old one, so the key fits
      // and only the names differ.
      {"RenamedContainers",
       [](const Workspace& w) {
         for (const char* name : {"anim.js", "logo.png", "notes.txt"}) {
           std::filesystem::rename(w.Path(std::string("img/ADV_OBJ/") + name),
                                   w.Path(std::string("img/ADV_OBJ/x") + name));
         }
       },
       [] {
         return kMenuOk + NameDiffers("xanim.js", "Encryption-and-Hash") +
                NameDiffers("xlogo.png", "Encryption") +
                NameDiffers("xnotes.txt", "Non-Protected") + TableConsistent("8") +
                Summary("4", "1", "3", "0", "0") + Verdict(1);
       },
       1,
       {{"xanim.js", "refused", "name_differs", 0, 0},
        {"xlogo.png", "refused", "name_differs", 0, 0},
        {"xnotes.txt", "refused", "name_differs", 0, 0}},
       0},
      // Checked with another key: no enciphered name deciphers, and the check says the key is
      // the cause. Hash needs no key and is accepted.
      {"WrongKey",
       [](const Workspace&) {},
       [] {
         return WrongKey("anim.js", "Encryption-and-Hash") + WrongKey("logo.png", "Encryption") +
                kMenuOk + WrongKey("notes.txt", "Non-Protected") + TableConsistent("8") +
                Summary("4", "1", "3", "0", "0") + Verdict(1) + Expected("image/key_wrong");
       },
       1,
       {{"anim.js", "refused", "wrong_key", 0, 0},
        {"logo.png", "refused", "wrong_key", 0, 0},
        {"notes.txt", "refused", "wrong_key", 0, 0}},
       0,
       true,
       "other",
       "wrong"},
      // A sub-folder of ADV_OBJ is listed as not checked, not left out.
      {"SubFolder",
       [](const Workspace& w) { w.MakeFolder("img/ADV_OBJ/sub"); },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk +
                NotRegular("sub", "\xE9s una carpeta, no un fitxer") + TableConsistent("8") +
                Summary("5", "4", "0", "1", "0") + Verdict(1, true);
       },
       1,
       {{"sub", "not_checked", "folder", 0, 0}},
       0},
      // Number 1 becomes 3, an entry of anim.js: entry 1 is left to no one, 3 is named twice.
      {"HashTrailer",
       [](const Workspace& w) { FlipLast(w, kMenu, 2); },
       [] {
         return kAnimOk + kLogoOk + MenuEntryDiffers("3") + kNotesOk + TableFindings("8", "2") +
                Orphans("1", "1") + Shared("1", "3", "anim.js, menu.xml") +
                Summary("4", "3", "1", "0", "2") + Verdict(1);
       },
       1,
       {{"menu.xml", "refused", "entry_differs", 1, 3}},
       2},
      // The last unit's number 8 becomes 9, past the counter.
      {"EncryptionHashTrailer",
       [](const Workspace& w) { FlipLast(w, kAnim, 1); },
       [] {
         return Expected("image/line_anim_past_counter") + kLogoOk + kMenuOk + kNotesOk +
                TableFindings("8", "2") + Orphans("1", "8") +
                Expected("image/finding_past_counter", {{"files", "anim.js (1)"}}) +
                Summary("4", "3", "1", "0", "2") + Verdict(1);
       },
       1,
       {{"anim.js", "refused", "past_counter", 7, 9}},
       2},
      {"TableEntryChanged",
       [](const Workspace& w) { w.FlipBits(kTablePath, ImageTest::kTableEntriesAt + 3, 0x40); },
       [] {
         return kAnimOk + kLogoOk + MenuEntryDiffers("1") + kNotesOk + TableConsistent("8") +
                Summary("4", "3", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"menu.xml", "refused", "entry_differs", 1, 1}},
       0},
      {"OrphanEntry",
       [](const Workspace& w) {
         Bytes table = w.Read(kTablePath) + "orphan!!";
         table.replace(40056, 4, Number(9));
         w.Write(kTablePath, table);
       },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + TableFindings("9", "1") +
                Orphans("1", "9") + Summary("4", "4", "0", "0", "1") + Verdict(0);
       },
       1,
       {},
       1},
      // other.xml got entry 9 from velador; its trailer is then made to name menu.xml's entry.
      {"TwoContainersNameOneEntry",
       [](const Workspace& w) {
         w.Write("src/other.xml", "<other/>\n");
         EXPECT_EQ(w.Run({"-e", "-d", "src/other.xml", "img"}).status, 0);
         SetTrailer(w, "img/ADV_OBJ/other.xml", 1);
       },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + HashEntryDiffers("other.xml", "1") +
                TableFindings("9", "2") + Orphans("1", "9") +
                Shared("1", "1", "menu.xml, other.xml") + Summary("5", "4", "1", "0", "2") +
                Verdict(1);
       },
       1,
       {{"other.xml", "refused", "entry_differs", 1, 1}},
       2},
      {"TableLengthDisagreesWithCounter",
       [](const Workspace& w) { Append(w, kTablePath, "abc"); },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + TableFindings("8", "1") +
                Expected("image/finding_length",
                         {{"length", "40127"}, {"counter", "8"}, {"expected", "40124"}}) +
                Summary("4", "4", "0", "0", "1") + Verdict(0);
       },
       1,
       {},
       1},
      {"NonContainerFile",
       [](const Workspace& w) { w.Write("img/ADV_OBJ/readme.txt", "hola\n"); },
       [] {
         return kAnimOk + kLogoOk + kMenuOk + kNotesOk + Expected("image/line_not_container") +
                TableConsistent("8") + Summary("5", "4", "1", "0", "0") + Verdict(1);
       },
       1,
       {{"readme.txt", "refused", "not_container", 0, 0}},
       0},
      {"ZeroNumber",
       [](const Workspace& w) { SetTrailer(w, kMenu, 0); },
       [] {
         return kAnimOk + kLogoOk + Expected("image/line_menu_no_entry") + kNotesOk +
                TableFindings("8", "2") + Orphans("1", "1") +
                Expected("image/finding_no_entry", {{"files", "menu.xml (1)"}}) +
                Summary("4", "3", "1", "0", "2") + Verdict(1);
       },
       1,
       {{"menu.xml", "refused", "no_entry", 1, 0}},
       2},
      // Without the key only Hash is checked; anim.js's numbers, which need no key, still
      // count for the table, so none of its entries is taken for an orphan.
      {"MissingKey",
       [](const Workspace&) {},
       [] {
         return NoKey("anim.js", "Encryption-and-Hash") + NoKey("logo.png", "Encryption") +
                kMenuOk + NoKey("notes.txt", "Non-Protected") + TableConsistent("8") +
                Summary("4", "1", "0", "3", "0") + Verdict(1, true);
       },
       1,
       {{"anim.js", "not_checked", "no_key", 0, 0},
        {"logo.png", "not_checked", "no_key", 0, 0},
        {"notes.txt", "not_checked", "no_key", 0, 0}},
       0,
       false},
  };
  return cases;
}

class ImageCheck : public ImageTest, public ::testing::WithParamInterface<CheckCase> {};

TEST_P(ImageCheck, PrintsEveryVerdictAndTheTable) {
  const CheckCase& c = GetParam();
  MakeStandardImage();
  c.damage(w);
  const std::vector<std::string> before = w.List();
  std::vector<std::string> arguments = {"check", "img"};
  if (c.withKey) arguments.insert(arguments.end(), {"--key", c.keyFile});
  const ToolRun run = Image(arguments);
  EXPECT_EQ(run.out, c.text());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(w.List(), before) << "a check writes nothing";
}

TEST_P(ImageCheck, JsonSaysTheSame) {
  const CheckCase& c = GetParam();
  MakeStandardImage();
  c.damage(w);
  std::vector<std::string> arguments = {"check", "img"};
  if (c.withKey) arguments.insert(arguments.end(), {"--key", c.keyFile});
  const JsonValue document = CheckJson(c.status, arguments);
  EXPECT_EQ(document.keys.front(), "schema_version");
  EXPECT_EQ(document["schema_version"].Unsigned(), 2u);
  EXPECT_EQ(document["exit_status"].Unsigned(), static_cast<unsigned>(c.status));
  EXPECT_EQ(document["kind"].string, "disc_image");
  EXPECT_EQ(document["table"]["findings"].Unsigned(), c.tableFindings);
  std::size_t notAccepted = 0;
  for (const JsonValue& file : document["files"].items) {
    if (file["verdict"].string != "accepted") ++notAccepted;
  }
  EXPECT_EQ(notAccepted, c.refusals.size());
  for (const JsonRefusal& refusal : c.refusals) {
    const JsonValue& file = FileIn(document, refusal.name);
    EXPECT_EQ(file["verdict"].string, refusal.verdict) << refusal.name;
    EXPECT_EQ(file["reason"].string, refusal.reason) << refusal.name;
    EXPECT_FALSE(file["message"].string.empty());
    EXPECT_EQ(file["unit"].IsNull() ? 0u : file["unit"].Unsigned(), refusal.unit);
    EXPECT_EQ(file["entry"].IsNull() ? 0u : file["entry"].Unsigned(), refusal.entry);
  }
  const JsonValue& summary = document["summary"];
  EXPECT_EQ(summary["key"].string, c.keyVerdict);
  EXPECT_EQ(summary["key"].IsNull(), std::string(c.keyVerdict).empty());
  EXPECT_EQ(summary["files"].Unsigned(), document["files"].items.size());
  EXPECT_EQ(summary["accepted"].Unsigned() + summary["refused"].Unsigned() +
                summary["not_checked"].Unsigned(),
            summary["files"].Unsigned());
}

INSTANTIATE_TEST_SUITE_P(Damage, ImageCheck, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.label); });

// What a run killed outright left in ADV_OBJ is no file of the image: a check names how many in
// one line and judges the rest; the next command that changes the image removes them.
TEST_F(ImageTest, TemporaryFilesOfAStoppedRunAreNamedApartNotChecked) {
  MakeStandardImage();
  w.Write("img/ADV_OBJ/.velador-0000abcd.tmp", "half");
  w.Write("img/ADV_OBJ/.velador-0000abce.tmp", "half");
  const ToolRun run = Image({"check", "img", "--key", "key"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out.find(".velador-0000abcd"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("   NOTA         2 fitxers temporals (.velador-...) que va deixar una "
                         "execuci\xF3 aturada: no s\xF3n de la imatge, i els treu la propera "
                         "ordre que la canvi\xEF (per exemple velador-image compact)\n"),
            std::string::npos)
      << run.out;
  const JsonValue document = CheckJson(0);
  EXPECT_EQ(document["summary"]["files"].Unsigned(), 4u);
  EXPECT_EQ(document["summary"]["leftovers"].Unsigned(), 2u);
  EXPECT_EQ(Image({"compact", "img"}).status, 0);
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/.velador-0000abcd.tmp"));
  EXPECT_EQ(Image({"check", "img", "--key", "key"}).out.find("NOTA"), std::string::npos);
}

TEST_F(ImageTest, JsonHoldsTheTableFindingsInDetail) {
  MakeStandardImage();
  FlipLast(w, kMenu, 2);  // as HashTrailer: entry 1 orphaned, entry 3 named twice
  const JsonValue document = CheckJson(1);
  const JsonValue& table = document["table"];
  EXPECT_EQ(table["path"].string, kTablePath);
  EXPECT_TRUE(table["present"].boolean);
  EXPECT_EQ(table["counter"].Unsigned(), 8u);
  EXPECT_EQ(table["length"].Unsigned(), 40124u);
  EXPECT_TRUE(table["length_matches"].boolean);
  EXPECT_EQ(table["orphans"].Unsigned(), 1u);
  EXPECT_EQ(table["orphan_ranges"][0][0].Unsigned(), 1u);
  EXPECT_EQ(table["shared"].Unsigned(), 1u);
  EXPECT_EQ(table["shared_ranges"][0][1].Unsigned(), 3u);
  ASSERT_EQ(table["shared_by"].items.size(), 2u);
  EXPECT_EQ(table["shared_by"][0].string, "anim.js");
  EXPECT_EQ(FileIn(document, "anim.js")["units_checked"].Unsigned(), 7u);
  // The messages are the texts in UTF-8.
  EXPECT_EQ(FileIn(document, "menu.xml")["message"].string,
            "el hash NO COINCIDEIX amb l'entrada 3 de la taula");
}

// Every document these tests make is validated against its schema (support/json_schema.h); the
// validation bites: a check's document broken in any one way is refused, and as written it is not.
TEST_F(ImageTest, JsonSchemaRefusesADocumentBrokenInAnyOneWay) {
  std::string why;
  if (!SchemaValidationOn(why)) GTEST_SKIP() << why;
  MakeStandardImage();
  FlipLast(w, kMenu, 2);  // as above: menu.xml refused with entry_differs, orphans, a shared entry
  const ToolRun run = Image({"check", "img", "--key", "key", "--json"});
  const std::pair<const char*, const char*> breaches[] = {
      {"\"reason\": \"entry_differs\"", "\"reason\": \"hash_differs\""},  // an unknown code
      {"\"schema_version\": 2", "\"schema_version\": 3"},
      {"\"mismatched_units\": 0,", ""},                                         // a member missing
      {"\"kind\": \"disc_image\",", "\"kind\": \"disc_image\", \"note\": 1,"},  // a member unknown
      {"\"orphans\": 1", "\"orphans\": [1]"},                     // a list for a count
      {"\"verdict\": \"accepted\"", "\"verdict\": \"refused\""},  // refused without a reason
      {"\"entry\": 3", "\"entry\": null"},                        // entry_differs without its entry
      {"\"exit_status\": 1", "\"exit_status\": 2"},
  };
  std::vector<JsonDocument> documents = {{"check", run.out, "as written"}};
  for (const auto& [from, to] : breaches) {
    std::string broken = run.out;
    const std::size_t at = broken.find(from);
    ASSERT_NE(at, std::string::npos) << from << " in\n" << run.out;
    documents.push_back({"check", broken.replace(at, std::string(from).size(), to), from});
  }
  const std::string errors = SchemaErrors(documents);
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const bool refused = errors.find("document " + std::to_string(i) + ": ") != std::string::npos;
    EXPECT_EQ(refused, i > 0) << documents[i].origin << "\n" << errors;
  }
}

TEST_F(ImageTest, JsonWritesNamesAsUtf8) {
  SKIP_UNDER_WINE("names are the bytes Linux stores");
  MakeStandardImage();
  w.Write("img/ADV_OBJ/caf\xC3\xA9.txt", "x");  // UTF-8
  w.Write("img/ADV_OBJ/caf\xE9.txt", "x");      // Windows-1252
  const JsonValue document = CheckJson(1);
  EXPECT_TRUE(FileIn(document, "caf\xC3\xA9.txt")["name_is_utf8"].boolean);
  // The Windows-1252 name reads as the same word; the flag tells the two apart.
  bool latin = false;
  for (const JsonValue& file : document["files"].items) {
    latin = latin || (file["name"].string == "caf\xC3\xA9.txt" && !file["name_is_utf8"].boolean);
  }
  EXPECT_TRUE(latin);
  // So do the paths inside a message: an add refused for a file already there names it.
  Source("caf\xE9.xml", "<menu/>\n");
  EXPECT_EQ(Image({"add", "img", "src/caf\xE9.xml"}).status, 0);
  const ToolRun again = Image({"add", "img", "src/caf\xE9.xml", "--json"});
  EXPECT_EQ(again.status, 1);
  std::string error;
  const auto refusal = ParseJson(again.out, error);
  ASSERT_TRUE(refusal.has_value()) << error;
  const std::string& message = (*refusal)["files"].items.at(0)["message"].string;
  EXPECT_NE(message.find("caf\xC3\xA9.xml"), std::string::npos) << message;
}

// A persistent-storage folder: the containers lie in it directly, and there is no table.
TEST_F(ImageTest, PersistentStorageFolder) {
  Source("menu.xml", "<menu/>\n");
  Source("anim.js", SampleContent(2000, 3));
  Source("logo.png", SampleContent(100, 4));
  w.MakeFolder("st");
  for (const char* name : {"menu.xml", "anim.js", "logo.png"}) {
    Out({"-e", "-p", std::string("src/") + name, "st", "key"});
  }
  const ToolRun run = Image({"check", "st", "--key", "key"});
  EXPECT_EQ(run.out, Accepted("anim.js", "MAC") + Accepted("logo.png", "Encryption") +
                         Accepted("menu.xml", "MAC") + Expected("image/table_storage") +
                         Summary("3", "3", "0", "0", "0") + Verdict(0));
  EXPECT_EQ(run.status, 0);
  FlipLast(w, "st/menu.xml", 1);
  const ToolRun damaged = Image({"check", "st", "--key", "key"});
  EXPECT_EQ(damaged.out, Accepted("anim.js", "MAC") + Accepted("logo.png", "Encryption") +
                             Expected("image/line_mac_differs", {{"name", "menu.xml"}}) +
                             Expected("image/table_storage") + Summary("3", "2", "1", "0", "0") +
                             Verdict(1));
  EXPECT_EQ(damaged.status, 1);
  EXPECT_EQ(CheckJson(1, {"check", "st", "--key", "key"})["kind"].string, "persistent_storage");
}

// Only MAC containers, checked with another key: each fails its MAC, which a wrong key and a
// changed body explain alike, so the check says the key may be wrong. One MAC that passes
// shows the key fits, and the line goes.
TEST_F(ImageTest, AWrongKeyOnMacContainersIsNamedAsLikely) {
  Source("menu.xml", "<menu/>\n");
  Source("anim.js", SampleContent(2000, 3));
  w.MakeFolder("st");
  for (const char* name : {"menu.xml", "anim.js"}) {
    Out({"-e", "-p", std::string("src/") + name, "st", "key"});
  }
  const std::string macDiffers = Expected("image/line_mac_differs", {{"name", "anim.js"}}) +
                                 Expected("image/line_mac_differs", {{"name", "menu.xml"}});
  const ToolRun run = Image({"check", "st", "--key", "other"});
  EXPECT_EQ(run.out, macDiffers + Expected("image/table_storage") +
                         Summary("2", "0", "2", "0", "0") + Verdict(1) +
                         Expected("image/key_maybe_wrong"));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(CheckJson(1, {"check", "st", "--key", "other"})["summary"]["key"].string,
            "maybe_wrong");
  Out({"-e", "-p", "src/menu.xml", "st", "other"});  // menu.xml now made with the other key
  const ToolRun oneFits = Image({"check", "st", "--key", "other"});
  EXPECT_EQ(oneFits.out, Expected("image/line_mac_differs", {{"name", "anim.js"}}) +
                             Accepted("menu.xml", "MAC") + Expected("image/table_storage") +
                             Summary("2", "1", "1", "0", "0") + Verdict(1));
}

// The JSON document counts every unit whose entry does not match, not only the first, and
// tells the name a renamed container bears.
TEST_F(ImageTest, JsonCountsEveryMismatchAndTellsTheStoredName) {
  MakeStandardImage();
  w.FlipBits(kAnim, 883, 1);         // unit 2
  w.FlipBits(kAnim, 883 + 1024, 1);  // unit 4
  std::filesystem::rename(w.Path(kLogo), w.Path("img/ADV_OBJ/logo2.png"));
  const JsonValue document = CheckJson(1);
  const JsonValue& anim = FileIn(document, "anim.js");
  EXPECT_EQ(anim["unit"].Unsigned(), 2u);
  EXPECT_EQ(anim["mismatched_units"].Unsigned(), 2u);
  EXPECT_EQ(anim["size"].Unsigned(), w.Read(kAnim).size());
  EXPECT_TRUE(anim["stored_name"].IsNull());
  const JsonValue& logo = FileIn(document, "logo2.png");
  EXPECT_EQ(logo["reason"].string, "name_differs");
  EXPECT_EQ(logo["stored_name"].string, "logo.png");
  EXPECT_EQ(FileIn(document, "menu.xml")["mismatched_units"].Unsigned(), 0u);
}

// An entry that is neither a file nor a folder is listed, and never opened: opening a pipe
// would wait for a writer that never comes.
TEST_F(ImageTest, APipeInAdvObjIsListedAsNotChecked) {
  SKIP_UNDER_WINE("a named pipe in a folder is a Linux entry");
  MakeStandardImage();
  ASSERT_EQ(mkfifo(w.Path("img/ADV_OBJ/pipe").c_str(), 0600), 0);
  const ToolRun run = Image({"check", "img", "--key", "key"});
  EXPECT_EQ(run.out, kAnimOk + kLogoOk + kMenuOk + kNotesOk +
                         NotRegular("pipe", "no \xE9s un fitxer normal") + TableConsistent("8") +
                         Summary("5", "4", "0", "1", "0") + Verdict(1, true));
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(FileIn(CheckJson(1), "pipe")["reason"].string, "not_regular_file");
}

// A name that holds a line end cannot forge a verdict line: its control characters are
// shown escaped, so each file keeps to one line, in the check and in the add alike.
TEST_F(ImageTest, NamesCannotForgeReportLines) {
  SKIP_UNDER_WINE("Windows names hold no control characters");
  const std::string forged = "x.xml\n   ACCEPTAT     fake\t\x1b.xml";
  const std::string shown = "x.xml\\n   ACCEPTAT     fake\\t\\x1b.xml";
  Source(forged, "<x/>\n");
  const ToolRun add = Image({"add", "img", "src/" + forged});
  EXPECT_EQ(add.status, 0);
  EXPECT_EQ(
      add.out,
      Expected("image/added",
               {{"input", "src/" + shown}, {"type", "Hash"}, {"entries", ": entrada 1"}}) +
          Expected("image/add_summary", {{"files", "1"}, {"added", "1"}, {"not_added", "0"}}));
  const ToolRun check = Image({"check", "img"});
  EXPECT_EQ(check.out, Accepted(shown, "Hash") + TableConsistent("1") +
                           Summary("1", "1", "0", "0", "0") + Verdict(0));
  EXPECT_EQ(std::count(check.out.begin(), check.out.end(), '\n'), 4);
  // The JSON document keeps the name as it is.
  EXPECT_EQ(CheckJson(0, {"check", "img"})["files"][0]["name"].string, forged);
}

// A long Encryption-and-Hash file goes through the threaded pipeline; every one of its units
// is compared, so one changed byte anywhere is found (velador's draws would mostly miss it).
TEST_F(ImageTest, EveryUnitOfALongFileIsCompared) {
  Source("long.js", SampleContent(3 * 1024 * 1024 + 100, 5));
  Out({"-e", "-d", "src/long.js", "img", "key"});
  const std::size_t lastUnitAt = 11 + (3 * 1024 * 1024 + 372) / 512 * 512 - 512;
  w.FlipBits("img/ADV_OBJ/long.js", lastUnitAt + 5, 1);
  const JsonValue document = CheckJson(1);
  const JsonValue& file = FileIn(document, "long.js");
  EXPECT_EQ(file["reason"].string, "entry_differs");
  EXPECT_EQ(file["unit"].Unsigned(), (3 * 1024 * 1024 + 372) / 512);
  EXPECT_EQ(file["units_checked"].Unsigned(), (3 * 1024 * 1024 + 372 + 511) / 512);
}

struct ErrorCase {
  const char* label;
  std::vector<std::string> arguments;
  std::function<void(const Workspace&)> prepare;
  const char* text;  // after "velador-image: ERROR: "
  const char* word;
};
void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.label; }

class ImageCheckCannotBeMade : public ImageTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ImageCheckCannotBeMade, SaysWhyOnStandardErrorWithStatus2) {
  const ErrorCase& c = GetParam();
  MakeStandardImage();
  c.prepare(w);
  const ToolRun run = Image(c.arguments);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, Expected("image/error", {{"text", c.text}, {"word", c.word}}));
  EXPECT_EQ(run.status, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, ImageCheckCannotBeMade,
    ::testing::Values(ErrorCase{"NoSuchFolder",
                                {"check", "nowhere"},
                                [](const Workspace&) {},
                                "No s'ha trobat la carpeta indicada: ",
                                "nowhere"},
                      ErrorCase{"TableTooShortForACounter",
                                {"check", "img", "--key", "key"},
                                [](const Workspace& w) { w.Write(kTablePath, Bytes(100, '\0')); },
                                "No s'ha pogut llegir la taula de hash num 2: ",
                                "img/AACS/CONTENT_HASH_TABLE2.AACS"},
                      ErrorCase{"KeyFileMissing",
                                {"check", "img", "--key", "nokey"},
                                [](const Workspace&) {},
                                "No s'ha pogut obrir el fitxer on es troba la clau: ",
                                "nokey"},
                      ErrorCase{"KeyFileOf32Bytes",
                                {"check", "img", "--key", "k"},
                                [](const Workspace& w) { w.Write("k", Bytes(32, 'k')); },
                                "El fitxer de clau ha de contenir exactament els 16 bytes de la "
                                "clau, ni m\xE9s ni menys: ",
                                "k"},
                      ErrorCase{"ImageWithoutAdvObj",
                                {"check", "img"},
                                [](const Workspace& w) {
                                  std::filesystem::remove_all(w.Path("img/ADV_OBJ"));
                                },
                                "No s'ha trobat la carpeta ADV_OBJ dins de la imatge de disc: ",
                                "img/ADV_OBJ"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velador::testing

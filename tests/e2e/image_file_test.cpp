// check and extract of a disc image file (the image folder mastered into a UDF file system, as
// genisoimage -udf writes one): the same verdicts, lines, JSON and restored bytes as for the
// folder it was made from, a byte changed inside the file found as in the folder, and a file cut
// short or holding no file system refused. The writing commands refuse such a file. A build that
// reads no image files (the Windows one, under wine) says so.

#include <string>
#include <vector>

#include "e2e/image_test.h"
#include "image/image_reader.h"
#include "support/disc_image_file.h"

namespace velador::testing {
namespace {

using namespace expected;

const char kNoFileSystem[] =
    "El fitxer no cont\xE9 cap sistema de fitxers UDF que es pugui llegir: ";
const char kUnsupported[] =
    "Aquesta versi\xF3 no llegeix fitxers d'imatge de disc; munteu la imatge i comproveu la "
    "carpeta muntada: ";

// Whether the program under test reads image files: the native build does where it found its
// reader, the Windows build never does.
bool ProgramReadsImageFiles() { return !UnderWine() && ReadsImageFiles(); }

// Every occurrence of `from` in `text` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
    text.replace(at, from.size(), to);
    at += to.size();
  }
  return text;
}

class ImageFileTest : public ImageTest {
 public:
  Workspace& Files() { return w; }
  void MasterFolder(const std::string& folder, const std::string& file) { Master(folder, file); }

 protected:
  // Masters the folder `folder` into the image file `file`; the test is skipped where the tests
  // cannot make one.
  void Master(const std::string& folder = "img", const std::string& file = "disc.udf") {
    std::string why;
    if (!MasterDiscImageFile(w.Path(folder), w.Path(file), why)) GTEST_SKIP() << why;
  }

  // What a run on the image folder `img` says, told of the image file `disc.udf` instead.
  static std::string AsOfTheFile(const std::string& text) {
    return Replaced(Replaced(text, "\"source\": \"folder\"", "\"source\": \"image_file\""), "img",
                    "disc.udf");
  }

  // Both runs, of the folder and of the file, with `arguments` after the image's path; the file's
  // must say what the folder's says of it, status and both streams.
  void ExpectTheSameOfBoth(const std::string& command, const std::vector<std::string>& arguments) {
    std::vector<std::string> ofFolder = {command, "img"}, ofFile = {command, "disc.udf"};
    ofFolder.insert(ofFolder.end(), arguments.begin(), arguments.end());
    ofFile.insert(ofFile.end(), arguments.begin(), arguments.end());
    const ToolRun folder = Image(ofFolder);
    const ToolRun file = Image(ofFile);
    EXPECT_EQ(file.status, folder.status) << file.err;
    EXPECT_EQ(file.out, AsOfTheFile(folder.out));
    EXPECT_EQ(file.err, AsOfTheFile(folder.err));
  }
};

TEST_F(ImageFileTest, CheckAndExtractOfTheFileSayWhatTheyShowOfTheFolder) {
  MakeStandardImage();
  Master();
  if (!ProgramReadsImageFiles()) {
    const ToolRun run = Image({"check", "disc.udf", "--key", "key"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, Expected("image/error", {{"text", kUnsupported}, {"word", "disc.udf"}}));
    return;
  }
  ExpectTheSameOfBoth("check", {"--key", "key"});
  ExpectTheSameOfBoth("check", {"--key", "key", "--json"});
  ExpectTheSameOfBoth("check", {"--json"});  // without the key: only what needs none
  const ToolRun folder = Image({"extract", "img", "out", "--key", "key"});
  const ToolRun file = Image({"extract", "disc.udf", "back", "--key", "key", "--json"});
  EXPECT_EQ(folder.status, 0);
  EXPECT_EQ(file.status, 0);
  EXPECT_EQ(file.err, "");
  EXPECT_NE(file.out.find("\"source\": \"image_file\""), std::string::npos) << file.out;
  for (const char* name : {"anim.js", "logo.png", "menu.xml", "notes.txt"}) {
    EXPECT_EQ(w.Read(std::string("back/") + name), w.Read(std::string("src/") + name)) << name;
    EXPECT_EQ(w.Read(std::string("back/") + name), w.Read(std::string("out/") + name)) << name;
  }
  ExpectNoLeftovers(w);
}

TEST_F(ImageFileTest, AByteChangedInsideTheFileIsFoundAsInTheFolder) {
  MakeStandardImage();
  if (!ProgramReadsImageFiles()) GTEST_SKIP() << "this build reads no image files";
  Master();
  // A byte of anim.js's enciphered body, which only its unit's entry can tell, changed in the
  // file where the file system keeps it, and in the folder.
  const Bytes container = w.Read("img/ADV_OBJ/anim.js");
  const std::size_t at = w.Read("disc.udf").find(container);
  ASSERT_NE(at, std::string::npos);
  constexpr std::size_t kChanged = 1500;
  w.FlipBits("disc.udf", at + kChanged);
  w.FlipBits("img/ADV_OBJ/anim.js", kChanged);
  ExpectTheSameOfBoth("check", {"--key", "key"});
  ExpectTheSameOfBoth("check", {"--key", "key", "--json"});
  const ToolRun run = Image({"check", "disc.udf", "--key", "key"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("anim.js"), std::string::npos);
}

TEST_F(ImageFileTest, AFileCutShortAnywhereIsRefusedNeverMore) {
  MakeStandardImage();
  Master();
  if (!ProgramReadsImageFiles()) GTEST_SKIP() << "this build reads no image files";
  const Bytes disc = w.Read("disc.udf");
  // Where the last byte of the image's files lies in the file: past it, a cut takes only what
  // the file system does not need.
  std::size_t end = 0;
  for (const std::string& path :
       std::vector<std::string>{"img/ADV_OBJ/anim.js", "img/ADV_OBJ/logo.png",
                                "img/ADV_OBJ/menu.xml", "img/ADV_OBJ/notes.txt", kTablePath}) {
    const Bytes file = w.Read(path);
    const std::size_t at = disc.find(file);
    ASSERT_NE(at, std::string::npos) << path;
    end = std::max(end, at + file.size());
  }
  for (std::size_t length = 0; length < disc.size(); length += disc.size() / 8 + 2047) {
    w.Write("cut.udf", disc.substr(0, length));
    const ToolRun run = Image({"check", "cut.udf", "--key", "key"});
    // Cut before its files end, refused whole (2), or some file refused or left unchecked (1):
    // never accepted, never a crash. The file system's reader may report what it found damaged
    // before the refusal.
    EXPECT_TRUE(run.status == 1 || run.status == 2 || (run.status == 0 && length >= end))
        << length << " of " << disc.size() << ": " << run.status;
    if (run.status == 2) {
      EXPECT_NE(run.err.find("velador-image: ERROR: "), std::string::npos) << run.err;
    }
  }
}

TEST_F(ImageFileTest, ExtractNeverReplacesTheImageFileItReads) {
  if (!ProgramReadsImageFiles()) GTEST_SKIP() << "this build reads no image files";
  // A container whose restored file would take the image file's own place.
  Source("disc.udf", Bytes("not the image\n"));
  Out({"-e", "-d", "src/disc.udf", "img", "key"});
  Master();
  const Bytes disc = w.Read("disc.udf");
  const ToolRun run = Image({"extract", "disc.udf", ".", "--key", "key", "--force", "--json"});
  EXPECT_EQ(run.status, 1) << run.out;
  EXPECT_NE(run.out.find("\"extract_reason\": \"same_file\""), std::string::npos) << run.out;
  EXPECT_EQ(w.Read("disc.udf"), disc);
}

struct FileCase {
  const char* label;
  std::vector<std::string> arguments;
  std::function<void(ImageFileTest&)> prepare;
  const char* text;  // after "velador-image: ERROR: ", where the program reads image files
  const char* word;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.label; }

class ImageFileRefused : public ImageFileTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(ImageFileRefused, SaysWhyOnStandardErrorWithStatus2) {
  const FileCase& c = GetParam();
  MakeStandardImage();
  Master();
  c.prepare(*this);
  if (IsSkipped()) return;
  const std::vector<std::string> files = w.List();
  const Bytes disc = w.Read("disc.udf");
  const ToolRun run = Image(c.arguments);
  EXPECT_EQ(run.out, "");
  const bool writes = c.arguments[0] != "check" && c.arguments[0] != "extract";
  const bool told = writes || ProgramReadsImageFiles();
  EXPECT_EQ(run.err, Expected("image/error", {{"text", told ? c.text : kUnsupported},
                                              {"word", told ? c.word : c.arguments[1]}}));
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(w.List(), files);
  EXPECT_EQ(w.Read("disc.udf"), disc);
}

const char kOnlyRead[] =
    "Un fitxer d'imatge de disc nom\xE9s es comprova (check) o s'extreu (extract); canvieu la "
    "carpeta d'on s'ha fet i torneu a fer el fitxer: ";

INSTANTIATE_TEST_SUITE_P(
    Errors, ImageFileRefused,
    ::testing::Values(
        FileCase{"NoFileSystem",
                 {"check", "junk.udf"},
                 [](ImageFileTest& t) { t.Files().Write("junk.udf", SampleContent(700000, 5)); },
                 kNoFileSystem,
                 "junk.udf"},
        FileCase{"EmptyFile",
                 {"extract", "empty.udf", "out"},
                 [](ImageFileTest& t) { t.Files().Write("empty.udf", Bytes()); },
                 kNoFileSystem,
                 "empty.udf"},
        FileCase{"NoAdvObjInside",
                 {"check", "bare.udf"},
                 [](ImageFileTest& t) {
                   t.Files().Write("bare/AACS/CONTENT_HASH_TABLE2.AACS", Bytes(40060, '\0'));
                   t.MasterFolder("bare", "bare.udf");
                 },
                 "No s'ha trobat la carpeta ADV_OBJ dins de la imatge de disc: ",
                 "bare.udf/ADV_OBJ"},
        FileCase{"Add",
                 {"add", "disc.udf", "--key", "key", "src/menu.xml"},
                 [](ImageFileTest&) {},
                 kOnlyRead,
                 "disc.udf"},
        FileCase{"Build",
                 {"build", "src", "disc.udf", "--key", "key"},
                 [](ImageFileTest&) {},
                 kOnlyRead,
                 "disc.udf"},
        FileCase{"Compact", {"compact", "disc.udf"}, [](ImageFileTest&) {}, kOnlyRead, "disc.udf"},
        FileCase{"Remove",
                 {"remove", "disc.udf", "menu.xml"},
                 [](ImageFileTest&) {},
                 kOnlyRead,
                 "disc.udf"},
        FileCase{"Init", {"init", "disc.udf"}, [](ImageFileTest&) {}, kOnlyRead, "disc.udf"}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velador::testing

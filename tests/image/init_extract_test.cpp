// A new image made by the library, and an image restored into a folder: the exact tree init
// makes and what it refuses, and for extract the restored bytes, the verdicts beside them and
// the files it must leave alone.

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "image/check.h"
#include "image/extract.h"
#include "image/image_fixture.h"
#include "image/init.h"
#include "platform/platform.h"
#include "support/counting_faults.h"

namespace velador::testing {
namespace {

class ImageInitTest : public ImageFixture {
 protected:
  // The entries below `folder`, relative to it.
  std::vector<std::string> Below(const std::string& folder) const {
    std::vector<std::string> below;
    for (const std::string& entry : w.List()) {
      if (entry.rfind(folder + "/", 0) == 0) below.push_back(entry.substr(folder.size() + 1));
    }
    return below;
  }
};

// Failed, interrupted or killed at any step, init leaves the image whole or not there at all: a
// new image's folder does not appear unless whole (killed outright, only a hidden folder of the
// tools' own may stay beside it); into an existing folder, no table and, but for a kill, the
// folder as it was. The next init then makes it whole.
TEST_F(ImageInitTest, AnImageAppearsWholeOrNotAtAll) {
  const std::vector<std::string> whole = {"AACS", "AACS/CONTENT_HASH_TABLE2.AACS", "ADV_OBJ"};
  for (const bool existing : {false, true}) {
    SCOPED_TRACE(existing ? "into an existing folder" : "a new folder");
    const auto reset = [&] {
      std::filesystem::remove_all(w.Path("place"));
      w.MakeFolder("place");
      if (existing) w.MakeFolder("place/fresh");
    };
    const auto init = [&] {
      ImageInit made;
      return InitImage(P("place/fresh"), made);
    };
    reset();
    CountingFaults faults;
    faults.Arm(0);
    ASSERT_EQ(init(), InitError::kNone);
    const std::uint64_t points = faults.PointsPassed();
    faults.Disarm();
    ASSERT_GT(points, 3u);
    for (const auto action : {CountingFaults::Action::kFail, CountingFaults::Action::kInterrupt,
                              CountingFaults::Action::kKill}) {
      for (std::uint64_t point = 1; point <= points; ++point) {
        SCOPED_TRACE("action " + std::to_string(static_cast<int>(action)) + " at point " +
                     std::to_string(point));
        reset();
        const pid_t child = fork();
        if (child == 0) {
          platform::InstallInterruptCleanup();
          faults.Arm(point, action);
          (void)init();
          faults.Disarm();
          _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        const std::vector<std::string> left = Below("place/fresh");
        const bool made = left == whole;
        if (!made && action != CountingFaults::Action::kKill) {
          EXPECT_EQ(w.Exists("place/fresh"), existing);
          EXPECT_TRUE(left.empty()) << left.size();
          EXPECT_EQ(Below("place").size(), existing ? 1u : 0u) << "nothing beside it either";
        }
        if (!made && !existing) {
          EXPECT_FALSE(w.Exists("place/fresh")) << "a new image's folder is whole or absent";
        }
        EXPECT_FALSE(w.Exists("place/fresh/AACS/CONTENT_HASH_TABLE2.AACS") && !made);
        if (!made) {
          ImageInit again;
          EXPECT_EQ(InitImage(P("place/fresh"), again), InitError::kNone);
          EXPECT_EQ(Below("place/fresh"), whole);
        }
      }
    }
  }
}

TEST_F(ImageInitTest, MakesExactlyTheFoldersAndAnEmptyTable) {
  ImageInit init;
  ASSERT_EQ(InitImage(P("fresh"), init), InitError::kNone);
  EXPECT_EQ(Below("fresh"),
            (std::vector<std::string>{"AACS", "AACS/CONTENT_HASH_TABLE2.AACS", "ADV_OBJ"}));
  EXPECT_EQ(w.Read("fresh/AACS/CONTENT_HASH_TABLE2.AACS"), Bytes(40060, '\0'));
  EXPECT_TRUE(init.madeFolder && init.madeDiscFolder && init.madeTableFolder);
  EXPECT_EQ(init.tableLength, 40060u);
  // The new image takes files and checks clean.
  w.Write("src/menu.xml", "<menu/>\n");
  ImageAdd add;
  ASSERT_EQ(AddToImage(P("fresh"), AddOptions{}, {P("src/menu.xml")}, {}, add),
            ImageAddError::kNone);
  ImageCheck check;
  ASSERT_EQ(CheckImage(P("fresh"), std::nullopt, {}, check), ImageCheckError::kNone);
  EXPECT_FALSE(check.NeedsAttention());
}

struct InitCase {
  const char* label;
  std::function<void(const Workspace&)> prepare;
  const char* folder;
  InitError error;
  const char* where;  // relative to the workspace
};
void PrintTo(const InitCase& c, std::ostream* os) { *os << c.label; }

class ImageInitCases : public ImageInitTest, public ::testing::WithParamInterface<InitCase> {};

// Each refusal leaves every file as it was, the table above all.
TEST_P(ImageInitCases, RefusesBeforeTouchingAnything) {
  const InitCase& c = GetParam();
  w.Write("img/AACS/CONTENT_HASH_TABLE2.AACS", Bytes("a table with its own bytes"));
  c.prepare(w);
  const std::vector<std::string> before = w.List();
  const Bytes table = Table();
  ImageInit init;
  const ImageError<InitError> error = InitImage(P(c.folder), init);
  EXPECT_EQ(error, c.error);
  if (c.error == InitError::kNone) return;
  EXPECT_EQ(error.path, P(c.where));
  EXPECT_EQ(w.List(), before);
  EXPECT_EQ(Table(), table);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageInitCases,
    ::testing::Values(
        InitCase{"ExistingTable", [](const Workspace&) {}, "img", InitError::kTableExists,
                 "img/AACS/CONTENT_HASH_TABLE2.AACS"},
        InitCase{"NoParent", [](const Workspace&) {}, "a/b", InitError::kNoParent, "a"},
        InitCase{"FileAtTheFolder", [](const Workspace& w) { w.Write("f", "x"); }, "f",
                 InitError::kNotFolder, "f"},
        InitCase{"FileAtAdvObj", [](const Workspace& w) { w.Write("g/ADV_OBJ", "x"); }, "g",
                 InitError::kNotFolder, "g/ADV_OBJ"},
        InitCase{"FilesInAdvObj", [](const Workspace& w) { w.Write("h/ADV_OBJ/menu.xml", "x"); },
                 "h", InitError::kDiscFolderNotEmpty, "h/ADV_OBJ"},
        InitCase{"EmptyAdvObjIsFine", [](const Workspace& w) { w.MakeFolder("e/ADV_OBJ"); }, "e",
                 InitError::kNone, ""}),
    [](const auto& info) { return std::string(info.param.label); });

class ImageExtractTest : public ImageFixture {
 protected:
  // anim.js: Encryption-and-Hash; logo.png: Encryption; menu.xml: Hash; notes.txt:
  // Non-Protected.
  ImageExtractTest() {
    w.Write("src/menu.xml", "<menu/>\n");
    w.Write("src/anim.js", SampleContent(3000, 4));
    w.Write("src/logo.png", SampleContent(700, 5));
    w.Write("src/notes.txt", "notes\n");
    AddAll({"menu.xml", "anim.js", "logo.png", "notes.txt"});
    w.MakeFolder("out");
  }

  ImageExtract Extract(bool withKey = true, bool force = false) {
    ImageExtract extract;
    const ExtractOptions options{withKey ? std::optional<std::string>(P("key")) : std::nullopt,
                                 force};
    EXPECT_EQ(ExtractImage(P("img"), P("out"), options, {}, extract), ImageExtractError::kNone);
    return extract;
  }

  static const ExtractedFile& File(const ImageExtract& extract, const std::string& name) {
    for (const ExtractedFile& file : extract.files) {
      if (file.file.name == name) return file;
    }
    ADD_FAILURE() << "no file " << name;
    static const ExtractedFile none;
    return none;
  }

  static constexpr std::array<const char*, 4> kNames = {"anim.js", "logo.png", "menu.xml",
                                                        "notes.txt"};
};

TEST_F(ImageExtractTest, RestoresEveryFileAsItWasAddedAndAcceptsIt) {
  const ImageExtract extract = Extract();
  ASSERT_EQ(extract.files.size(), 4u);
  for (const char* name : kNames) {
    const ExtractedFile& file = File(extract, name);
    EXPECT_TRUE(file.extracted) << name;
    EXPECT_EQ(file.file.verdict, FileVerdict::kAccepted) << name;
    EXPECT_EQ(file.result, P(std::string("out/") + name));
    EXPECT_EQ(w.Read(std::string("out/") + name), w.Read(std::string("src/") + name)) << name;
  }
  EXPECT_EQ(File(extract, "anim.js").file.unitsChecked, 7u);
  EXPECT_FALSE(extract.NeedsAttention());
}

// A file already in the output folder is kept, and reported, unless forced; the others are
// restored all the same.
TEST_F(ImageExtractTest, KeepsAnExistingFileUnlessForced) {
  w.Write("out/menu.xml", "mine\n");
  const ImageExtract kept = Extract();
  EXPECT_FALSE(File(kept, "menu.xml").extracted);
  EXPECT_EQ(File(kept, "menu.xml").reason, ExtractReason::kExists);
  EXPECT_EQ(File(kept, "menu.xml").file.verdict, FileVerdict::kAccepted) << "still checked";
  EXPECT_EQ(w.Read("out/menu.xml"), "mine\n");
  EXPECT_TRUE(File(kept, "notes.txt").extracted);
  EXPECT_TRUE(kept.NeedsAttention());
  const ImageExtract forced = Extract(true, true);
  EXPECT_TRUE(File(forced, "menu.xml").extracted);
  EXPECT_EQ(w.Read("out/menu.xml"), w.Read("src/menu.xml"));
  EXPECT_FALSE(forced.NeedsAttention());
}

// A tampered container is restored as a decapsulation restores it, but reported refused; for
// Encryption-and-Hash the unit found is the one changed, not one a draw happened to hit.
TEST_F(ImageExtractTest, RestoresATamperedFileAndReportsItRefused) {
  w.FlipBits("img/ADV_OBJ/menu.xml", 283, 1);
  const std::size_t lastUnit = 11 + 4 * 512 + 5;  // in unit 5 of anim.js
  w.FlipBits("img/ADV_OBJ/anim.js", lastUnit, 1);
  const ImageExtract extract = Extract();
  const ExtractedFile& menu = File(extract, "menu.xml");
  EXPECT_TRUE(menu.extracted);
  EXPECT_EQ(menu.file.verdict, FileVerdict::kRefused);
  EXPECT_EQ(menu.file.reason, FileReason::kEntryDiffers);
  Bytes tampered = w.Read("src/menu.xml");
  tampered[0] ^= 1;  // byte 283 is the first of the body, after the header and name block
  EXPECT_EQ(w.Read("out/menu.xml"), tampered);
  const ExtractedFile& anim = File(extract, "anim.js");
  EXPECT_TRUE(anim.extracted);
  EXPECT_EQ(anim.file.reason, FileReason::kEntryDiffers);
  EXPECT_EQ(anim.file.mismatchedUnits, 1u);
  EXPECT_TRUE(extract.NeedsAttention());
}

// Without the key only the Hash container is restored; the others are not checked and
// nothing of theirs is written.
TEST_F(ImageExtractTest, WithoutTheKeyOnlyKeylessTypesAreRestored) {
  const ImageExtract extract = Extract(false);
  for (const char* name : kNames) {
    const ExtractedFile& file = File(extract, name);
    const bool hash = std::string(name) == "menu.xml";
    EXPECT_EQ(file.extracted, hash) << name;
    EXPECT_EQ(w.Exists(std::string("out/") + name), hash) << name;
    if (!hash) {
      EXPECT_EQ(file.file.verdict, FileVerdict::kNotChecked) << name;
      EXPECT_EQ(file.reason, ExtractReason::kNotRestored) << name;
    }
  }
  EXPECT_TRUE(extract.NeedsAttention());
}

// What is no container, and a sub-folder, are listed, not restored; an output folder inside the
// image (its own ADV_OBJ, where every container would replace itself) stops everything.
TEST_F(ImageExtractTest, NeitherRestoresWhatIsNoContainerNorOverwritesTheContainers) {
  w.Write("img/ADV_OBJ/plain.txt", "plain\n");
  w.MakeFolder("img/ADV_OBJ/sub");
  const ImageExtract extract = Extract();
  EXPECT_EQ(File(extract, "plain.txt").file.reason, FileReason::kNotContainer);
  EXPECT_FALSE(File(extract, "plain.txt").extracted);
  EXPECT_EQ(File(extract, "sub").file.reason, FileReason::kFolder);
  EXPECT_FALSE(w.Exists("out/plain.txt"));
  const Bytes menu = w.Read("img/ADV_OBJ/menu.xml");
  ImageExtract into;
  const ImageError<ImageExtractError> error =
      ExtractImage(P("img"), P("img/ADV_OBJ"), {P("key"), true}, {}, into);
  ASSERT_EQ(error, ImageExtractError::kOutputInImage);
  EXPECT_EQ(error.path, P("img/ADV_OBJ"));
  EXPECT_TRUE(into.files.empty());
  EXPECT_EQ(w.Read("img/ADV_OBJ/menu.xml"), menu);
}

// A missing output folder is made only once the image was found fit to extract.
TEST_F(ImageExtractTest, AMissingOutputFolderIsMadeOnlyWhenTheExtractGoesAhead) {
  w.Write("other", Bytes(16, 'o'));
  ImageExtract refused;
  EXPECT_EQ(ExtractImage(P("img"), P("made/here"), {P("other")}, {}, refused),
            ImageExtractError::kKeyDoesNotFit);
  EXPECT_FALSE(w.Exists("made"));
  ImageExtract extract;
  EXPECT_EQ(ExtractImage(P("img"), P("made/here"), {P("key")}, {}, extract),
            ImageExtractError::kNone);
  EXPECT_TRUE(extract.outputMade);
  EXPECT_TRUE(std::filesystem::is_directory(w.Path("made/here")));
}

}  // namespace
}  // namespace velador::testing

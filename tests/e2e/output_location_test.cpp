#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace x = expected;
namespace fs = std::filesystem;

const Bytes kKey = "0123456789abcdef";
const std::string kDump1 = "30 31 32 33 34 35 36 37 ";
const std::string kDump2 = "38 39 61 62 63 64 65 66 ";

// No hidden temporary file and no fixed-name temporary file may stay behind.
void ExpectNoLeftovers(const Workspace& w) {
  for (const std::string& entry : w.List()) {
    std::string name = entry.substr(entry.find_last_of('/') + 1);
    EXPECT_NE(name.rfind(".velador-", 0), 0u) << entry;
    EXPECT_NE(name, "temp_aacs.tmp");
    EXPECT_NE(name, "temp_hash_aacs.tmp");
  }
}

TEST(OutputLocation, ResultPathsForEachForm) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.Write("src/a.txt", "a");
  w.Write("my docs/a b.txt", "blank");
  w.MakeFolder("out");
  w.MakeFolder("out\\");  // on this system "out\" is a folder name of its own
  struct {
    std::vector<std::string> arguments;
    std::string result;
  } cases[] = {
      {{"-e", "-p", "src/a.txt", "out", "key"}, "out/a.txt"},
      {{"-e", "-p", "src/a.txt", "out/", "key"}, "out/a.txt"},
      {{"-e", "-p", "src/a.txt", "out\\", "key"}, "out\\/a.txt"},
      {{"-e", "-d", "src/a.txt", "img", "key"}, "img/ADV_OBJ/a.txt"},
      {{"-e", "-d", "src/a.txt", "img/", "key"}, "img/ADV_OBJ/a.txt"},
      {{"-e", "-p", "my docs/a b.txt", "out", "key"}, "out/a b.txt"},
      {{"-e", "-p", "src\\..\\src/a.txt", "out", "key"}, "out/a.txt"},
  };
  for (const auto& c : cases) {
    if (w.Exists("src\\..\\src")) fs::remove_all(w.Path("src\\..\\src"));
    w.Write("src\\..\\src/a.txt", "a");
    fs::remove(w.Path(c.result));
    ToolRun run = w.Run(c.arguments);
    EXPECT_EQ(run.out, x::ResultPath(c.result) + x::NonProtectedEncapsulated(kDump1, kDump2))
        << c.result;
    EXPECT_TRUE(w.Exists(c.result)) << c.result;
  }
  ExpectNoLeftovers(w);
}

TEST(OutputLocation, NameIsEverythingAfterTheLastSeparatorBlanksIncluded) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  w.MakeFolder("back");
  w.Write("my docs/two words.txt", "blanks in the name");
  ToolRun run = w.Run({"-e", "-p", "my docs/two words.txt", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath("out/two words.txt") + x::NonProtectedEncapsulated(kDump1, kDump2));
  EXPECT_FALSE(w.Exists("out/my"));
  run = w.Run({"-d", "out/two words.txt", "back", "key"});
  EXPECT_EQ(run.out, x::ResultPath("back/two words.txt") + x::NonProtectedDecapsulated(true));
  // A backslash separates too: the file "d\name.txt" in the working folder is named name.txt.
  w.Write("d\\name.txt", "x");
  run = w.Run({"-e", "-p", "d\\name.txt", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath("out/name.txt") + x::NonProtectedEncapsulated(kDump1, kDump2));
}

TEST(OutputLocation, DecapsulationResultPathHasNoDiscFolder) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.Write("a.txt", "abc");
  w.Run({"-e", "-d", "a.txt", "img", "key"});
  w.MakeFolder("out");
  EXPECT_EQ(w.Run({"-d", "img/ADV_OBJ/a.txt", "out", "key"}).out,
            x::ResultPath("out/a.txt") + x::NonProtectedDecapsulated(true));
  // Into a folder that does not exist: the ADV_OBJ message, since decapsulation runs "for a disc".
  EXPECT_EQ(w.Run({"-d", "img/ADV_OBJ/a.txt", "nowhere", "key"}).out, x::kNoDiscFolder);
}

TEST(OutputLocation, MissingFoldersStopTheRun) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", "abc");
  w.MakeFolder("img");  // no ADV_OBJ inside
  EXPECT_EQ(w.Run({"-e", "-d", "a.txt", "img", "key"}).out, x::kNoDiscFolder);
  EXPECT_EQ(w.Run({"-e", "-p", "a.txt", "nowhere", "key"}).out, x::kNoOutputFolder);
  EXPECT_EQ(w.List(), (std::vector<std::string>{"a.txt", "img", "key"}));
}

TEST(OutputLocation, ResultPathThatIsAFolderFailsTheProbe) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.Write("a.txt", "abc");
  w.MakeFolder("out/a.txt");
  w.MakeFolder("img/ADV_OBJ/a.txt");
  EXPECT_EQ(w.Run({"-e", "-p", "a.txt", "out", "key"}).out, x::kNoOutputFolder);
  EXPECT_EQ(w.Run({"-e", "-d", "a.txt", "img", "key"}).out, x::kNoDiscFolder);
}

TEST(OutputLocation, MissingTableForHashedTypes) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("menu.xml", "<m/>");
  w.Write("s.js", "js");
  w.MakeFolder("img/ADV_OBJ");
  w.Write("img/ADV_OBJ/menu.xml", "an earlier file");
  EXPECT_EQ(w.Run({"-e", "-d", "menu.xml", "img"}).out,
            x::NoTable("img/AACS/CONTENT_HASH_TABLE2.AACS"));
  EXPECT_EQ(w.Run({"-e", "-d", "menu.xml", "img/", "key"}).out,
            x::NoTable("img/AACS/CONTENT_HASH_TABLE2.AACS"));
  EXPECT_EQ(w.Run({"-e", "-d", "s.js", "img", "key"}).out,
            x::NoTable("img/AACS/CONTENT_HASH_TABLE2.AACS"));
  // The probe changed nothing: the earlier file keeps its bytes.
  EXPECT_EQ(w.Read("img/ADV_OBJ/menu.xml"), "an earlier file");
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/s.js"));
  ExpectNoLeftovers(w);
  // Types that use no table do not look for it.
  w.Write("a.png", "png");
  EXPECT_EQ(w.Run({"-e", "-d", "a.png", "img", "key"}).out.rfind(
                x::ResultPath("img/ADV_OBJ/a.png") + x::kAnnounceEncryption, 0),
            0u);
}

TEST(OutputLocation, ComposedPathLengths) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", "abc");
  w.Write("menu.xml", "<m/>");
  // Result path of 271 bytes: accepted (the folder is missing, so the probe speaks).
  EXPECT_EQ(w.Run({"-e", "-p", "a.txt", std::string(265, 'o'), "key"}).out, x::kNoOutputFolder);
  // 272 bytes: refused.
  EXPECT_EQ(w.Run({"-e", "-p", "a.txt", std::string(266, 'o'), "key"}).out, x::kPathTooLong);
  // For a disc the ADV_OBJ piece counts: 257 + 9 + 5 = 271, 258 + 9 + 5 = 272.
  EXPECT_EQ(w.Run({"-e", "-d", "a.txt", std::string(257, 'o'), "key"}).out, x::kNoDiscFolder);
  EXPECT_EQ(w.Run({"-e", "-d", "a.txt", std::string(258, 'o'), "key"}).out, x::kPathTooLong);
  // Table path of 272 bytes (242 + 30) with a short enough result path: refused for Hash.
  EXPECT_EQ(w.Run({"-e", "-d", "menu.xml", std::string(242, 'o')}).out, x::kPathTooLong);
  EXPECT_EQ(w.Run({"-e", "-d", "menu.xml", std::string(241, 'o')}).out, x::kNoDiscFolder);
  // ... and ignored for a type that uses no table.
  EXPECT_EQ(w.Run({"-e", "-d", "a.txt", std::string(242, 'o'), "key"}).out, x::kNoDiscFolder);
  EXPECT_EQ(w.List(), (std::vector<std::string>{"a.txt", "key", "menu.xml"}));
}

TEST(OutputLocation, SameFileByText) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.Write("img/ADV_OBJ/a.txt", "original");
  w.Write("./b.txt", "original");
  EXPECT_EQ(w.Run({"-e", "-d", "img/ADV_OBJ/a.txt", "img", "key"}).out, x::kSameFile);
  EXPECT_EQ(w.Run({"-e", "-d", "img/ADV_OBJ/a.txt", "img/", "key"}).out, x::kSameFile);
  EXPECT_EQ(w.Run({"-e", "-p", "./b.txt", ".", "key"}).out, x::kSameFile);
  EXPECT_EQ(w.Read("img/ADV_OBJ/a.txt"), "original");
  EXPECT_EQ(w.Read("b.txt"), "original");
}

TEST(OutputLocation, SameFileByAnotherSpelling) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", "original");
  w.Write("out/c.txt", "original");
  fs::create_symlink("out/c.txt", w.Path("c.txt"));
  w.Write("out/h.txt", "original");
  fs::create_hard_link(w.Path("out/h.txt"), w.Path("h.txt"));
  fs::create_directory_symlink("out", w.Path("link"));
  struct {
    std::vector<std::string> arguments;
  } cases[] = {
      {{"-e", "-p", "a.txt", ".", "key"}},
      {{"-e", "-p", w.Path("a.txt").string(), ".", "key"}},
      {{"-e", "-p", "a.txt", w.Root().string(), "key"}},
      {{"-e", "-p", "c.txt", "out", "key"}},
      {{"-e", "-p", "h.txt", "out", "key"}},
      {{"-e", "-p", "link/h.txt", "out", "key"}},
      {{"-e", "-p", "out/h.txt", "link", "key"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(w.Run(c.arguments).out, x::kSameFile) << c.arguments[2] << " -> " << c.arguments[3];
  }
  EXPECT_EQ(w.Read("a.txt"), "original");
  EXPECT_EQ(w.Read("out/c.txt"), "original");
  EXPECT_EQ(w.Read("out/h.txt"), "original");
  ExpectNoLeftovers(w);
}

TEST(OutputLocation, EmptyOutputMeansTheRootFolder) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", "abc");
  if (fs::exists("/ADV_OBJ")) GTEST_SKIP() << "a folder /ADV_OBJ exists on this machine";
  EXPECT_EQ(w.Run({"-e", "-d", "a.txt", "", "key"}).out, x::kNoDiscFolder);

  // For persistent storage the result is "/" and the name; use a name nobody else has.
  std::string name = "velador-e2e-" + std::to_string(getpid()) + ".txt";
  w.Write(name, "abc");
  ToolRun run = w.Run({"-e", "-p", name, "", "key"});
  std::error_code ignored;
  bool written = fs::exists("/" + name, ignored);
  fs::remove("/" + name, ignored);
  if (!written) {
    EXPECT_EQ(run.out, x::kNoOutputFolder);  // the root folder takes no file for this user
  } else {
    EXPECT_EQ(run.out, x::ResultPath("/" + name) + x::NonProtectedEncapsulated(kDump1, kDump2));
  }
}

TEST(OutputLocation, ExistingResultIsReplacedOnSuccess) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", "new");
  w.Write("out/a.txt", SampleContent(1000));
  ToolRun run = w.Run({"-e", "-p", "a.txt", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath("out/a.txt") + x::NonProtectedEncapsulated(kDump1, kDump2));
  Bytes container = w.Read("out/a.txt");
  ASSERT_EQ(container.size(), 286u);
  EXPECT_EQ(container.substr(283), "new");
  ExpectNoLeftovers(w);
}

TEST(OutputLocation, UsersTemporaryNamedFilesStayUntouched) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.Write("temp_aacs.tmp", "mine, do not touch");
  w.Write("temp_hash_aacs.tmp", "mine too");
  w.Write("a.txt", "abc");
  w.Write("menu.xml", "<m/>");
  w.Write("p.png", "png");
  w.Run({"-e", "-d", "a.txt", "img", "key"});
  w.Run({"-e", "-d", "menu.xml", "img"});
  w.Run({"-e", "-d", "p.png", "img", "key"});
  w.MakeFolder("back");
  w.Run({"-d", "img/ADV_OBJ/a.txt", "back", "key"});
  w.Run({"-d", "img/ADV_OBJ/menu.xml", "back"});
  EXPECT_EQ(w.Read("temp_aacs.tmp"), "mine, do not touch");
  EXPECT_EQ(w.Read("temp_hash_aacs.tmp"), "mine too");
  EXPECT_EQ(w.List(),
            (std::vector<std::string>{"a.txt", "back", "back/a.txt", "back/menu.xml", "img",
                                      "img/AACS", "img/AACS/CONTENT_HASH_TABLE2.AACS",
                                      "img/ADV_OBJ", "img/ADV_OBJ/a.txt", "img/ADV_OBJ/menu.xml",
                                      "img/ADV_OBJ/p.png", "key", "menu.xml", "p.png",
                                      "temp_aacs.tmp", "temp_hash_aacs.tmp"}));
}

TEST(OutputLocation, NoFixedNameTemporaryFilesAppear) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("a.txt", SampleContent(5000));
  w.MakeFolder("out");
  w.Run({"-e", "-p", "a.txt", "out", "key"});
  EXPECT_EQ(w.List(), (std::vector<std::string>{"a.txt", "key", "out", "out/a.txt"}));
}

}  // namespace
}  // namespace velador::testing

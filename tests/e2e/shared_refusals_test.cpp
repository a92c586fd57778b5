// Both programs refuse the same inputs: every refusal of the checks before an encapsulation,
// run through `velador -e -d` and through `velador-image add`, leaves the workspace as it was.
// And a batch reads each input once: a file whose path comes to name another file meanwhile
// is encapsulated as it was checked, never as what replaced it.

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "e2e/image_test.h"

namespace velador::testing {
namespace {

struct RefusalCase {
  const char* name;
  std::function<void(const Workspace&)> setUp;
  std::string input;
  std::string image = "img";
  std::string key = "key";
  bool linuxOnly = false;  // what Linux makes of letter case or links; Windows differs rightly
};

const std::string kLong(250, 'a');

std::vector<RefusalCase> Cases() {
  return {
      {"InputMissing", [](const Workspace&) {}, "src/missing.txt"},
      {"InputIsAFolder", [](const Workspace& w) { w.MakeFolder("src/folder.txt"); },
       "src/folder.txt"},
      {"AlreadyAContainer",
       [](const Workspace& w) {
         w.Write("src/already.txt", Bytes("AACS\x21", 5) + Bytes(300, '\0'));
       },
       "src/already.txt"},
      {"TooLarge",
       [](const Workspace& w) {
         w.Write("src/huge.txt", "");
         std::filesystem::resize_file(w.Path("src/huge.txt"), std::uint64_t{1} << 32);
       },
       "src/huge.txt"},
      {"ResultPathTooLong", [](const Workspace& w) { MakeDiscImage(w, "deep/" + kLong); },
       "src/" + std::string(20, 'n') + ".txt", "deep/" + kLong},
      {"ResultIsTheInput", [](const Workspace& w) { w.Write("img/ADV_OBJ/a.txt", "a\n"); },
       "img/ADV_OBJ/a.txt"},
      {"ResultIsTheInputLettersFolded",
       [](const Workspace& w) { w.Write("img/adv_obj/a.txt", "a\n"); }, "img/adv_obj/a.txt", "img",
       "key", true},
      {"ResultIsTheKeyFile",
       [](const Workspace& w) {
         w.Write("img/ADV_OBJ/k.txt", w.Read("key"));
         w.Write("src/k.txt", "k\n");
       },
       "src/k.txt", "img", "img/ADV_OBJ/k.txt"},
      {"ResultIsTheTableThroughALink",
       [](const Workspace& w) {
         std::filesystem::create_symlink(w.Path("img/AACS/CONTENT_HASH_TABLE2.AACS"),
                                         w.Path("img/ADV_OBJ/t.xml"));
         w.Write("src/t.xml", "<t/>\n");
       },
       "src/t.xml", "img", "key", true},
      {"ResultIsAFolder", [](const Workspace& w) { w.MakeFolder("img/ADV_OBJ/a.txt"); },
       "src/a.txt"},
      {"NoTable",
       [](const Workspace& w) {
         w.MakeFolder("bare/ADV_OBJ");
         w.Write("src/m.xml", "<m/>\n");
       },
       "src/m.xml", "bare"},
      {"NoDiscFolder", [](const Workspace& w) { w.MakeFolder("nodisc"); }, "src/a.txt", "nodisc"},
      // An empty image is the root for both, as velador has always composed it, never the
      // current folder.
      {"EmptyImage", [](const Workspace& w) { w.MakeFolder("ADV_OBJ"); }, "src/a.txt", ""},
  };
}

class SharedRefusals : public ImageTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(SharedRefusals, BothProgramsRefuseAndChangeNothing) {
  const RefusalCase& c = GetParam();
  if (c.linuxOnly) SKIP_UNDER_WINE("letter case and links as Linux has them");
  Source("a.txt", "a\n");
  c.setUp(w);
  const std::vector<std::string> before = w.List();
  const Bytes table = Table();

  const ToolRun single = w.Run({"-e", "-d", c.input, c.image, c.key});
  EXPECT_NE(single.out.find("   ERROR:"), std::string::npos) << single.out;
  EXPECT_EQ(w.List(), before);

  const ToolRun batch = Image({"add", c.image, "--key", c.key, c.input});
  EXPECT_NE(batch.status, 0) << batch.out;
  EXPECT_EQ(batch.out.find("   AFEGIT "), std::string::npos) << batch.out;
  EXPECT_EQ(w.List(), before);
  EXPECT_EQ(Table(), table);
}

INSTANTIATE_TEST_SUITE_P(Cases, SharedRefusals, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// The second file of the batch is a link to where the first one's container goes. Whichever
// moment the link is read, it is encapsulated as the file it named when it was checked: the
// earlier plain file, or refused as a container; never a container wrapping a container.
TEST_F(ImageTest, ABatchEncapsulatesWhatItCheckedThroughALink) {
  SKIP_UNDER_WINE("symbolic links");
  Source("one.txt", SampleContent(200000, 3));
  std::filesystem::create_symlink(w.Path("img/ADV_OBJ/one.txt"), w.Path("src/two.txt"));
  for (int round = 0; round < 30; ++round) {
    w.Write("img/ADV_OBJ/one.txt", "plain\n");
    std::filesystem::remove(w.Path("img/ADV_OBJ/two.txt"));
    const ToolRun run =
        Image({"add", "img", "--key", "key", "--replace", "src/one.txt", "src/two.txt"});
    ASSERT_NE(run.status, 2) << run.out << run.err;
    if (!w.Exists("img/ADV_OBJ/two.txt")) continue;
    const Bytes two = w.Read("img/ADV_OBJ/two.txt");
    EXPECT_EQ(two.substr(283), "plain\n") << "round " << round;
  }
}

}  // namespace
}  // namespace velador::testing

namespace velador::testing {
namespace {

// What a run killed outright left behind (a temporary file no process holds) goes with the next
// run that writes into that folder, whichever program it is; a temporary file a live run holds
// stays, and so does every other file.
TEST_F(ImageTest, TheNextRunRemovesWhatKilledRunsLeftAndNothingElse) {
  SKIP_UNDER_WINE("a POSIX lock stands for the live run");
  Source("a.txt", "a\n");
  Source("b.txt", "b\n");
  const std::vector<std::pair<std::vector<std::string>, bool>> runs = {
      {{"-e", "-d", "src/a.txt", "img", "key"}, false},
      {{"add", "img", "--key", "key", "src/b.txt"}, true},
  };
  for (const auto& [arguments, image] : runs) {
    w.Write("img/ADV_OBJ/.velador-0badc0de.tmp", "left by a killed run");
    w.Write("img/ADV_OBJ/.velador-notmine.tmp", "no name of ours");
    w.Write("img/ADV_OBJ/.velador-1177aa00.tmp", "held by a live run");
    const int live = open(w.Path("img/ADV_OBJ/.velador-1177aa00.tmp").c_str(), O_RDONLY);
    ASSERT_GE(live, 0);
    ASSERT_EQ(flock(live, LOCK_EX), 0);
    const ToolRun run = image ? Image(arguments) : w.Run(arguments);
    close(live);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/.velador-0badc0de.tmp"));
    EXPECT_TRUE(w.Exists("img/ADV_OBJ/.velador-1177aa00.tmp"));
    EXPECT_TRUE(w.Exists("img/ADV_OBJ/.velador-notmine.tmp"));
    std::filesystem::remove(w.Path("img/ADV_OBJ/.velador-1177aa00.tmp"));
    std::filesystem::remove(w.Path("img/ADV_OBJ/.velador-notmine.tmp"));
  }
}

}  // namespace
}  // namespace velador::testing

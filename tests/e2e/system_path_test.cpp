// Paths as the system takes them, through the built tool: every path the tool opens or composes
// at the longest length it accepts, 271 characters as given (past the 260 characters of the
// narrow Windows calls once made absolute), and refused alike at 272; "." and ".." inside a path;
// and the blank Windows drops from the end of a name.

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

const std::string kTableSuffix = "/AACS/CONTENT_HASH_TABLE2.AACS";  // 30 characters
constexpr std::size_t kMaxPath = 271;  // the longest path the tool takes

// A relative folder path of exactly `length` characters made of nested folders, each name short
// enough for any file system (at most 100 characters).
std::string FolderOfLength(std::size_t length) {
  std::string folder;
  char letter = 'a';
  while (folder.size() < length) {
    if (!folder.empty()) folder += '/';
    std::size_t part = std::min<std::size_t>(100, length - folder.size());
    if (length - folder.size() - part == 1) --part;  // a lone "/" would be left over
    folder += std::string(part, letter++);
  }
  return folder;
}

// One run whose path of interest has the length under test, what it prints when that path
// fits, and the files it then leaves with their sizes.
struct Scenario {
  std::vector<std::string> arguments;
  std::string out;
  std::vector<std::pair<std::string, std::size_t>> files;
};

Scenario LongInput(const Workspace& w, std::size_t length) {
  const std::string input = FolderOfLength(length - 7) + "/in.txt";
  w.Write(input, "content");
  return {{"-e", "-p", input, "out", "key"},
          NonProtectedEncapsulation("out/in.txt", kKey),
          {{"out/in.txt", 283 + 7}}};
}

Scenario LongKey(const Workspace& w, std::size_t length) {
  const std::string key = FolderOfLength(length - 4) + "/key";
  w.Write(key, kOtherKey);
  w.Write("in.txt", "content");
  return {{"-e", "-p", "in.txt", "out", key},
          NonProtectedEncapsulation("out/in.txt", kOtherKey),
          {{"out/in.txt", 283 + 7}}};
}

// The result, and the temporary file beside it, which is longer still.
Scenario LongResult(const Workspace& w, std::size_t length) {
  const std::string folder = FolderOfLength(length - 7);
  w.MakeFolder(folder);
  w.Write("in.txt", "content");
  const std::string result = folder + "/in.txt";
  return {{"-e", "-p", "in.txt", folder, "key"},
          NonProtectedEncapsulation(result, kKey),
          {{result, 283 + 7}}};
}

// The table an encapsulation adds to: the result lies in the same deep image.
Scenario LongEncapsulationTable(const Workspace& w, std::size_t length) {
  const std::string image = FolderOfLength(length - kTableSuffix.size());
  MakeDiscImage(w, image);
  w.Write("h.xml", kMenuContent);
  const std::string result = image + "/ADV_OBJ/h.xml";
  return {{"-e", "-d", "h.xml", image},
          HashEncapsulation(result, kMenuTail),
          {{result, 283 + 8 + 4}, {image + kTableSuffix, 40060 + 8}}};
}

// The table a decapsulation checks against, derived from the container's path.
Scenario LongDecapsulationTable(const Workspace& w, std::size_t length) {
  const std::string image = FolderOfLength(length - kTableSuffix.size());
  w.Write(image + "/ADV_OBJ/h.xml",
          Header(0x12, 8) + NameBlock("h.xml") + kMenuContent + Number(1));
  w.Write(image + kTableSuffix, Bytes(40056, '\0') + Number(1) + kMenuTail);
  return {{"-d", image + "/ADV_OBJ/h.xml", "back", "key"},
          HashDecapsulation("back/h.xml", true, true),
          {{"back/h.xml", 8}}};
}

struct LongPathCase {
  const char* label;
  Scenario (*scenario)(const Workspace&, std::size_t);
  std::size_t length;
};
void PrintTo(const LongPathCase& c, std::ostream* os) { *os << c.label; }

class LongPath : public ToolTestWithParam<LongPathCase> {};

TEST_P(LongPath, WorksAt271CharactersAndIsRefusedAt272) {
  const LongPathCase& c = GetParam();
  const Scenario s = c.scenario(w, c.length);
  if (c.length > kMaxPath) {
    ExpectRefusal(s.arguments, Refusal("path_too_long"));
    return;
  }
  EXPECT_EQ(Out(s.arguments), s.out);
  for (const auto& [file, size] : s.files) {
    ASSERT_TRUE(w.Exists(file)) << file;
    EXPECT_EQ(w.Read(file).size(), size) << file;
  }
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPath, LongPath,
    ::testing::Values(LongPathCase{"Input271", LongInput, kMaxPath},
                      LongPathCase{"Input272", LongInput, kMaxPath + 1},
                      LongPathCase{"Key271", LongKey, kMaxPath},
                      LongPathCase{"Key272", LongKey, kMaxPath + 1},
                      LongPathCase{"Result271", LongResult, kMaxPath},
                      LongPathCase{"Result272", LongResult, kMaxPath + 1},
                      LongPathCase{"EncapsulationTable271", LongEncapsulationTable, kMaxPath},
                      LongPathCase{"EncapsulationTable272", LongEncapsulationTable, kMaxPath + 1},
                      LongPathCase{"DecapsulationTable271", LongDecapsulationTable, kMaxPath},
                      LongPathCase{"DecapsulationTable272", LongDecapsulationTable, kMaxPath + 1}),
    [](const auto& info) { return std::string(info.param.label); });

class SystemPath : public ToolTest {};

// A container at the longest path decapsulates too.
TEST_F(SystemPath, LongestContainerPathRoundTrips) {
  const std::string folder = FolderOfLength(kMaxPath - 7);
  w.MakeFolder(folder);
  w.Write("in.txt", "content");
  Out({"-e", "-p", "in.txt", folder, "key"});
  EXPECT_EQ(Out({"-d", folder + "/in.txt", "back", "key"}),
            NonProtectedDecapsulation("back/in.txt", true));
  EXPECT_EQ(w.Read("back/in.txt"), "content");
}

// The long form of a Windows path is taken literally, so "." and ".." must be resolved first.
TEST_F(SystemPath, DotAndDotDotAreResolved) {
  w.Write("src/a.txt", "content");
  w.MakeFolder("out/x");
  EXPECT_EQ(Out({"-e", "-p", "./src/../src/a.txt", "out/./x/../", "key"}),
            NonProtectedEncapsulation("out/./x/../a.txt", kKey));
  EXPECT_EQ(w.Read("out/a.txt").substr(283), "content");
  ExpectNoLeftovers(w);
}

// Linux keeps a blank at the end of a name; Windows drops it, as it always has, so the long
// form must not keep it either (nor leave a file that Windows programs cannot open). The
// printed path is the one given either way.
TEST_F(SystemPath, TrailingBlankIsTheSystemsToKeepOrDrop) {
  w.Write("a.txt", "plain");
  w.Write("a.txt ", "blank");
  EXPECT_EQ(Out({"-e", "-p", "a.txt ", "out", "key"}),
            NonProtectedEncapsulation("out/a.txt ", kKey));
  const std::string written = UnderWine() ? "out/a.txt" : "out/a.txt ";
  const std::string absent = UnderWine() ? "out/a.txt " : "out/a.txt";
  EXPECT_EQ(w.Read(written).substr(283), UnderWine() ? "plain" : "blank");
  EXPECT_FALSE(w.Exists(absent));
}

}  // namespace
}  // namespace velador::testing

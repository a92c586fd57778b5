#include "app/classify_input.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/run_paths.h"
#include "support/workspace.h"

namespace velador {
namespace {

using testing::Bytes;
using testing::Header;
using testing::Workspace;

struct Classified {
  int type;
  std::string printed;
  PathBuffer table;
};

Classified Classify(const std::string& path, bool encapsulate, bool forDisc) {
  RunPaths paths;
  paths.input = Buffer(path);
  std::ostringstream out;
  Console console(out);
  const Request request{encapsulate ? Direction::kEncapsulate : Direction::kDecapsulate, forDisc};
  const std::optional<ClassifiedInput> classified = ClassifyInput(request, paths, console);
  const int type = Number(classified ? std::optional(classified->type) : std::nullopt);
  return {type, out.str(), paths.table};
}

struct ExtensionRow {
  const char* ending;
  int disc;
  int storage;
};

// Every row of the extension table, in both columns, and in upper and mixed case.
TEST(ClassifyInputExtensions, EveryRowInBothDestinations) {
  const ExtensionRow rows[] = {
      {"jpg", 1, 1}, {"png", 1, 1}, {"mng", 1, 1}, {"cvi", 1, 1}, {"cdw", 1, 1}, {"otf", 1, 1},
      {"ttf", 1, 1}, {"ttc", 1, 1}, {".js", 2, 3}, {"xml", 4, 3}, {"xpl", 4, 3}, {"xmf", 4, 3},
      {"xmu", 4, 3}, {"xts", 4, 3}, {"xas", 4, 3}, {"xss", 4, 3}, {"xul", 4, 3},
  };
  Workspace w;
  for (const ExtensionRow& row : rows) {
    std::string lower = row.ending;
    std::string upper = lower;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    std::string mixed = lower;
    mixed[2] = upper[2];
    for (const std::string& ending : {lower, upper, mixed}) {
      for (const std::string& stem : {std::string("file."), std::string("file")}) {
        if (ending[0] == '.' && stem == "file.") continue;
        std::string name = stem + ending;
        w.Write(name, "content");
        std::string path = w.Path(name).string();
        Classified disc = Classify(path, true, true);
        Classified storage = Classify(path, true, false);
        EXPECT_EQ(disc.type, row.disc) << name;
        EXPECT_EQ(storage.type, row.storage) << name;
        EXPECT_EQ(disc.printed, "") << name;
        EXPECT_EQ(storage.printed, "") << name;
        EXPECT_EQ(Text(disc.table), "0") << name;  // encapsulating never touches it
      }
    }
  }
}

TEST(ClassifyInputExtensions, EverythingElseIsNonProtected) {
  Workspace w;
  for (std::string name : {"page.html", "archive.zip", "archive.gz", "js", "ajs", "a.JSX", "a.txt",
                           "xm", "noextension", "a.jp g", "a.pngx", "a.xm", "a.XM\xCC"}) {
    w.Write("d/" + name, "content");
    std::string path = w.Path("d/" + name).string();
    EXPECT_EQ(Classify(path, true, true).type, 5) << name;
    EXPECT_EQ(Classify(path, true, false).type, 5) << name;
  }
  // "d/js" above ends in "/js", which is no row: the ".js" row needs its dot.
}

TEST(ClassifyInputTypeCodes, EachCodeGivesItsTypeAndTheTablePath) {
  struct {
    unsigned char code;
    int type;
  } codes[] = {{0x01, 1}, {0x11, 2}, {0x02, 3}, {0x12, 4}, {0x21, 5}};
  Workspace w;
  for (const auto& c : codes) {
    w.Write("img/ADV_OBJ/c.xml", Header(c.code, 0) + Bytes(400, '\0'));
    Classified result = Classify(w.Path("img/ADV_OBJ/c.xml").string(), false, true);
    EXPECT_EQ(result.type, c.type) << int{c.code};
    EXPECT_EQ(result.printed, "") << int{c.code};
    EXPECT_EQ(Text(result.table), w.Path("img").string() + "/AACS/CONTENT_HASH_TABLE2.AACS");
    // The extension plays no part in a decapsulation.
    EXPECT_EQ(Classify(w.Path("img/ADV_OBJ/c.xml").string(), false, false).type, c.type);
  }
}

TEST(ClassifyInputTypeCodes, UnknownCodeStillDerivesTheTablePath) {
  Workspace w;
  w.Write("img/ADV_OBJ/c.bin", Header(0x22, 0) + Bytes(400, '\0'));
  Classified result = Classify(w.Path("img/ADV_OBJ/c.bin").string(), false, true);
  EXPECT_EQ(result.type, 0);
  EXPECT_EQ(result.printed,
            "\n   ERROR:   El tipus d'encapsulaci\xF3 i xifrat no correspon a un fitxer AACS "
            "v\xE0lid.\n\n");
  EXPECT_EQ(Text(result.table), w.Path("img").string() + "/AACS/CONTENT_HASH_TABLE2.AACS");
}

TEST(ClassifyInputTypeCodes, NotAContainerLeavesTheTablePathAlone) {
  Workspace w;
  w.Write("img/ADV_OBJ/c.bin", "AACX and more");
  Classified result = Classify(w.Path("img/ADV_OBJ/c.bin").string(), false, true);
  EXPECT_EQ(result.type, 0);
  EXPECT_EQ(result.printed,
            "\n   ERROR:   El fitxer d'entrada no correspon a un fitxer AACS.\n\n\n\n");
  EXPECT_EQ(Text(result.table), "0");
}

TEST(ClassifyInputTablePath, CutBeforeTheSecondToLastSeparator) {
  Workspace w;
  const std::string root = w.Root().string();
  struct {
    std::string relative;
    std::string table;
  } cases[] = {
      {"img/ADV_OBJ/m.xml", root + "/img/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"x\\img\\ADV_OBJ\\m.xml", root + "/x\\img/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"a/img\\ADV_OBJ/m.xml", root + "/a/img/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"m.xml", root.substr(0, root.find_last_of('/')) + "/AACS/CONTENT_HASH_TABLE2.AACS"},
  };
  for (const auto& c : cases) {
    w.Write(c.relative, Header(0x12, 0) + Bytes(276, '\0'));
    Classified result = Classify(root + "/" + c.relative, false, true);
    EXPECT_EQ(result.type, 4) << c.relative;
    EXPECT_EQ(Text(result.table), c.table) << c.relative;
  }
}

TEST(ClassifyInputTablePath, FewerThanTwoSeparatorsGiveTheBareSuffix) {
  Workspace w;
  // Relative paths, resolved against the test's working folder: use a file that exists there.
  std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(w.Root());
  w.Write("m.bin", Header(0x21, 0) + Bytes(272, '\0'));
  w.Write("ADV_OBJ/m.bin", Header(0x21, 0) + Bytes(272, '\0'));
  Classified bare = Classify("m.bin", false, true);
  Classified one = Classify("ADV_OBJ/m.bin", false, true);
  std::filesystem::current_path(previous);
  EXPECT_EQ(bare.type, 5);
  EXPECT_EQ(Text(bare.table), "/AACS/CONTENT_HASH_TABLE2.AACS");
  EXPECT_EQ(Text(one.table), "/AACS/CONTENT_HASH_TABLE2.AACS");
}

}  // namespace
}  // namespace velador

#include "app/output_location.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "app/run_paths.h"
#include "support/workspace.h"

namespace velador {
namespace {

using testing::Workspace;

constexpr ContainerType kNonProtected = ContainerType::kNonProtected;
constexpr ContainerType kHash = ContainerType::kHash;

struct Checked {
  bool go;
  std::string printed;
  PathBuffer result;
  PathBuffer table;
  PathBuffer name;
};

Checked Check(const std::string& input, const std::string& output, ContainerType type,
              bool encapsulate, bool forDisc, const std::string& table = "0") {
  RunPaths paths;
  paths.input = Buffer(input);
  paths.output = Buffer(output);
  paths.table = Buffer(table);
  std::ostringstream stream;
  Console console(stream);
  const Request request{encapsulate ? Direction::kEncapsulate : Direction::kDecapsulate, forDisc};
  const bool go = CheckOutputLocation(request, type, paths, console);
  return {go, stream.str(), paths.result, paths.table, paths.fileName};
}

const std::string kNoOutputFolder =
    "\n   ERROR:   No es pot trobar la ruta de sortida indicada,"
    "\n            comprovi que existeix i que s'hi pot escriure.\n\n\n\n";
const std::string kSameFile =
    "\n   ERROR:   La ruta del fitxer d'entrada coincideix amb el de sortida."
    "\n            Esculli una ruta diferent per deixar el fitxer de sortida.\n\n\n\n";

TEST(CheckOutputLocationPaths, NameAndResultPathComposition) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.MakeFolder("out");
  w.MakeFolder("out\\");
  const std::string root = w.Root().string();
  struct {
    std::string input;
    std::string output;
    bool forDisc;
    std::string name;
    std::string result;
  } cases[] = {
      {"/src/a.png", root + "/out", false, "a.png", root + "/out/a.png"},
      {"/src/a.png", root + "/out/", false, "a.png", root + "/out/a.png"},
      {"/src/a.png", root + "/out\\", false, "a.png", root + "/out\\/a.png"},
      {"C:\\src\\a.png", root + "/out", false, "a.png", root + "/out/a.png"},
      {"C:/my docs/a b.png", root + "/out", false, "a b.png", root + "/out/a b.png"},
      {"a.png", root + "/out", false, "a.png", root + "/out/a.png"},
      {"/src/a.txt", root + "/img", true, "a.txt", root + "/img/ADV_OBJ/a.txt"},
      {"/src/a.txt", root + "/img/", true, "a.txt", root + "/img/ADV_OBJ/a.txt"},
  };
  for (const auto& c : cases) {
    Checked r = Check(c.input, c.output, kNonProtected, true, c.forDisc);
    EXPECT_TRUE(r.go) << c.input << " -> " << c.output << ": " << r.printed;
    EXPECT_EQ(r.printed, "") << c.input;
    EXPECT_EQ(Text(r.name), c.name) << c.input;
    EXPECT_EQ(Text(r.result), c.result) << c.input;
    EXPECT_EQ(Text(r.table), "0") << c.input;  // no table for this type
  }
  EXPECT_EQ(w.List(),
            (std::vector<std::string>{"img", "img/AACS", "img/AACS/CONTENT_HASH_TABLE2.AACS",
                                      "img/ADV_OBJ", "out", "out\\"}));
}

TEST(CheckOutputLocationPaths, DecapsulationNeverAddsTheDiscFolder) {
  Workspace w;
  w.MakeFolder("out");
  const std::string derived = "/some/derived/AACS/CONTENT_HASH_TABLE2.AACS";
  Checked r = Check("/img/ADV_OBJ/a.xml", w.Path("out").string(), kHash, false, true, derived);
  EXPECT_TRUE(r.go);
  EXPECT_EQ(Text(r.result), w.Path("out").string() + "/a.xml");
  EXPECT_EQ(Text(r.table), derived);  // left as it was
}

TEST(CheckOutputLocationPaths, TablePathForHashedEncapsulations) {
  Workspace w;
  MakeDiscImage(w, "img");
  const std::string img = w.Path("img").string();
  for (ContainerType type : {ContainerType::kEncryptionHash, kHash}) {
    for (const std::string& output : {img, img + "/"}) {
      Checked r = Check("/src/a.xml", output, type, true, true);
      EXPECT_TRUE(r.go) << r.printed;
      EXPECT_EQ(Text(r.table), img + "/AACS/CONTENT_HASH_TABLE2.AACS");
      EXPECT_EQ(Text(r.result), img + "/ADV_OBJ/a.xml");
    }
  }
}

TEST(CheckOutputLocationChecks, SameFileByTextIgnoresCaseAndSeparatorKind) {
  struct {
    std::string input;
    std::string output;
  } cases[] = {
      {"/x/img/ADV_OBJ/a.xml", "/x/img"},
      {"/x/IMG/adv_obj/A.XML", "/x/img"},
      {"\\x\\img\\ADV_OBJ\\a.xml", "\\x\\img"},
      {"/x/img/ADV_OBJ/a.xml", "/x/img/"},
  };
  for (const auto& c : cases) {
    Checked r = Check(c.input, c.output, kNonProtected, true, true);
    EXPECT_FALSE(r.go) << c.input;
    EXPECT_EQ(r.printed, kSameFile) << c.input;
    EXPECT_EQ(Text(r.result), "0");
    EXPECT_EQ(Text(r.name), "0");
    EXPECT_EQ(Text(r.table), "0");
  }
}

TEST(CheckOutputLocationChecks, NameLengthIsCheckedFirst) {
  const std::string tooLong =
      "\n   ERROR:   El nom del fitxer \xE9s massa llarg: com a m\xE0xim pot tenir 267 car\xE0"
      "cters.\n\n\n\n";
  Checked r = Check(std::string(268, 'n'), "", kNonProtected, true, false);
  EXPECT_FALSE(r.go);
  EXPECT_EQ(r.printed, tooLong);
  r = Check("\\" + std::string(268, 'n'), "/nowhere", kHash, true, true);
  EXPECT_EQ(r.printed, tooLong);
  // 267 bytes pass the name check; the composed path is then too long.
  r = Check(std::string(267, 'n'), "/nowhere", kNonProtected, true, false);
  EXPECT_EQ(r.printed,
            "\n   ERROR:   La ruta \xE9s massa llarga: com a m\xE0xim pot tenir 271 car\xE0"
            "cters.\n\n\n\n");
  // ... and with an empty output the 268-byte result fits; the probe then fails.
  r = Check("a\\" + std::string(267, 'n'), "", kNonProtected, true, false);
  EXPECT_EQ(r.printed, kNoOutputFolder);
}

// The composed paths are handed back even when the probe or the table check stops the run.
TEST(CheckOutputLocationChecks, PathsAreFilledWhenTheProbeOrTableCheckStops) {
  Workspace w;
  w.MakeFolder("img/ADV_OBJ");  // no table
  const std::string img = w.Path("img").string();
  Checked noTable = Check("/src/a.xml", img, kHash, true, true);
  EXPECT_FALSE(noTable.go);
  EXPECT_EQ(noTable.printed,
            "\n   ERROR:           No s'ha trobat la taula de hash num 2 i"
            "\n                    per tant no es pot encapsular el fitxer "
            "\n                    * Ruta esperada de la taula: "
            "\n                      " +
                img + "/AACS/CONTENT_HASH_TABLE2.AACS\n\n\n\n");
  EXPECT_EQ(Text(noTable.table), img + "/AACS/CONTENT_HASH_TABLE2.AACS");
  EXPECT_EQ(Text(noTable.result), img + "/ADV_OBJ/a.xml");
  EXPECT_EQ(Text(noTable.name), "a.xml");

  Checked noFolder = Check("/src/a.txt", "/no/such/folder", kNonProtected, true, false);
  EXPECT_EQ(Text(noFolder.result), "/no/such/folder/a.txt");
  EXPECT_EQ(Text(noFolder.name), "a.txt");
}

}  // namespace
}  // namespace velador

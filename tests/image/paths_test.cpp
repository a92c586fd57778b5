// The paths both programs compose into and out of a disc image.

#include "image/paths.h"

#include <gtest/gtest.h>

namespace velador {
namespace {

struct ComposedCase {
  const char* output;
  const char* name;
  bool intoDisc;
  const char* result;
  const char* table;
};

TEST(ImagePaths, ComposeAsVeladorAlwaysHas) {
  const ComposedCase cases[] = {
      {"D:/img", "a.xml", true, "D:/img/ADV_OBJ/a.xml", "D:/img/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"D:/img/", "a.xml", true, "D:/img/ADV_OBJ/a.xml", "D:/img/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"C:/out", "a.png", false, "C:/out/a.png", "C:/out/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"D:\\img\\", "a.xml", true, "D:\\img\\/ADV_OBJ/a.xml",
       "D:\\img\\/AACS/CONTENT_HASH_TABLE2.AACS"},
      // An empty folder is the root, for both programs alike.
      {"", "a.xml", true, "/ADV_OBJ/a.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"", "a.png", false, "/a.png", "/AACS/CONTENT_HASH_TABLE2.AACS"},
  };
  for (const ComposedCase& c : cases) {
    EXPECT_EQ(ResultPathFor(c.output, c.name, c.intoDisc), c.result) << c.output;
    EXPECT_EQ(TablePathOfImage(c.output), c.table) << c.output;
  }
}

TEST(ImagePaths, DeriveTheImageOfAContainer) {
  const std::pair<const char*, const char*> cases[] = {
      {"X/disc/ADV_OBJ/menu.xml", "X/disc/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"D:\\img\\ADV_OBJ\\menu.xml", "D:\\img/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"ADV_OBJ/menu.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"menu.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"/ADV_OBJ/menu.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"},
  };
  for (const auto& [container, table] : cases) {
    EXPECT_EQ(TablePathOfContainer(container), table) << container;
  }
}

TEST(ImagePaths, FoldOnlyLettersAndSeparators) {
  EXPECT_TRUE(SamePathText("img/adv_obj/A.txt", "IMG\\ADV_OBJ/a.TXT"));
  EXPECT_FALSE(SamePathText("img/ADV_OBJ/a.txt", "img/ADV_OBJ/a.txt "));
  EXPECT_FALSE(SamePathText("\xC9.txt", "\xE9.txt")) << "only A to Z fold";
  EXPECT_TRUE(SameNameText("SAME.txt", "same.TXT"));
  EXPECT_FALSE(SameNameText("a/b", "a\\b")) << "names do not fold separators";
  EXPECT_EQ(NameOf("dir\\sub/with blank.xml"), "with blank.xml");
}

TEST(ImagePaths, NamesMatchGlobPatterns) {
  const struct {
    const char* pattern;
    const char* name;
    bool matches;
  } cases[] = {
      {"*~", "menu01.xml~", true},
      {"*~", "menu01.xml", false},
      {".*.swp", ".menu02.xml.swp", true},
      {".*.swp", "menu02.xml.swp", false},
      {"#*#", "#notes#", true},
      {"#*#", "#notes", false},
      {"Thumbs.db", "THUMBS.DB", true},
      {"?.js", "a.js", true},
      {"?.js", "ab.js", false},
      {"*", "", true},
      {"a*b*c", "aXbYbZc", true},
      {"a*b*c", "aXbYc~", false},
      {"", "", true},
      {"", "a", false},
      {"\xC9*", "\xE9t\xE9", false},
      {"**.bak", "x.bak", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NameMatchesPattern(c.pattern, c.name), c.matches) << c.pattern << " " << c.name;
  }
}

}  // namespace
}  // namespace velador

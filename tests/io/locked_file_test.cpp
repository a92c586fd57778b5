// LockedFile on its own: what each operation does to the file, and that nothing works on a path
// that is no regular file. (The lock keeping a second updater out is pinned where the table
// writer holds it, in tests/encapsulation.)

#include "io/locked_file.h"

#include <gtest/gtest.h>

#include <string>

#include "support/workspace.h"

namespace velador {
namespace {

using testing::Raw;
using testing::Workspace;

TEST(LockedFile, ReadsWritesAndCutsTheFileItHolds) {
  Workspace w;
  w.Write("table", "0123456789");
  {
    LockedFile file(w.Path("table").string());
    ASSERT_TRUE(file.IsLocked());
    EXPECT_EQ(file.Size(), 10u);
    std::uint8_t data[4] = {};
    EXPECT_TRUE(file.ReadAt(6, data, 4));
    EXPECT_EQ(std::string(data, data + 4), "6789");
    EXPECT_FALSE(file.ReadAt(8, data, 4));
    EXPECT_TRUE(file.WriteAt(8, Raw("ABCD"), 4));  // over the end: the file grows
    EXPECT_EQ(w.Read("table"), "01234567ABCD");    // unbuffered: there at once
    EXPECT_TRUE(file.Truncate(3));
    EXPECT_EQ(file.Size(), 3u);
    EXPECT_TRUE(file.Sync());
  }
  EXPECT_EQ(w.Read("table"), "012");
}

TEST(LockedFile, NothingWorksWithoutARegularFile) {
  Workspace w;
  w.MakeFolder("folder");
  for (const char* name : {"missing", "folder"}) {
    LockedFile file(w.Path(name).string());
    std::uint8_t data[1] = {};
    EXPECT_FALSE(file.IsLocked()) << name;
    EXPECT_FALSE(file.Size()) << name;
    EXPECT_FALSE(file.ReadAt(0, data, 0)) << name;
    EXPECT_FALSE(file.WriteAt(0, data, 1)) << name;
    EXPECT_FALSE(file.Truncate(0)) << name;
    EXPECT_FALSE(file.Sync()) << name;
  }
  EXPECT_FALSE(w.Exists("missing"));
}

}  // namespace
}  // namespace velador

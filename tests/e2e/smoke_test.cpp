#include <gtest/gtest.h>

#include "support/workspace.h"

namespace velador::testing {
namespace {

TEST(Smoke, RoundTripOfANonProtectedFile) {
  Workspace w;
  w.Write("key.bin", "0123456789abcdef");
  w.Write("notes.txt", "hello");
  w.MakeFolder("out");
  w.MakeFolder("back");
  ToolRun run = w.Run({"-e", "-p", "notes.txt", "out", "key.bin"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  ASSERT_TRUE(w.Exists("out/notes.txt"));
  run = w.Run({"-d", "out/notes.txt", "back", "key.bin"});
  EXPECT_EQ(w.Read("back/notes.txt"), "hello");
}

}  // namespace
}  // namespace velador::testing

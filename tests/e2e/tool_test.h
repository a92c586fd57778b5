#pragma once

// The fixture of the end-to-end tests: a workspace set up the way most runs need it, and
// short ways to run the tool and to damage the files it writes.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/expected_output.h"
#include "support/workspace.h"

// Ends the test as skipped, with `reason`, when it runs against velador.exe under wine: for the
// few cases that state what Linux makes of a file name or a start (letter case, "\" inside a
// name, trailing blanks) where Windows rightly does otherwise.
// (A loop rather than an if: the skip returns at once, and no following else can attach to it.)
#define SKIP_UNDER_WINE(reason) \
  while (::velador::testing::UnderWine()) GTEST_SKIP() << "Linux-specific: " << reason

namespace velador::testing {

// The key files "key" and "other", a disc image "img" with a fresh table, and the empty
// folders "out" and "back".
class ToolTest : public ::testing::Test {
 protected:
  ToolTest() {
    w.Write("key", expected::kKey);
    w.Write("other", expected::kOtherKey);
    MakeDiscImage(w, "img");
    w.MakeFolder("out");
    w.MakeFolder("back");
  }

  // Runs the tool, expects status 0 and nothing on standard error, answers standard output.
  std::string Out(const std::vector<std::string>& arguments) {
    ToolRun run = w.Run(arguments);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.status, 0) << "standard output:\n" << run.out;
    return run.out;
  }

  // Runs the tool and expects exactly `out` and no entry added or removed anywhere.
  void ExpectRefusal(const std::vector<std::string>& arguments, const std::string& out) {
    const std::vector<std::string> before = w.List();
    EXPECT_EQ(Out(arguments), out);
    EXPECT_EQ(w.List(), before);
  }

  Bytes Table() const { return w.Read(expected::kTablePath); }

  Workspace w;
};

template <class Param>
class ToolTestWithParam : public ToolTest, public ::testing::WithParamInterface<Param> {};

}  // namespace velador::testing

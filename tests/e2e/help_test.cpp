#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

// Every case that prints the help prints exactly the same bytes, and nothing else.
class HelpCase : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(HelpCase, PrintsExactlyTheHelp) {
  Workspace w;
  ToolRun run = w.Run(GetParam());
  EXPECT_EQ(run.out, expected::Help());
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(w.List().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Help, HelpCase,
    ::testing::Values(std::vector<std::string>{},           // no arguments (the pause is silent)
                      std::vector<std::string>{"/?"},       //
                      std::vector<std::string>{"-?"},       //
                      std::vector<std::string>{"x?"},       // first character not examined
                      std::vector<std::string>{"-?extra"},  // only the second character counts
                      std::vector<std::string>{"-e", "-d"},                  // too few to encapsulate
                      std::vector<std::string>{"-e", "-d", "in"},            //
                      std::vector<std::string>{"-e", "-p", "a", "b", "c", "d"},  // seven words
                      std::vector<std::string>{"-d", "in"},                  // too few to decapsulate
                      std::vector<std::string>{"-d", "-d", "in", "out", "key"},  // six words
                      std::vector<std::string>{"-d", "a", "b", "c", "d", "e", "f"}));

TEST(HelpText, HasFortyTwoLineEndsAndEndsWithTwo) {
  Workspace w;
  std::string out = w.Run({"/?"}).out;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 42);
  ASSERT_GE(out.size(), 2u);
  EXPECT_EQ(out.substr(out.size() - 2), "\n\n");
  EXPECT_EQ(out.front(), '\n');
  EXPECT_EQ(out.find('\t'), std::string::npos);
  EXPECT_EQ(out.find('\r'), std::string::npos);
}

TEST(HelpText, ExactlyFourLinesEndWithABlank) {
  Workspace w;
  std::string out = w.Run({"-?"}).out;
  std::vector<int> withTrailingBlank;
  int line = 1;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] != '\n') continue;
    if (i > 0 && out[i - 1] == ' ') withTrailingBlank.push_back(line);
    ++line;
  }
  EXPECT_EQ(withTrailingBlank, (std::vector<int>{23, 26, 33, 34}));
}

TEST(HelpText, FollowsTheFirstWordErrorWhenTheCountIsWrongToo) {
  Workspace w;
  EXPECT_EQ(w.Run({"-x", "a", "b"}).out, expected::kFirstWord + expected::Help());
  EXPECT_EQ(w.Run({"-x", "a", "b", "c", "d", "e"}).out, expected::kFirstWord + expected::Help());
}

}  // namespace
}  // namespace velador::testing

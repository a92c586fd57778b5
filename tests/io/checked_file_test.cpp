#include "io/checked_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/workspace.h"

namespace velador {
namespace {

using testing::Workspace;

const std::uint8_t* Bytes(const std::string& text) {
  return reinterpret_cast<const std::uint8_t*>(text.data());
}

// What stands at `relative`: its content, or "(none)".
std::string ContentAt(const Workspace& w, const std::string& relative) {
  return w.Exists(relative) ? w.Read(relative) : "(none)";
}

// A result takes the place of its path only through Commit, keeping the permission bits of the
// file it replaces; until then, and when abandoned, what stood there stays as it was. The hidden
// temporary file beside it never stays.
TEST(ResultFile, TakesThePlaceOfItsPathOnlyThroughCommit) {
  struct Case {
    const char* earlier;
    bool commit;
    const char* after;
  } cases[] = {{"(none)", true, "new"},
               {"earlier and longer", true, "new"},
               {"earlier", false, "earlier"},
               {"(none)", false, "(none)"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.earlier) + (c.commit ? ", committed" : ", abandoned"));
    Workspace w;
    const bool hadEarlier = c.earlier != std::string("(none)");
    if (hadEarlier) {
      w.Write("result.bin", c.earlier);
      ASSERT_EQ(chmod(w.Path("result.bin").c_str(), 0640), 0);
    }
    {
      ResultFile result(w.Path("result.bin").string());
      result.Write(Bytes("new"), 3);
      EXPECT_EQ(w.List().size(), hadEarlier ? 2u : 1u);  // and the temporary file
      EXPECT_EQ(ContentAt(w, "result.bin"), c.earlier);
      if (c.commit) result.Commit();
    }
    EXPECT_EQ(ContentAt(w, "result.bin"), c.after);
    EXPECT_EQ(w.List().size(), c.after == std::string("(none)") ? 0u : 1u);
    struct stat info {};
    if (hadEarlier && stat(w.Path("result.bin").c_str(), &info) == 0) {
      EXPECT_EQ(info.st_mode & 0777, 0640u);
    }
  }
}

TEST(ResultFile, MissingFolderIsAnOutputFailure) {
  Workspace w;
  EXPECT_THROW(ResultFile(w.Path("no/such/folder/result.bin").string()), OutputFailure);
}

// The copy goes through the system where it can; writes before and after it, and rewrites of
// bytes already written, land where they belong. Every byte copied counts as read, so that a
// progress line follows a copy the system makes as well as one through memory.
TEST(CopyRange, AppendsTheRangeBetweenOrdinaryWrites) {
  Workspace w;
  const testing::Bytes content = testing::SampleContent(3 * kChunkLength + 100, 5);
  w.Write("input.bin", content);
  ByteCounter counter;
  InputFile input(w.Path("input.bin").string(), &counter);
  {
    ResultFile result(w.Path("result.bin").string());
    result.Write(Bytes("head"), 4);
    CopyRange(input, 7, content.size() - 7, result);
    CopyRange(input, 0, 0, result);
    EXPECT_EQ(counter.Bytes(), content.size() - 7);
    result.Write(Bytes("tail"), 4);
    EXPECT_EQ(result.Size(), 4 + content.size() - 7 + 4);
    result.WriteAt(1, Bytes("EA"), 2);
    result.Write(Bytes("!"), 1);
    EXPECT_THROW(result.WriteAt(result.Size() - 1, Bytes("xy"), 2), OutputFailure);
    result.Commit();
  }
  EXPECT_TRUE(w.Read("result.bin") == "hEAd" + content.substr(7) + "tail!");
  ResultFile result(w.Path("other.bin").string());
  EXPECT_THROW(CopyRange(input, 8, content.size() - 7, result), InputFailure);
}

TEST(InputFile, ReadsExactlyWhatTheFileHolds) {
  Workspace w;
  w.Write("input.bin", "0123456789");
  ByteCounter counter;
  InputFile input(w.Path("input.bin").string(), &counter);
  w.Write("input.bin", "0123456789 and more");  // grown after opening: not part of the input
  EXPECT_EQ(input.Size(), 10u);
  std::uint8_t data[4] = {};
  input.ReadAt(6, data, 4);
  EXPECT_EQ(std::string(data, data + 4), "6789");
  input.ReadAt(0, data, 4);
  EXPECT_EQ(std::string(data, data + 4), "0123");
  EXPECT_FALSE(input.TryReadAt(8, data, 3));
  EXPECT_THROW(input.ReadAt(7, data, 4), InputFailure);
  EXPECT_THROW(input.ReadAt(10, data, 1), InputFailure);
  EXPECT_THROW(input.ReadAt(11, data, 0), InputFailure);
  EXPECT_THROW(input.ReadAt(UINT64_MAX, data, 1), InputFailure);
  // Only the bytes read count, and only in the counter this file was given.
  InputFile uncounted(w.Path("input.bin").string());
  uncounted.ReadAt(0, data, 4);
  EXPECT_EQ(counter.Bytes(), 8u);
}

TEST(InputFile, OnlyARegularFileOpens) {
  Workspace w;
  w.MakeFolder("folder");
  EXPECT_THROW(InputFile(w.Path("missing").string()), InputFailure);
  EXPECT_THROW(InputFile(w.Path("folder").string()), InputFailure);
  ASSERT_EQ(mkfifo(w.Path("fifo").c_str(), 0600), 0);
  EXPECT_THROW(InputFile(w.Path("fifo").string()), InputFailure);  // would block if opened
}

TEST(FolderOf, KeepsEverythingUpToTheLastSeparatorOfEitherKind) {
  struct Case {
    const char* path;
    const char* folder;
  } cases[] = {
      {"a/b/c.png", "a/b/"}, {"a\\b\\c.png", "a\\b\\"}, {"a\\b/c.png", "a\\b/"},
      {"c.png", ""},         {"/c.png", "/"},           {"C:/out/", "C:/out/"},
  };
  for (const Case& c : cases) EXPECT_EQ(FolderOf(c.path), c.folder) << c.path;
}

}  // namespace
}  // namespace velador

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

TEST(ResultFile, AppearsOnlyWhenCommitted) {
  Workspace w;
  std::string path = w.Path("result.bin").string();
  {
    ResultFile result(path);
    result.Write(Bytes("content"), 7);
    EXPECT_EQ(w.List().size(), 1u);  // the hidden temporary file alone
    EXPECT_FALSE(w.Exists("result.bin"));
    result.Commit();
  }
  EXPECT_EQ(w.Read("result.bin"), "content");
  EXPECT_EQ(w.List(), std::vector<std::string>{"result.bin"});
}

TEST(ResultFile, AbandonedResultLeavesTheEarlierFileAndNoTemporary) {
  Workspace w;
  w.Write("result.bin", "earlier");
  {
    ResultFile result(w.Path("result.bin").string());
    result.Write(Bytes("partial"), 7);
  }
  EXPECT_EQ(w.Read("result.bin"), "earlier");
  EXPECT_EQ(w.List(), std::vector<std::string>{"result.bin"});
}

TEST(ResultFile, CommitReplacesTheEarlierFileAndKeepsItsPermissions) {
  Workspace w;
  w.Write("result.bin", "earlier and longer");
  ASSERT_EQ(chmod(w.Path("result.bin").c_str(), 0640), 0);
  {
    ResultFile result(w.Path("result.bin").string());
    result.Write(Bytes("new"), 3);
    result.Commit();
  }
  EXPECT_EQ(w.Read("result.bin"), "new");
  struct stat info {};
  ASSERT_EQ(stat(w.Path("result.bin").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST(ResultFile, MissingFolderIsAnOutputFailure) {
  Workspace w;
  EXPECT_THROW(ResultFile(w.Path("no/such/folder/result.bin").string()), OutputFailure);
}

TEST(InputFile, ReadsExactlyWhatTheFileHolds) {
  Workspace w;
  w.Write("input.bin", "0123456789");
  InputFile input(w.Path("input.bin").string());
  EXPECT_EQ(input.Size(), 10u);
  std::uint8_t data[4] = {};
  input.ReadAt(6, data, 4);
  EXPECT_EQ(std::string(data, data + 4), "6789");
  input.ReadAt(0, data, 4);
  EXPECT_EQ(std::string(data, data + 4), "0123");
  EXPECT_FALSE(input.TryReadAt(8, data, 3));
  EXPECT_THROW(input.ReadAt(7, data, 4), InputFailure);
  EXPECT_THROW(input.ReadAt(11, data, 0), InputFailure);
  EXPECT_THROW(input.ReadAt(UINT64_MAX, data, 1), InputFailure);
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

// The readers of an image: a disc image file read through its file system gives the very entries
// and bytes of the folder it was mastered from, from any offset and from two threads at once,
// and bytes that hold no such file system, or a file cut short anywhere, are refused or fail
// their reads, never more.

#include "image/image_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "support/disc_image_file.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

// Sizes about the file system's 2048-byte blocks, and one past a few hundred of them.
const std::map<std::string, std::size_t> kFiles = {
    {"empty.txt", 0},    {"one.xml", 1},    {"block.js", 2048},
    {"short.png", 2047}, {"over.js", 2049}, {"long name of a file.xml", 300001},
};

class InMemory final : public ReadableBytes {
 public:
  explicit InMemory(Bytes bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t Size() const override { return bytes_.size(); }
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
    std::copy_n(bytes_.data() + offset, count, data);
    return true;
  }

 private:
  Bytes bytes_;
};

class ImageFileReading : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& [name, size] : kFiles) w.Write("img/ADV_OBJ/" + name, SampleContent(size, 3));
    w.Write("img/AACS/CONTENT_HASH_TABLE2.AACS", SampleContent(40060, 4));
    w.MakeFolder("img/ADV_OBJ/sub");
    std::string why;
    if (!MasterDiscImageFile(w.Path("img"), w.Path("disc.udf"), why)) GTEST_SKIP() << why;
  }

  std::string P(const std::string& relative) const { return w.Path(relative).string(); }

  Bytes ReadWhole(const ImageReader& reader, const std::string& path, std::size_t piece) {
    const std::unique_ptr<InputFile> file = reader.Open(path, nullptr, 0);
    Bytes bytes(static_cast<std::size_t>(file->Size()), '\0');
    for (std::size_t at = 0; at < bytes.size(); at += piece) {
      const std::size_t count = std::min(piece, bytes.size() - at);
      file->ReadAt(at, reinterpret_cast<std::uint8_t*>(bytes.data() + at), count);
    }
    return bytes;
  }

  Workspace w;
};

TEST_F(ImageFileReading, GivesTheEntriesAndBytesOfTheFolderItWasMadeFrom) {
  if (!ReadsImageFiles()) GTEST_SKIP() << "this build reads no image files";
  ImageFileProblem problem = ImageFileProblem::kUnreadable;
  const std::unique_ptr<ImageReader> reader = OpenImageFile(P("disc.udf"), problem);
  ASSERT_EQ(problem, ImageFileProblem::kNone);
  ASSERT_TRUE(reader);
  EXPECT_TRUE(reader->InFile());
  const std::string root = P("disc.udf");
  auto names = reader->Entries(root + "/ADV_OBJ", 0);
  ASSERT_TRUE(names.has_value());
  std::sort(names->begin(), names->end());
  auto folderNames = FolderImageReader().Entries(P("img/ADV_OBJ"), 0);
  std::sort(folderNames->begin(), folderNames->end());
  EXPECT_EQ(*names, *folderNames);
  EXPECT_EQ(reader->KindOf(root), ImageEntryKind::kFolder);
  EXPECT_EQ(reader->KindOf(root + "/ADV_OBJ"), ImageEntryKind::kFolder);
  EXPECT_EQ(reader->KindOf(root + "/ADV_OBJ/sub"), ImageEntryKind::kFolder);
  EXPECT_EQ(reader->KindOf(root + "/ADV_OBJ/none"), ImageEntryKind::kNone);
  EXPECT_EQ(reader->KindOf(root + "/NONE/x"), ImageEntryKind::kNone);
  EXPECT_EQ(reader->KindOf(root + "x/ADV_OBJ"), ImageEntryKind::kNone);
  EXPECT_EQ(reader->KindOf(root + "/AACS/CONTENT_HASH_TABLE2.AACS"), ImageEntryKind::kFile);
  EXPECT_FALSE(reader->Entries(root + "/ADV_OBJ/one.xml", 0).has_value());
  EXPECT_THROW(reader->Open(root + "/ADV_OBJ/sub", nullptr, 0), InputFailure);
  EXPECT_THROW(reader->Open(root + "/ADV_OBJ/none", nullptr, 0), InputFailure);
  for (const auto& [name, size] : kFiles) {
    const Bytes expected = w.Read("img/ADV_OBJ/" + name);
    for (const std::size_t piece : {std::size_t{1} << 20, std::size_t{777}}) {
      EXPECT_EQ(ReadWhole(*reader, root + "/ADV_OBJ/" + name, piece), expected) << name;
    }
    // Nothing past the end, from anywhere.
    const std::unique_ptr<InputFile> file = reader->Open(root + "/ADV_OBJ/" + name, nullptr, 0);
    std::uint8_t byte = 0;
    EXPECT_FALSE(file->TryReadAt(size, &byte, 1));
  }
  EXPECT_EQ(ReadWhole(*reader, root + "\\AACS\\CONTENT_HASH_TABLE2.AACS", 4096),
            w.Read("img/AACS/CONTENT_HASH_TABLE2.AACS"));
}

TEST_F(ImageFileReading, TwoThreadsReadTwoFilesAtOnce) {
  if (!ReadsImageFiles()) GTEST_SKIP() << "this build reads no image files";
  ImageFileProblem problem = ImageFileProblem::kUnreadable;
  const std::unique_ptr<ImageReader> reader = OpenImageFile(P("disc.udf"), problem);
  ASSERT_TRUE(reader);
  const std::string first = P("disc.udf/ADV_OBJ/long name of a file.xml");
  const std::string second = P("disc.udf/AACS/CONTENT_HASH_TABLE2.AACS");
  Bytes firstRead, secondRead;
  std::thread other([&] { firstRead = ReadWhole(*reader, first, 1000); });
  secondRead = ReadWhole(*reader, second, 999);
  other.join();
  EXPECT_EQ(firstRead, w.Read("img/ADV_OBJ/long name of a file.xml"));
  EXPECT_EQ(secondRead, w.Read("img/AACS/CONTENT_HASH_TABLE2.AACS"));
}

TEST_F(ImageFileReading, AFileThatClaimsMoreThanTheImageHoldsIsNotOpened) {
  if (!ReadsImageFiles()) GTEST_SKIP() << "this build reads no image files";
  // The file entry (tag 261) of "long name of a file.xml" made to claim a tebibyte: its
  // information length, 8 bytes at offset 56.
  Bytes disc = w.Read("disc.udf");
  std::size_t patched = 0;
  for (std::size_t at = 0; at + 2048 <= disc.size(); at += 2048) {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(disc[at + i]); };
    std::uint64_t length = 0;
    for (int i = 7; i >= 0; --i) length = length << 8 | byte(56 + i);
    if ((byte(0) | byte(1) << 8) != 261 || length != 300001) continue;
    disc[at + 56 + 5] = 1;  // 2^40 and the rest
    ++patched;
  }
  ASSERT_EQ(patched, 1u);
  ImageFileProblem problem = ImageFileProblem::kUnreadable;
  const std::unique_ptr<ImageReader> reader =
      OpenImageBytes("x", std::make_unique<InMemory>(disc), problem);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->KindOf("x/ADV_OBJ/long name of a file.xml"), ImageEntryKind::kFile);
  EXPECT_THROW(reader->Open("x/ADV_OBJ/long name of a file.xml", nullptr, 0), InputFailure);
  EXPECT_EQ(ReadWhole(*reader, "x/ADV_OBJ/over.js", 4096), w.Read("img/ADV_OBJ/over.js"));
}

TEST_F(ImageFileReading, BytesWithoutAFileSystemOrCutShortAreRefusedOrFailTheirReads) {
  if (!ReadsImageFiles()) {
    ImageFileProblem problem = ImageFileProblem::kNone;
    EXPECT_FALSE(OpenImageFile(P("disc.udf"), problem));
    EXPECT_EQ(problem, ImageFileProblem::kUnsupported);
    return;
  }
  for (const Bytes& noUdf : {Bytes(), Bytes(1 << 20, '\0'), SampleContent(600000, 9)}) {
    ImageFileProblem problem = ImageFileProblem::kNone;
    EXPECT_FALSE(OpenImageBytes("x", std::make_unique<InMemory>(noUdf), problem));
    EXPECT_EQ(problem, ImageFileProblem::kNoUdf);
  }
  const Bytes whole = w.Read("disc.udf");
  for (std::size_t length = 0; length < whole.size(); length += 24 * 1024 + 1) {
    ImageFileProblem problem = ImageFileProblem::kNone;
    const std::unique_ptr<ImageReader> reader =
        OpenImageBytes("x", std::make_unique<InMemory>(whole.substr(0, length)), problem);
    if (!reader) {
      EXPECT_EQ(problem, ImageFileProblem::kNoUdf) << length;
      continue;
    }
    const auto names = reader->Entries("x/ADV_OBJ", 0);
    for (const std::string& name : names.value_or(std::vector<std::string>{})) {
      try {
        const Bytes read = ReadWhole(*reader, "x/ADV_OBJ/" + name, 5000);
        EXPECT_EQ(read, w.Read("img/ADV_OBJ/" + name)) << name << " cut at " << length;
      } catch (const InputFailure&) {
        // cut off: the read fails, as a read of a file cut short does
      }
    }
  }
}

}  // namespace
}  // namespace velador::testing

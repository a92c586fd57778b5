// The batch add as a library: what it refuses beyond velador's checks, what replacing a file
// reports, and the files a table cannot take, which stay out of the image.

#include "image/add.h"

#include <filesystem>

#include "image/check.h"
#include "image/image_fixture.h"

namespace velador::testing {
namespace {

class ImageAddition : public ImageFixture {
 protected:
  ImageAdd Add(const std::vector<std::string>& inputs, AddOptions options,
               ImageAddError expected = ImageAddError::kNone) {
    ImageAdd add;
    EXPECT_EQ(AddToImage(P("img"), options, inputs, {}, add), expected);
    return add;
  }

  // menu.xml (Hash) and anim.js (Encryption-and-Hash) in the image, then both sources edited.
  void AddMenuAndAnimThenEditThem() {
    w.Write("src/menu.xml", "<menu/>\n");
    w.Write("src/anim.js", SampleContent(1500, 4));
    AddAll({"menu.xml", "anim.js"});
    w.Write("src/menu.xml", "<menu edited/>\n");
    w.Write("src/anim.js", SampleContent(1200, 6));
  }
};

// A name that has a container already is refused, naming it; with replace the container is
// replaced and the entries the earlier one named are counted as left unused.
TEST_F(ImageAddition, ReplacesAFileOnlyWhenAskedAndCountsTheEntriesLeftUnused) {
  w.Write("src/anim.js", SampleContent(3000, 4));  // 7 units
  AddAll({"anim.js"});
  const Bytes first = w.Read("img/ADV_OBJ/anim.js");
  w.Write("src/anim.js", SampleContent(2000, 5));  // edited: 5 units

  const ImageAdd refused = Add({P("src/anim.js")}, AddOptions{P("key"), false});
  ASSERT_EQ(refused.files.size(), 1u);
  EXPECT_EQ(refused.files[0].reason, AddReason::kExists);
  EXPECT_EQ(refused.files[0].result, P("img/ADV_OBJ/anim.js"));
  EXPECT_FALSE(refused.files[0].added);
  EXPECT_EQ(w.Read("img/ADV_OBJ/anim.js"), first);
  EXPECT_TRUE(refused.NeedsAttention());

  const ImageAdd replaced = Add({P("src/anim.js")}, AddOptions{P("key"), true});
  ASSERT_TRUE(replaced.files[0].Complete());
  EXPECT_TRUE(replaced.files[0].replaced);
  EXPECT_EQ(replaced.files[0].entriesLeftUnused, 7u);
  EXPECT_EQ(replaced.files[0].firstEntry, 8u);
  EXPECT_EQ(replaced.files[0].lastEntry, 12u);
  EXPECT_NE(w.Read("img/ADV_OBJ/anim.js"), first);
}

// The key is read once for the whole batch: no file of it may take the key file's place, of
// whatever type, or the files enciphered under it would be left without a key.
TEST_F(ImageAddition, NoFileOfTheBatchReplacesTheKey) {
  w.Write("img/ADV_OBJ/k.xml", w.Read("key"));
  w.Write("src/p.png", SampleContent(100, 1));
  w.Write("src/k.xml", "<k/>\n");
  const ImageAdd add =
      Add({P("src/p.png"), P("src/k.xml")}, AddOptions{P("img/ADV_OBJ/k.xml"), true});
  EXPECT_TRUE(add.files[0].Complete());
  EXPECT_EQ(add.files[1].reason, AddReason::kSameFile);
  EXPECT_EQ(w.Read("img/ADV_OBJ/k.xml"), w.Read("key"));
}

// A table with room for one entry: the Hash file gets it, the Encryption-and-Hash file after it
// (7 entries) is not put in place, and the table keeps only the Hash file's entry.
TEST_F(ImageAddition, AFileTheTableCannotTakeStaysOut) {
  constexpr std::uint32_t kCounter = table::kFullCounter - 1;
  {
    // A sparse file: the length rule holds without writing 32 GiB.
    std::filesystem::resize_file(w.Path(kTable), table::LengthFor(kCounter));
    Bytes counter = Number(kCounter);
    std::FILE* file = std::fopen(P(kTable).c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    std::fseek(file, static_cast<long>(table::kCounterOffset), SEEK_SET);
    std::fwrite(counter.data(), 1, 4, file);
    std::fclose(file);
  }
  w.Write("src/menu.xml", "<menu/>\n");
  w.Write("src/anim.js", SampleContent(3000, 4));
  const ImageAdd add = Add({P("src/menu.xml"), P("src/anim.js")}, AddOptions{P("key"), false});
  EXPECT_TRUE(add.files[0].Complete());
  EXPECT_EQ(add.files[0].firstEntry, table::kFullCounter);
  EXPECT_FALSE(add.files[1].added);
  EXPECT_EQ(add.files[1].reason, AddReason::kTableFull);
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/anim.js"));
  EXPECT_EQ(std::filesystem::file_size(w.Path(kTable)), table::LengthFor(table::kFullCounter));
}

// Each file of a batch is one transaction of its own: killed, interrupted or the power cut at
// any point of adding a Hash, an Encryption-and-Hash, an Encryption and a plain file (the first
// two replacing earlier ones), the next run that locks the table finds the image before or after.
TEST_F(ImageAddition, EachFileIsCompleteOrAbsentAfterAStopAtAnyPoint) {
  AddMenuAndAnimThenEditThem();
  w.Write("src/logo.png", SampleContent(700, 5));
  w.Write("src/notes.txt", "notes\n");
  for (const char* name : {"menu.xml", "anim.js", "logo.png", "notes.txt"}) {
    SCOPED_TRACE(name);
    const std::vector<std::string> inputs{P(std::string("src/") + name)};
    // What it tells an interrupt is true whenever one comes.
    ExpectEveryStopLeavesBeforeOrAfter(
        [&] {
          SayOnInterrupt(kSaysBefore);
          ImageAddEvents events;
          events.settled = [](const AddedFile& file) {
            if (file.added) SayOnInterrupt(kSaysAfter);
          };
          ImageAdd add;
          (void)AddToImage(P("img"), AddOptions{P("key"), true}, inputs, events, add);
        },
        {CountingFaults::Action::kKill, CountingFaults::Action::kInterrupt,
         CountingFaults::Action::kPowerCut});
  }
}

// A close that reports a failure once the replacing container was renamed into place (as network
// file systems do) takes nothing back: the file counts as added and the table keeps the entries
// it names. A close that fails before, the record's own, leaves the image as it was. Either way
// the next file of the batch takes numbers no container names yet.
TEST_F(ImageAddition, AFailedCloseNeverUndoesWhatStandsInPlace) {
  AddMenuAndAnimThenEditThem();
  const std::vector<std::string> inputs{P("src/menu.xml"), P("src/anim.js")};
  const auto add = [&] {
    ImageAdd added;
    (void)AddToImage(P("img"), AddOptions{P("key"), true}, inputs, {}, added);
    return added;
  };
  const Tree before = TreeOf();
  CountingFaults faults;
  faults.Arm(0);
  add();
  const std::vector<CountingFaults::Point> seen = faults.PointsSeen();
  faults.Disarm();
  const Tree after = TreeOf();
  // The two files are written side by side, so which point is which differs from run to run:
  // every point a close may fall on is tried, and each faulted run says by its own trace whether
  // the close it failed came right after a rename on the thread that made it.
  int closesAfterRename = 0;
  for (std::size_t point = 1; point <= seen.size(); ++point) {
    SCOPED_TRACE("fault at point " + std::to_string(point));
    Restore(before);
    faults.Arm(point);
    const ImageAdd outcome = add();
    const bool afterRename =
        faults.FailedPoint() == CountingFaults::Point::kClose &&
        faults.PreviousOnItsThread(point) == CountingFaults::Point::kResultRename;
    faults.Disarm();
    if (afterRename) {
      ++closesAfterRename;
      EXPECT_TRUE(TreeOf() == after);
      for (const AddedFile& file : outcome.files) EXPECT_TRUE(file.added) << file.input;
    }
    // Whatever failed, a check finds every container the image holds accepted.
    ImageCheck check;
    ASSERT_EQ(CheckImage(P("img"), P("key"), {}, check), ImageCheckError::kNone);
    for (const CheckedFile& file : check.files) {
      EXPECT_EQ(file.verdict, FileVerdict::kAccepted) << file.name;
    }
  }
  EXPECT_GE(closesAfterRename, 1);
}

}  // namespace
}  // namespace velador::testing

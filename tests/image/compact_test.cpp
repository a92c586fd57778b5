// Compacting and removing as a library: the table renumbered to exactly what the containers
// name, no verdict changed on an image damaged every way it can be, nothing written the second
// time, and a run killed at any point of the change completed or undone by the next one.

#include "image/compact.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "image/build.h"
#include "image/check.h"
#include "image/image_fixture.h"
#include "image/transaction.h"
#include "platform/platform.h"
#include "support/counting_faults.h"

namespace velador::testing {
namespace {

class ImageCompaction : public ImageFixture {
 protected:
  // menu.xml: entry 1; anim.js: 7 units; logo.png, notes.txt: no entries; extra.xml; then
  // anim.js replaced by a 5-unit one, which leaves its first 7 entries orphaned.
  ImageCompaction() {
    w.Write(kTable, SampleContent(40056, 9) + Bytes(4, '\0'));  // a head of its own, kept
    w.Write("src/menu.xml", "<menu/>\n");
    w.Write("src/anim.js", SampleContent(3000, 4));
    w.Write("src/logo.png", SampleContent(700, 5));
    w.Write("src/notes.txt", "notes\n");
    w.Write("src/extra.xml", "<extra/>\n");
    AddAll({"menu.xml", "anim.js", "logo.png", "notes.txt", "extra.xml"});
    w.Write("src/anim.js", SampleContent(2000, 6));
    AddAll({"anim.js"}, true);
  }

  ImageCheck Check() {
    ImageCheck check;
    EXPECT_EQ(CheckImage(P("img"), P("key"), {}, check), ImageCheckError::kNone);
    return check;
  }

  // Each file's verdict, reason, the unit it concerns, and how many of its units mismatch,
  // carry 0 or name an entry past the counter, by name.
  using Verdict = std::tuple<FileVerdict, FileReason, std::uint64_t, std::uint64_t, std::uint64_t,
                             std::uint64_t>;
  static std::map<std::string, Verdict> Verdicts(const ImageCheck& check) {
    std::map<std::string, Verdict> verdicts;
    for (const CheckedFile& file : check.files) {
      verdicts[file.name] = {file.verdict,         file.reason,      file.unit,
                             file.mismatchedUnits, file.zeroNumbers, file.pastCounterNumbers};
    }
    return verdicts;
  }

  ImageCompact Compact() {
    ImageCompact compact;
    EXPECT_EQ(CompactImage(P("img"), {}, compact), ImageChangeError::kNone);
    return compact;
  }
};

TEST_F(ImageCompaction, DropsOrphansAndKeepsEveryVerdictAndTheHead) {
  const Bytes head = Table().substr(0, 40056);
  ASSERT_EQ(Check().table.orphans, 7u);
  const ImageCompact compact = Compact();
  EXPECT_EQ(compact.orphansDropped, 7u);
  EXPECT_EQ(compact.counterBefore, 14u);
  EXPECT_EQ(compact.counterAfter, 7u) << "anim.js 1-5, extra.xml 6, menu.xml 7";
  const ImageCheck after = Check();
  EXPECT_EQ(after.table.Count(after.files), 0);
  EXPECT_FALSE(after.NeedsAttention());
  EXPECT_EQ(Table().substr(0, 40056), head);
  EXPECT_EQ(Table().size(), 40060u + 7u * 8u);
}

// Every kind of damage at once: compacting changes no file's verdict, reason or unit.
TEST_F(ImageCompaction, ChangesNoVerdictOnADamagedImage) {
  w.Write("img/ADV_OBJ/menu2.xml", w.Read("img/ADV_OBJ/menu.xml"));  // shares menu's entry
  SetTrailerNumber("anim.js", 0, 999);                               // past the counter
  SetTrailerNumber("anim.js", 2, 0);                                 // carries 0
  w.FlipBits(kTable, 40060 + 8 * (14 - 1), 1);                       // anim.js's last entry differs
  w.FlipBits("img/ADV_OBJ/logo.png", 400, 2);                        // a changed body
  const ImageCheck before = Check();
  const ImageCompact compact = Compact();
  EXPECT_EQ(compact.copiesMade, 1u);
  const ImageCheck after = Check();
  EXPECT_EQ(Verdicts(after), Verdicts(before));
  EXPECT_EQ(after.table.orphans, 0u);
  EXPECT_EQ(after.table.shared, 0u) << "each naming got its own copy";
}

// A trailer is read a piece at a time (16,384 numbers) each time the compaction walks it: a
// container of more units than that, renumbered, with a number past the counter and one of 0
// on either side of a piece's end, keeps its verdict, and every unit its entry.
TEST_F(ImageCompaction, RenumbersATrailerLongerThanOnePiece) {
  w.Write("src/big.js", SampleContent((16384 + 100) * 512, 8));
  AddAll({"big.js"});
  SetTrailerNumber("big.js", 99, 0);          // the first number of the second piece
  SetTrailerNumber("big.js", 100, 99999999);  // the last of the first: past the counter
  const ImageCheck before = Check();
  const ImageCompact compact = Compact();
  const auto big = std::find_if(compact.files.begin(), compact.files.end(),
                                [](const CompactedFile& file) { return file.name == "big.js"; });
  ASSERT_NE(big, compact.files.end());
  ASSERT_GT(big->numbers, 16384u);
  EXPECT_EQ(compact.orphansDropped, 7u + 2u);
  EXPECT_EQ(compact.counterAfter, 5u + (big->numbers - 2) + 2u);
  const ImageCheck after = Check();
  EXPECT_EQ(Verdicts(after), Verdicts(before));
  EXPECT_EQ(std::get<3>(Verdicts(after)["big.js"]), 2u) << "the two numbers set above alone";
  EXPECT_EQ(after.table.orphans, 0u);
}

TEST_F(ImageCompaction, WritesNothingTheSecondTime) {
  Compact();
  const auto tree = TreeOf();
  const ImageCompact again = Compact();
  for (const CompactedFile& file : again.files) EXPECT_FALSE(file.rewritten) << file.name;
  EXPECT_EQ(TreeOf(), tree);
}

// Authors keep snapshots of an image with hard links (cp -al): every change leaves each byte of
// the snapshot as it was, and makes of the image exactly what it makes without one.
TEST_F(ImageCompaction, EveryChangeLeavesASnapshotMadeWithHardLinksAsItWas) {
  w.Write("src/extra.xml", "<extra edited/>\n");
  const auto ignoreOutcome = [](auto) {};
  const std::vector<std::pair<std::string, std::function<void()>>> changes{
      {"compact",
       [&] {
         ImageCompact compact;
         ignoreOutcome(CompactImage(P("img"), {}, compact));
       }},
      {"remove",
       [&] {
         ImageCompact removal;
         ignoreOutcome(RemoveFromImage(P("img"), {"menu.xml"}, {}, removal));
       }},
      {"add --replace",
       [&] {
         ImageAdd add;
         ignoreOutcome(
             AddToImage(P("img"), AddOptions{P("key"), true}, {P("src/extra.xml")}, {}, add));
       }},
      {"build",
       [&] {
         ImageBuild build;
         ignoreOutcome(
             BuildImage(P("src"), P("img"), BuildOptions{.keyPath = P("key")}, {}, build));
       }},
  };
  const Tree before = TreeOf();
  const auto restoreWithSnapshot = [&] {
    std::filesystem::remove_all(w.Path("snap"));
    Restore(before);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(w.Path("img"))) {
      const auto copy = w.Path("snap") / entry.path().lexically_relative(w.Path("img"));
      if (entry.is_directory()) {
        std::filesystem::create_directories(copy);
      } else {
        std::filesystem::create_directories(copy.parent_path());
        std::filesystem::create_hard_link(entry.path(), copy);
      }
    }
  };
  for (const auto& [name, change] : changes) {
    SCOPED_TRACE(name);
    std::filesystem::remove_all(w.Path("snap"));
    Restore(before);
    change();
    const Tree after = TreeOf();
    ASSERT_FALSE(after == before);
    restoreWithSnapshot();
    CountingFaults faults;
    faults.Arm(0);
    change();
    const std::uint64_t points = faults.PointsPassed();
    faults.Disarm();
    EXPECT_TRUE(TreeOf("snap") == before);
    EXPECT_TRUE(TreeOf() == after);
    // Copies made and renamed, records written and sealed: a failure at any step leaves the
    // snapshot alone, and the image as before or as after once the next run has locked it.
    for (std::uint64_t point = 1; point <= points; ++point) {
      SCOPED_TRACE(point);
      restoreWithSnapshot();
      faults.Arm(point);
      change();
      faults.Disarm();
      { const LockedHashTable next(P(kTable)); }
      EXPECT_TRUE(TreeOf("snap") == before);
      const Tree tree = TreeOf();
      EXPECT_TRUE(tree == before || tree == after);
    }
  }
}

TEST_F(ImageCompaction, RemovesFilesWithTheirEntriesInOneStep) {
  ImageCompact removal;
  ASSERT_EQ(RemoveFromImage(P("img"), {"anim.js", "notes.txt"}, {}, removal),
            ImageChangeError::kNone);
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/anim.js"));
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/notes.txt"));
  EXPECT_EQ(removal.counterAfter, 2u);
  const ImageCheck after = Check();
  EXPECT_FALSE(after.NeedsAttention());
  EXPECT_EQ(after.files.size(), 3u);
  // A name the image lacks refuses the whole removal.
  const auto tree = TreeOf();
  ImageCompact refused;
  EXPECT_EQ(RemoveFromImage(P("img"), {"menu.xml", "missing.txt"}, {}, refused),
            ImageChangeError::kNotInImage);
  EXPECT_EQ(TreeOf(), tree);
}

// Killed outright, interrupted (Ctrl-C, with the cleanup the programs install) or the power
// cut at each point of a removal with its compaction, or of a compaction alone, then the next
// run that locks the table: the image is exactly the one before or the one after.
TEST_F(ImageCompaction, StoppedAtAnyPointIsCompletedOrUndoneByTheNextRun) {
  const auto before = TreeOf();
  // What each tells an interrupt is true whenever one comes.
  ImageChangeEvents events;
  events.committed = [] { SayOnInterrupt(kSaysAfter); };
  const std::function<void()> remove = [&] {
    SayOnInterrupt(kSaysBefore);
    ImageCompact removal;
    (void)RemoveFromImage(P("img"), {"notes.txt"}, events, removal);
  };
  const std::function<void()> compact = [&] {
    SayOnInterrupt(kSaysBefore);
    ImageCompact compaction;
    (void)CompactImage(P("img"), events, compaction);
  };
  for (const std::function<void()>& change : {remove, compact}) {
    Restore(before);
    ExpectEveryStopLeavesBeforeOrAfter(
        change, {CountingFaults::Action::kKill, CountingFaults::Action::kInterrupt,
                 CountingFaults::Action::kPowerCut});
  }
}

// A failure before the change is sealed leaves the image as it was.
// A change that fails says which of three it is: not made (the image as it was), or made in part
// after the point of no return (the next run that locks the table finishes it); a reader meets
// such an image only once it is finished, and gives no verdict on it while it cannot be.
TEST_F(ImageCompaction, AFailureSaysWhetherTheChangeWasMadeInPart) {
  const auto before = TreeOf();
  CountingFaults faults;
  const auto remove = [&] {
    ImageCompact removal;
    return RemoveFromImage(P("img"), {"notes.txt"}, {}, removal);
  };
  ASSERT_EQ(remove(), ImageChangeError::kNone);
  const auto after = TreeOf();
  Restore(before);
  int madeInPart = 0;
  for (std::uint64_t point = 1;; ++point) {
    SCOPED_TRACE(point);
    faults.Arm(point);
    const ImageChangeError error = remove().code;
    const std::optional<CountingFaults::Point> failed = faults.FailedPoint();
    faults.Disarm();
    if (!failed) {
      EXPECT_EQ(error, ImageChangeError::kNone);
      break;
    }
    ASSERT_TRUE(error == ImageChangeError::kWriteFailure ||
                error == ImageChangeError::kLeftToFinish);
    if (error == ImageChangeError::kLeftToFinish) {
      ++madeInPart;
      // A reader that cannot finish it (here its removal fails again) says so and judges
      // nothing; one that can, finishes it and sees the image as after.
      struct EveryPointFails : fault_injection::FaultInjector {
        bool Fails(fault_injection::Point) override { return true; }
      } readOnly;
      fault_injection::SetFaultInjector(&readOnly);
      ImageCheck check;
      const ImageError<ImageCheckError> error = CheckImage(P("img"), P("key"), {}, check);
      EXPECT_EQ(error, ImageCheckError::kUnfinishedChange);
      fault_injection::SetFaultInjector(nullptr);
      EXPECT_TRUE(check.files.empty());
      EXPECT_NE(error.path.find(".velador-changes"), std::string::npos) << error.path;
    }
    { LockedHashTable next(P(kTable)); }
    EXPECT_TRUE(TreeOf() == (error == ImageChangeError::kWriteFailure ? before : after));
    Restore(before);
  }
  EXPECT_GT(madeInPart, 0);
}

}  // namespace
}  // namespace velador::testing

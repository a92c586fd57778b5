// The image check as a library: verdicts and the table audit as plain values, on images damaged
// the ways real ones are (orphaned entries, entries named twice, numbers past the counter,
// numbers 0, a table whose length does not fit its counter).

#include "image/check.h"

#include "image/image_fixture.h"

namespace velador::testing {
namespace {

class ImageCheckAudit : public ImageFixture {
 protected:
  // menu.xml: entry 1; anim.js: 3000 bytes, 7 units, entries 2-8; extra.xml: entry 9.
  ImageCheckAudit() {
    w.Write("src/menu.xml", "<menu/>\n");
    w.Write("src/anim.js", SampleContent(3000, 4));
    w.Write("src/extra.xml", "<extra/>\n");
    w.Write("src/notes.txt", "notes\n");
    AddAll({"menu.xml", "anim.js", "extra.xml", "notes.txt"});
  }

  ImageCheck Check() {
    ImageCheck check;
    EXPECT_EQ(CheckImage(P("img"), P("key"), {}, check), ImageCheckError::kNone);
    return check;
  }

  static const CheckedFile& File(const ImageCheck& check, const std::string& name) {
    for (const CheckedFile& file : check.files) {
      if (file.name == name) return file;
    }
    ADD_FAILURE() << "no file " << name;
    static const CheckedFile none;
    return none;
  }
};

TEST_F(ImageCheckAudit, AnIntactImageHasNoFinding) {
  const ImageCheck check = Check();
  ASSERT_EQ(check.files.size(), 4u);
  for (const CheckedFile& file : check.files) {
    EXPECT_EQ(file.verdict, FileVerdict::kAccepted) << file.name;
  }
  EXPECT_EQ(File(check, "anim.js").unitsChecked, 7u);
  EXPECT_EQ(check.table.counter, 9u);
  EXPECT_EQ(check.table.Count(check.files), 0);
  EXPECT_FALSE(check.NeedsAttention());
}

// Every kind of finding at once, each counted once and pinned to its entries and files.
TEST_F(ImageCheckAudit, CountsOrphansDoublesNumbersPastTheCounterAndZeros) {
  w.Write("img/ADV_OBJ/menu2.xml", w.Read("img/ADV_OBJ/menu.xml"));  // names entry 1 again
  SetTrailerNumber("anim.js", 0, 99);                                // unit 7: past the counter
  SetTrailerNumber("extra.xml", 0, 0);                               // no entry
  SetCounter(11);                                                    // entries 10, 11 unnamed
  const ImageCheck check = Check();
  const TableFindings& table = check.table;
  EXPECT_TRUE(table.lengthMatches);
  EXPECT_EQ(table.orphans, 4u) << "8 (anim.js points past it), 9 (extra.xml carries 0), 10, 11";
  ASSERT_EQ(table.orphanRanges.size(), 1u);
  EXPECT_EQ(table.orphanRanges[0].first, 8u);
  EXPECT_EQ(table.orphanRanges[0].last, 11u);
  EXPECT_EQ(table.shared, 1u);
  EXPECT_EQ(table.sharedBy, (std::vector<std::string>{"menu.xml", "menu2.xml"}));
  EXPECT_EQ(File(check, "anim.js").pastCounterNumbers, 1u);
  EXPECT_EQ(File(check, "anim.js").reason, FileReason::kPastCounter);
  EXPECT_EQ(File(check, "anim.js").unit, 6u);
  EXPECT_EQ(File(check, "anim.js").number, 99u);
  EXPECT_EQ(File(check, "extra.xml").zeroNumbers, 1u);
  EXPECT_EQ(File(check, "extra.xml").reason, FileReason::kNoEntry);
  EXPECT_EQ(File(check, "menu2.xml").reason, FileReason::kNameDiffers);
  EXPECT_EQ(File(check, "menu.xml").verdict, FileVerdict::kAccepted);
  EXPECT_EQ(table.Count(check.files), 4) << "orphans, doubles, past the counter, zeros";
  EXPECT_TRUE(check.NeedsAttention());
}

TEST_F(ImageCheckAudit, ATableLongerThanItsCounterIsAFinding) {
  w.Write(kTable, Table() + Bytes(3, '\0'));
  const ImageCheck check = Check();
  EXPECT_FALSE(check.table.lengthMatches);
  EXPECT_EQ(check.table.Count(check.files), 1);
}

// Without the key the keyed files go unchecked, but the numbers their trailers hold still
// count: no entry of theirs is reported as an orphan.
TEST_F(ImageCheckAudit, WithoutTheKeyTrailersStillCountForTheTable) {
  ImageCheck check;
  ASSERT_EQ(CheckImage(P("img"), std::nullopt, {}, check), ImageCheckError::kNone);
  EXPECT_EQ(File(check, "anim.js").verdict, FileVerdict::kNotChecked);
  EXPECT_EQ(File(check, "menu.xml").verdict, FileVerdict::kAccepted);
  EXPECT_EQ(check.table.orphans, 0u);
}

}  // namespace
}  // namespace velador::testing

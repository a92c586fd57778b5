// Building an image from a source folder as a library: the same sources always give the same
// bytes, however the image got where it is; nothing is written when nothing changed, when a
// file is refused or on a dry run; and a run killed at any point is completed or undone by the
// next one.

#include "image/build.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include "build_cache.h"
#include "image/check.h"
#include "image/image_fixture.h"
#include "image/transaction.h"
#include "platform/platform.h"
#include "support/counting_faults.h"

namespace velador::testing {
namespace {

class ImageBuilding : public ImageFixture {
 protected:
  ImageBuilding() {
    w.Write(kTable, SampleContent(40056, 9) + Bytes(4, '\0'));  // a head of its own
    MakeDiscImage(w, "other");
    w.Write("other/AACS/CONTENT_HASH_TABLE2.AACS", SampleContent(40056, 9) + Bytes(4, '\0'));
  }

  void Sources(const std::string& folder, const std::map<std::string, Bytes>& files) const {
    for (const auto& [name, bytes] : files) w.Write(folder + "/" + name, bytes);
  }

  ImageBuild Build(const std::string& source, const std::string& image, bool dryRun = false,
                   ImageBuildError expected = ImageBuildError::kNone) {
    ImageBuild build;
    EXPECT_EQ(BuildImage(P(source), P(image), BuildOptions{.keyPath = P("key"), .dryRun = dryRun},
                         {}, build),
              expected);
    return build;
  }

  const std::map<std::string, Bytes> kFinal = {{"menu.xml", "<menu/>\n"},
                                               {"anim.js", SampleContent(3000, 4)},
                                               {"logo.png", SampleContent(700, 5)},
                                               {"notes.txt", "notes\n"}};
  const std::map<std::string, Bytes> kEarlier = {{"menu.xml", "<menu old/>\n"},
                                                 {"anim.js", SampleContent(5000, 7)},
                                                 {"logo.png", SampleContent(700, 5)},
                                                 {"gone.xml", "<gone/>\n"}};
};

// Straight from the final sources, or first from earlier ones and then brought up to date:
// the same bytes, table included; and a second build changes nothing.
TEST_F(ImageBuilding, IsCanonicalWhicheverWayTheImageGotThere) {
  Sources("final", kFinal);
  Sources("earlier", kEarlier);
  Build("final", "img");
  Build("earlier", "other");
  const ImageBuild update = Build("final", "other");
  std::map<std::string, BuildAction> actions;
  for (const BuiltFile& file : update.files) actions[file.name] = file.action;
  EXPECT_EQ(actions, (std::map<std::string, BuildAction>{{"anim.js", BuildAction::kReplace},
                                                         {"gone.xml", BuildAction::kRemove},
                                                         {"logo.png", BuildAction::kKeep},
                                                         {"menu.xml", BuildAction::kReplace},
                                                         {"notes.txt", BuildAction::kAdd}}));
  EXPECT_EQ(TreeOf("other"), TreeOf("img"));
  ImageCheck check;
  ASSERT_EQ(CheckImage(P("img"), P("key"), {}, check), ImageCheckError::kNone);
  EXPECT_FALSE(check.NeedsAttention());
  const auto tree = TreeOf("img");
  const ImageBuild again = Build("final", "img");
  for (const BuiltFile& file : again.files) EXPECT_EQ(file.action, BuildAction::kKeep);
  EXPECT_EQ(TreeOf("img"), tree);
}

// A build keeps the table's tail only when it would write it again byte for byte: orphans after
// the files' entries, or a few bytes past the last whole entry, go even though every file keeps
// its numbers.
TEST_F(ImageBuilding, RewritesATableWithMoreThanItsFilesName) {
  Sources("final", kFinal);
  Build("final", "img");
  const Bytes built = w.Read(kTable);
  const std::uint32_t counter = 8;  // anim.js 1-7, menu.xml 8
  ASSERT_EQ(built.size(), table::LengthFor(counter));
  for (const Bytes& extra : {Bytes(3, 'x'), Bytes(16, 'y')}) {
    Bytes table = built + extra;
    if (extra.size() == 16) table.replace(table::kCounterOffset, 4, Number(counter + 2));
    w.Write(kTable, table);
    Build("final", "img");
    EXPECT_EQ(w.Read(kTable), built) << extra.size();
  }
}

// The table's stamp tells its entries unchanged only when it is the one cached and older than
// the cache by the racy window; a cache is written again unless it holds the same files and
// table already, every stamp of them trusted.
TEST_F(ImageBuilding, ACacheTrustsTheTableOnlyAsStampedAndOldEnough) {
  const std::string path = P("cache/image.build");
  const Key key{};
  const std::int64_t now = BuildCache::NowNs();
  const std::int64_t old = now - 2 * BuildCache::kRacyWindowNs;
  const platform::FileStamp table{40116, old, old, 1, 2};
  const CachedFile file{{3000, old, old, 1, 3}, {3347, old, old, 1, 4}, Digest{7}, {1, 7}};
  const std::map<std::string, CachedFile> files{{"anim.js", file}};
  const auto saved = [&](const platform::FileStamp& stamp,
                         const std::map<std::string, CachedFile>& saving) {
    EXPECT_TRUE(BuildCache::Save(path, P("img"), key, now, stamp, saving));
    return BuildCache::Load(path, P("img"), key);
  };
  const BuildCache cache = saved(table, files);
  ASSERT_NE(cache.Find("anim.js"), nullptr);
  EXPECT_EQ(*cache.Find("anim.js"), file);
  EXPECT_TRUE(cache.TableUnchanged(table));
  EXPECT_TRUE(cache.Holds(files, table));
  // Any part of the stamp that moved: another table, or this one written since.
  const std::vector<std::function<void(platform::FileStamp&)>> moves = {
      [](platform::FileStamp& stamp) { ++stamp.size; },
      [](platform::FileStamp& stamp) { ++stamp.modifiedNs; },
      [](platform::FileStamp& stamp) { ++stamp.changedNs; },
      [](platform::FileStamp& stamp) { ++stamp.volume; },
      [](platform::FileStamp& stamp) { ++stamp.index; }};
  for (std::size_t i = 0; i < moves.size(); ++i) {
    platform::FileStamp other = table;
    moves[i](other);
    EXPECT_FALSE(cache.TableUnchanged(other)) << i;
    EXPECT_FALSE(cache.Holds(files, other)) << i;
  }
  EXPECT_FALSE(cache.TableUnchanged(std::nullopt));
  CachedFile renumbered = file;
  renumbered.numbers.first = 2;
  EXPECT_FALSE(cache.Holds({{"anim.js", renumbered}}, table));
  // Written within the racy window: as cached, but not trusted, and worth writing again later.
  platform::FileStamp recent = table;
  recent.modifiedNs = now - BuildCache::kRacyWindowNs / 2;
  const BuildCache racy = saved(recent, files);
  EXPECT_FALSE(racy.TableUnchanged(recent));
  EXPECT_FALSE(racy.Holds(files, recent));
  CachedFile written = file;
  written.container.changedNs = recent.modifiedNs;
  const BuildCache racyFile = saved(table, {{"anim.js", written}});
  EXPECT_TRUE(racyFile.TableUnchanged(table));
  EXPECT_FALSE(racyFile.Holds({{"anim.js", written}}, table));
}

// A refused file, or a dry run: nothing is written.
TEST_F(ImageBuilding, WritesNothingWhenAFileIsRefusedOrOnADryRun) {
  Sources("earlier", kEarlier);
  Build("earlier", "img");
  const auto tree = TreeOf("img");
  Sources("final", kFinal);
  const ImageBuild dry = Build("final", "img", true);
  EXPECT_FALSE(dry.NeedsAttention());
  EXPECT_EQ(TreeOf("img"), tree);
  w.Write("final/already.txt", Bytes("AACS\x21", 5) + Bytes(300, '\0'));
  const ImageBuild refused = Build("final", "img");
  EXPECT_TRUE(refused.NeedsAttention());
  EXPECT_EQ(TreeOf("img"), tree);
  w.MakeFolder("final/sub");
  Build("final", "img", false, ImageBuildError::kSourceSubFolder);
  EXPECT_EQ(TreeOf("img"), tree);
}

// Killed, interrupted, the power cut or made to fail at each point of an update, then the next
// run that locks the table: the image is exactly the one before or the one after.
TEST_F(ImageBuilding, StoppedAtAnyPointIsCompletedOrUndoneByTheNextRun) {
  Sources("earlier", kEarlier);
  Sources("final", kFinal);
  Build("earlier", "img");
  const auto before = TreeOf("img");
  CountingFaults faults;
  // kNone only when the image was built; a refused file (a probe made to fail) counts as an
  // error here too, since it changes nothing.
  // What it tells an interrupt is true whenever one comes.
  const auto update = [&] {
    SayOnInterrupt(kSaysBefore);
    ImageBuildEvents events;
    events.committed = [] { SayOnInterrupt(kSaysAfter); };
    ImageBuild build;
    const ImageBuildError error =
        BuildImage(P("final"), P("img"), BuildOptions{.keyPath = P("key")}, events, build).code;
    return error == ImageBuildError::kNone && build.NeedsAttention()
               ? ImageBuildError::kWriteFailure
               : error;
  };
  // Killed outright, interrupted (Ctrl-C, with the cleanup the programs install), or the power
  // cut: what was not on the disk is lost.
  ExpectEveryStopLeavesBeforeOrAfter(
      update, {CountingFaults::Action::kKill, CountingFaults::Action::kInterrupt,
               CountingFaults::Action::kPowerCut});
  Restore(before);
  faults.Arm(0);
  ASSERT_EQ(update(), ImageBuildError::kNone);
  const std::uint64_t points = faults.PointsPassed();
  faults.Disarm();
  const auto after = TreeOf("img");
  // And made to fail at each point instead: always as before.
  for (std::uint64_t point = 1; point <= points; ++point) {
    SCOPED_TRACE(point);
    Restore(before);
    faults.Arm(point);
    const ImageBuildError error = update();
    const auto failed = faults.FailedPoint();
    faults.Disarm();
    { LockedHashTable next(P(kTable)); }
    const auto now = TreeOf("img");
    if (error == ImageBuildError::kNone) {
      EXPECT_TRUE(now == after);
    } else if (failed != CountingFaults::Point::kResultWrite &&
               failed != CountingFaults::Point::kResultSync &&
               failed != CountingFaults::Point::kRemove &&
               failed != CountingFaults::Point::kResultRename &&
               failed != CountingFaults::Point::kFolderSync &&
               failed != CountingFaults::Point::kTableWrite &&
               failed != CountingFaults::Point::kTableSync &&
               failed != CountingFaults::Point::kTableTruncate) {
      EXPECT_TRUE(now == before);
    } else {
      EXPECT_TRUE(now == before || now == after);
    }
  }
}

// The same change on a file system that folds letters, stood in for by the io seam: stopped at
// any point, killed, interrupted or the power cut, the next run leaves the image as before or as
// after, never without the renamed file.
TEST_F(ImageBuilding, OnAFileSystemThatFoldsLettersEveryStopOfARenamingBuildLeavesBeforeOrAfter) {
  Sources("upper", {{"MENU.XML", "<menu/>\n"}, {"ANIM.JS", SampleContent(1500, 3)}});
  Sources("lower", {{"menu.xml", "<menu new/>\n"}, {"anim.js", SampleContent(1200, 4)}});
  Build("upper", "img");
  ExpectEveryStopLeavesBeforeOrAfter(
      [&] {
        ImageBuild build;
        (void)BuildImage(P("lower"), P("img"), BuildOptions{.keyPath = P("key")}, {}, build);
      },
      {CountingFaults::Action::kKill, CountingFaults::Action::kInterrupt,
       CountingFaults::Action::kPowerCut},
      true);
}

// A change that removes "MENU.XML" and renames a staged file to "menu.xml" removes before it
// renames. Made again after a stop that came once the rename was made, the removal must not
// take the new file: on a system that folds letters, "MENU.XML" names it. That system is
// stood in for here by a second name for the new file.
TEST_F(ImageBuilding, ARemovalMadeAgainNeverTakesAFileARenameOfTheSameChangePutThere) {
  Sources("upper", {{"MENU.XML", "<menu/>\n"}});
  Sources("lower", {{"menu.xml", "<menu new/>\n"}});
  Build("upper", "img");
  CountingFaults faults;
  faults.Arm(0);
  Build("lower", "img");
  const std::vector<CountingFaults::Point> seen = faults.PointsSeen();
  faults.Disarm();
  Build("upper", "img");
  // The folder sync after the renames fails: the record stays, sealed, for the next run.
  const auto sync = std::find(seen.rbegin(), seen.rend(), CountingFaults::Point::kFolderSync);
  ASSERT_NE(sync, seen.rend());
  faults.Arm(static_cast<std::uint64_t>(seen.rend() - sync));
  Build("lower", "img", false, ImageBuildError::kLeftToFinish);
  faults.Disarm();
  ASSERT_TRUE(platform::Exists(P("img/ADV_OBJ/menu.xml").c_str()));
  ASSERT_FALSE(platform::Exists(P("img/ADV_OBJ/MENU.XML").c_str()));
  std::filesystem::create_hard_link(P("img/ADV_OBJ/menu.xml"), P("img/ADV_OBJ/MENU.XML"));
  { const LockedHashTable next(P(kTable)); }
  EXPECT_TRUE(platform::Exists(P("img/ADV_OBJ/MENU.XML").c_str()));
  EXPECT_EQ(w.Read("img/ADV_OBJ/menu.xml").size(), w.Read("img/ADV_OBJ/MENU.XML").size());
}

// A build that learned from the one before tells the files that did not change without reading
// them, and never builds anything else than a build without it: after each change below, the
// image built from the cache is byte for byte the one built without. What might have changed
// (a source or container written back with its old size and time, a table entry, the cache
// itself, the key) is compared in full; a cache taken within moments of a file's last write
// tells nothing of it.
TEST_F(ImageBuilding, ACacheOnlyEverSkipsWhatAFullComparisonWouldKeep) {
  Sources("src", kFinal);
  MakeDiscImage(w, "plain");
  w.Write("plain/AACS/CONTENT_HASH_TABLE2.AACS", w.Read(kTable));
  w.Write("key2", FromHex("ffeeddccbbaa99887766554433221100"));
  std::string key = "key";
  bool changeKey = false;
  const auto build = [&](const std::string& image, bool cached) {
    ImageBuild built;
    const BuildOptions options{.keyPath = P(key),
                               .changeKey = changeKey,
                               .cacheFolder = cached ? std::optional(P("cache")) : std::nullopt};
    EXPECT_EQ(BuildImage(P("src"), P(image), options, {}, built).code, ImageBuildError::kNone);
    std::map<std::string, bool> told;
    for (const BuiltFile& file : built.files) told[file.name] = file.toldByCache;
    return told;
  };
  const auto both = [&] {
    const auto told = build("img", true);
    build("plain", false);
    EXPECT_EQ(TreeOf("img"), TreeOf("plain"));
    return told;
  };
  const std::map<std::string, bool> none = {
      {"anim.js", false}, {"logo.png", false}, {"menu.xml", false}, {"notes.txt", false}};
  EXPECT_EQ(both(), none);
  // Every file was written moments before the cache was taken: it tells nothing yet.
  std::this_thread::sleep_for(std::chrono::nanoseconds(BuildCache::kRacyWindowNs) +
                              std::chrono::milliseconds(200));
  EXPECT_EQ(both(), none);
  EXPECT_EQ(both(),
            (std::map<std::string, bool>{
                {"anim.js", true}, {"logo.png", true}, {"menu.xml", true}, {"notes.txt", true}}));

  // The same change in both images and sources each time; the file it touches is compared.
  const auto flipByte = [&](const std::string& path, std::size_t at) {
    const auto time = std::filesystem::last_write_time(w.Path(path));
    Bytes bytes = w.Read(path);
    bytes[at] = static_cast<char>(bytes[at] ^ 1);
    w.Write(path, bytes);
    std::filesystem::last_write_time(w.Path(path), time);
  };
  flipByte("img/AACS/CONTENT_HASH_TABLE2.AACS", 40060);  // anim.js's first entry
  flipByte("plain/AACS/CONTENT_HASH_TABLE2.AACS", 40060);
  auto told = both();
  EXPECT_FALSE(told["anim.js"]);
  EXPECT_TRUE(told["menu.xml"]);
  flipByte("src/menu.xml", 2);
  told = both();
  EXPECT_FALSE(told["menu.xml"]);
  EXPECT_TRUE(told["logo.png"]);
  flipByte("img/ADV_OBJ/logo.png", 400);
  flipByte("plain/ADV_OBJ/logo.png", 400);
  told = both();
  EXPECT_FALSE(told["logo.png"]);
  EXPECT_TRUE(told["notes.txt"]);
  for (const std::string& name : w.List()) {
    if (name.rfind("cache/", 0) == 0) flipByte(name, 30);
  }
  told = both();
  EXPECT_FALSE(told["notes.txt"]);
  // Once every stamp is trusted, a file that goes renumbers the entries after its own: a file
  // the cache tells (its trailer unread until then) is renumbered as one compared in full.
  std::this_thread::sleep_for(std::chrono::nanoseconds(BuildCache::kRacyWindowNs) +
                              std::chrono::milliseconds(200));
  both();
  const Bytes anim = w.Read("src/anim.js");
  std::filesystem::remove(w.Path("src/anim.js"));
  told = both();
  EXPECT_TRUE(told["menu.xml"]);
  ImageCheck check;
  ASSERT_EQ(CheckImage(P("img"), P(key), {}, check), ImageCheckError::kNone);
  EXPECT_FALSE(check.NeedsAttention());
  w.Write("src/anim.js", anim);
  key = "key2";
  changeKey = true;
  EXPECT_EQ(both(), none);
}

}  // namespace
}  // namespace velador::testing

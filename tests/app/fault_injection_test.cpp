// Every write, sync and rename of a run made to fail in turn, for one encapsulation and one
// decapsulation of each type: whichever point fails, the run says so, leaves no temporary file,
// and leaves the earlier result and the table as they were (or, where the container is already
// in place or the table alone failed, exactly what the tool promises for that case).

#include <gtest/gtest.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "platform/platform.h"
#include "support/counting_faults.h"
#include "support/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

using Point = CountingFaults::Point;

struct FaultCase {
  const char* label;
  const char* source;       // under src/
  const char* destination;  // -d or -p
  std::size_t size;
};
void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.label; }

class EveryFaultPoint : public ::testing::TestWithParam<FaultCase> {
 protected:
  EveryFaultPoint() {
    MakeDiscImage(w, "img");
    w.Write(expected::kTablePath, Bytes(40056, '\0') + Number(2) + Bytes(16, '\x5a'));
    w.Write("key", expected::kKey);
    w.MakeFolder("out");
    w.MakeFolder("back");
    w.Write(std::string("src/") + GetParam().source, SampleContent(GetParam().size, 5));
  }

  std::string Run(const std::vector<std::string>& words) {
    std::vector<const char*> argv = {"velador"};
    for (const std::string& word : words) argv.push_back(word.c_str());
    std::ostringstream out;
    RunVelador(static_cast<int>(argv.size()), argv.data(), out);
    return out.str();
  }

  // Runs `words` once without a fault to learn the points and the outcome, then once for every
  // point failing, from the same files each time.
  void ExpectEveryPointHandled(const std::vector<std::string>& words, const std::string& result) {
    const Bytes table = Table();
    w.Write(result, "earlier");
    faults.Arm(0);
    const std::string clean = Run(words);
    const std::uint64_t points = faults.PointsPassed();
    const std::vector<Point> seen = faults.PointsSeen();
    faults.Disarm();
    const Bytes cleanResult = w.Read(result);
    const Bytes cleanTable = Table();
    ASSERT_GT(points, 2u);
    // A result reported as written is on the disk, renamed, and its folder's record synced.
    ASSERT_EQ(seen.size(), points);
    EXPECT_EQ(std::vector<Point>(seen.end() - 4, seen.end()),
              (std::vector<Point>{Point::kResultSync, Point::kResultRename, Point::kClose,
                                  Point::kFolderSync}));
    // The result path and the announcement: three line ends.
    std::size_t start = 0;
    for (int i = 0; i < 3; ++i) start = clean.find('\n', start) + 1;
    for (std::uint64_t point = 1; point <= points; ++point) {
      SCOPED_TRACE(point);
      w.Write(expected::kTablePath, table);
      w.Write(result, "earlier");
      faults.Arm(point);
      const std::string out = Run(words);
      const std::optional<Point> failed = faults.FailedPoint();
      faults.Disarm();
      ASSERT_TRUE(failed.has_value());
      SCOPED_TRACE(static_cast<int>(*failed));
      expected::ExpectNoLeftovers(w);
      const std::string failure = clean.substr(0, start) + expected::Refusal("write_failure");
      switch (*failed) {
        case Point::kCreate:
          // A probe that cannot create its file speaks of the folder; a later creation fails
          // the run like a write.
          if (out != failure) {
            EXPECT_TRUE(out == expected::Refusal("no_disc_folder") ||
                        out == expected::Refusal("no_output_folder"))
                << out;
          }
          EXPECT_EQ(w.Read(result), "earlier");
          EXPECT_TRUE(Table() == table);
          break;
        case Point::kResultWrite:
        case Point::kResultSync:
        case Point::kResultRename:
        case Point::kSpoolWrite:
        case Point::kJournalSeal:
          EXPECT_EQ(out, failure);
          EXPECT_EQ(w.Read(result), "earlier");
          EXPECT_TRUE(Table() == table);
          break;
        case Point::kFolderSync:
          EXPECT_EQ(out, failure);
          if (point == points) {
            // After the rename: the result is in place, so its table entries stay with it; the
            // run still says that it may not survive a power failure.
            EXPECT_TRUE(w.Read(result) == cleanResult);
            EXPECT_TRUE(Table() == cleanTable);
          } else {
            // The temporary name put on the disk before the seal: nothing was changed yet.
            EXPECT_EQ(w.Read(result), "earlier");
            EXPECT_TRUE(Table() == table);
          }
          break;
        case Point::kSystemCopy:
          EXPECT_EQ(out, clean);  // copied through memory instead
          EXPECT_TRUE(w.Read(result) == cleanResult);
          break;
        case Point::kClose:
          if (seen[point - 2] == Point::kResultRename) {
            // After the rename the result stands whole in place: a close that reports a
            // failure then (as network file systems do) takes nothing back.
            EXPECT_EQ(out, clean);
            EXPECT_TRUE(w.Read(result) == cleanResult);
            EXPECT_TRUE(Table() == cleanTable);
            break;
          }
          // The record's own close, before the table is touched: as a failed record write.
          [[fallthrough]];
        case Point::kTableWrite:
        case Point::kTableSync:
        case Point::kJournalWrite: {
          EXPECT_EQ(out, clean.substr(0, start) + expected::Refusal("unusable_table") +
                             clean.substr(start));
          EXPECT_TRUE(Table() == table);
          Bytes zeroed = cleanResult;
          const std::size_t trailer = 283 + GetParam().size;
          for (std::size_t at = trailer; at < zeroed.size(); ++at) zeroed[at] = '\0';
          EXPECT_TRUE(w.Read(result) == zeroed);
          break;
        }
        case Point::kTableTruncate:
          ADD_FAILURE() << "a table is cut back only after another failure";
          break;
        case Point::kRemove:
          ADD_FAILURE() << "a single run removes no file of an image";
          break;
      }
    }
  }

  Bytes Table() const { return w.Read(expected::kTablePath); }

  Workspace w;
  CountingFaults faults;
};

// The same points with the process interrupted there instead (POSIX: the run is a forked copy
// of this process). Whatever the moment, no file of the run's is left behind, and the earlier
// result and the table are either as they were or, past the rename, the finished run's.
TEST_P(EveryFaultPoint, InterruptedAtAnyPointOfTheEncapsulation) {
  const FaultCase& c = GetParam();
  const bool disc = c.destination[1] == 'd';
  const std::string result = (disc ? "img/ADV_OBJ/" : "out/") + std::string(c.source);
  const std::vector<std::string> words = {
      "-e", c.destination, w.Path(std::string("src/") + c.source).string(),
      w.Path(disc ? "img" : "out").string(), w.Path("key").string()};
  const Bytes table = Table();
  w.Write(result, "earlier");
  faults.Arm(0);
  Run(words);
  const std::uint64_t points = faults.PointsPassed();
  faults.Disarm();
  const Bytes cleanResult = w.Read(result);
  const Bytes cleanTable = Table();
  for (std::uint64_t point = 1; point <= points; ++point) {
    SCOPED_TRACE(point);
    w.Write(expected::kTablePath, table);
    w.Write(result, "earlier");
    const pid_t child = fork();
    if (child == 0) {
      // As the programs do at start-up: the library itself leaves interrupts alone.
      platform::InstallInterruptCleanup();
      faults.Arm(point, CountingFaults::Action::kInterrupt);
      Run(words);
      _exit(0);
    }
    EXPECT_EQ(WaitForExit(child), -1) << "the run was not interrupted";
    expected::ExpectNoLeftovers(w);
    const bool finished = w.Read(result) != "earlier";
    EXPECT_TRUE(finished ? w.Read(result) == cleanResult && Table() == cleanTable
                         : Table() == table);
  }
}

// The process killed outright at each point (a kill -9: nothing removed, nothing put back), then
// the next run that locks the table: the image is exactly as before the run or as after it, the
// table included, and nothing of the killed run is left, neither its record nor its files.
TEST_P(EveryFaultPoint, KilledAtAnyPointOfTheEncapsulationThenRecovered) {
  const FaultCase& c = GetParam();
  const bool disc = c.destination[1] == 'd';
  const std::string folder = disc ? "img" : "out";
  const std::string result = (disc ? "img/ADV_OBJ/" : "out/") + std::string(c.source);
  const std::vector<std::string> words = {"-e", c.destination,
                                          w.Path(std::string("src/") + c.source).string(),
                                          w.Path(folder).string(), w.Path("key").string()};
  const Bytes table = Table();
  w.Write(result, "earlier");
  faults.Arm(0);
  Run(words);
  const std::uint64_t points = faults.PointsPassed();
  faults.Disarm();
  const Bytes cleanResult = w.Read(result);
  const Bytes cleanTable = Table();
  for (std::uint64_t point = 1; point <= points; ++point) {
    SCOPED_TRACE(point);
    w.Write(expected::kTablePath, table);
    w.Write(result, "earlier");
    const pid_t child = fork();
    if (child == 0) {
      faults.Arm(point, CountingFaults::Action::kKill);
      Run(words);
      _exit(0);
    }
    EXPECT_EQ(WaitForExit(child), 137) << "the run was not killed";
    // The next run that locks the table, then one that writes into the same folder.
    { LockedHashTable next(w.Path(expected::kTablePath).string()); }
    RemoveAbandonedTemporaries(w.Path(disc ? "img/ADV_OBJ/" : "out/").string());
    expected::ExpectNoLeftovers(w);
    EXPECT_FALSE(w.Exists(std::string(expected::kTablePath) + ".velador-changes"));
    const bool finished = w.Read(result) != "earlier";
    EXPECT_TRUE(finished ? w.Read(result) == cleanResult && Table() == cleanTable
                         : Table() == table);
  }
}

TEST_P(EveryFaultPoint, OfTheEncapsulation) {
  const FaultCase& c = GetParam();
  const bool disc = c.destination[1] == 'd';
  const std::string folder = disc ? "img" : "out";
  const std::string result = (disc ? "img/ADV_OBJ/" : "out/") + std::string(c.source);
  ExpectEveryPointHandled({"-e", c.destination, w.Path(std::string("src/") + c.source).string(),
                           w.Path(folder).string(), w.Path("key").string()},
                          result);
}

TEST_P(EveryFaultPoint, OfTheDecapsulation) {
  const FaultCase& c = GetParam();
  const bool disc = c.destination[1] == 'd';
  const std::string container = (disc ? "img/ADV_OBJ/" : "out/") + std::string(c.source);
  Run({"-e", c.destination, w.Path(std::string("src/") + c.source).string(),
       w.Path(disc ? "img" : "out").string(), w.Path("key").string()});
  ExpectEveryPointHandled(
      {"-d", w.Path(container).string(), w.Path("back").string(), w.Path("key").string()},
      std::string("back/") + c.source);
}

INSTANTIATE_TEST_SUITE_P(
    EveryType, EveryFaultPoint,
    ::testing::Values(FaultCase{"NonProtected", "f.txt", "-p", 5000},
                      FaultCase{"Encryption", "f.png", "-p", 5000},
                      FaultCase{"Mac", "f.xml", "-p", 5000}, FaultCase{"Hash", "f.xml", "-d", 5000},
                      FaultCase{"EncryptionHash", "f.js", "-d", 5000},
                      // Longer than a chunk: the threaded pipeline.
                      FaultCase{"EncryptionHashLong", "f.js", "-d", 3 * 1048576 + 21},
                      FaultCase{"NonProtectedLong", "f.txt", "-p", 3 * 1048576 + 21}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velador::testing

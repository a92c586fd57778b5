// velador-image build, compact and remove killed outright (SIGKILL) at moments drawn from a
// fixed seed, as separate processes: once the next run that locks the table has put right
// what the killed one left, the image is byte for byte either as it was before or as a run
// that was never interrupted leaves it, nothing of the run is left beside it, and a check
// accepts every file. And a build while runs of velador add files to the same image and checks
// read it: no entry number handed out twice, no run failing, every container left accepted.

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e/image_test.h"
#include "support/bytes.h"

namespace velador::testing {
namespace {

using namespace expected;
using Clock = std::chrono::steady_clock;
using Tree = std::map<std::string, Bytes>;

// The file a recovering run adds: Non-Protected, so that the run locks the table only to put
// it right (never to add an entry), and leaves nothing but this file in the image.
constexpr const char* kRecoveryFile = "zz_recover.txt";

// "<prefix><number><suffix>" (built by append: GCC 12 warns falsely on a literal + a string).
std::string Named(const char* prefix, std::uint64_t number, const char* suffix = "") {
  return std::string(prefix).append(std::to_string(number)).append(suffix);
}

const char* const kExtensions[] = {".xml", ".js", ".png", ".txt"};

class ImageCrashTest : public ImageTest {
 public:
  using ImageTest::w;

  // `count` sources under `folder` of 200 KB to 1 MB, the four types in turn; content drawn from
  // `seed`, so that another seed gives other content under the same names.
  void MakeSources(const std::string& folder, int count, std::uint32_t seed) {
    for (int i = 0; i < count; ++i) {
      const std::size_t length = 200000 + static_cast<std::size_t>((i * 7919) % 800000);
      w.Write(folder + Named("/f", static_cast<std::uint64_t>(i), kExtensions[i % 4]),
              SampleContent(length, seed * 1000 + static_cast<std::uint32_t>(i)));
    }
  }

  // Every regular file under img/, by path relative to it, with its bytes.
  Tree ImageTree() const {
    Tree tree;
    const std::filesystem::path root = w.Path("img");
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
      if (!entry.is_regular_file()) continue;
      const std::string relative = entry.path().lexically_relative(root).generic_string();
      tree[relative] = w.Read("img/" + relative);
    }
    return tree;
  }

  void RestoreImage(const Tree& tree) const {
    std::filesystem::remove_all(w.Path("img"));
    for (const auto& [name, bytes] : tree) w.Write("img/" + name, bytes);
  }

  // Runs `arguments` of velador-image to its end; expects status 0.
  void RunImage(const std::vector<std::string>& arguments) {
    const ToolRun run = Image(arguments);
    ASSERT_EQ(run.status, 0) << run.out << run.err;
  }

  // The next run that locks the table: a velador-image add of a Non-Protected file, which
  // locks it (without waiting) to complete or undo a killed run's change and to sweep what it
  // left in ADV_OBJ. The file it adds goes again afterwards.
  void RecoverByNextRun() {
    const ToolRun run = Image({"add", "img", "--key", "key", std::string("rec/") + kRecoveryFile});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_TRUE(std::filesystem::remove(w.Path(std::string("img/ADV_OBJ/") + kRecoveryFile)));
  }

  // Nothing of a run left beside the image: no temporary file, record or journal.
  void ExpectNothingLeftBeside() const {
    for (const std::string& entry : w.List()) {
      if (entry.rfind("img/", 0) != 0) continue;
      EXPECT_EQ(entry.find(".velador-"), std::string::npos) << entry;
    }
  }

  // Every file present is accepted; with `clean`, the table has no finding either (and the
  // check exits 0).
  void ExpectAllAccepted(bool clean) {
    const ToolRun run = Image({"check", "img", "--key", "key", "--json"});
    EXPECT_EQ(run.err, "");
    if (clean) {
      EXPECT_EQ(run.status, 0) << run.out;
    }
    std::string error;
    const auto document = ParseJson(run.out, error);
    ASSERT_TRUE(document.has_value()) << error << "\n" << run.out;
    for (const JsonValue& file : (*document)["files"].items) {
      EXPECT_EQ(file["verdict"].string, "accepted") << file["name"].string;
    }
    EXPECT_EQ((*document)["table"]["shared"].Unsigned(), 0u);
    EXPECT_TRUE((*document)["table"]["length_matches"].boolean);
    if (clean) {
      EXPECT_EQ((*document)["summary"]["table_findings"].Unsigned(), 0u);
    }
  }
};

struct CrashCase {
  const char* label;
  // Makes the image the command starts from in the workspace's img, and its sources.
  void (*prepare)(ImageCrashTest&);
  std::vector<std::string> arguments;
  bool cleanBefore;  // a check finds no table problem in the image before the command
  bool cleanAfter;   // nor after it
};
void PrintTo(const CrashCase& c, std::ostream* os) { *os << c.label; }

constexpr int kFiles = 32;
constexpr int kRounds = 8;

class ImageKilled : public ImageCrashTest, public ::testing::WithParamInterface<CrashCase> {};

TEST_P(ImageKilled, AtAnyMomentLeavesTheImageBeforeOrAfterOnceTheNextRunLocksTheTable) {
  SKIP_UNDER_WINE("SIGKILL at a chosen moment is POSIX");
  const CrashCase& c = GetParam();
  w.Write(std::string("rec/") + kRecoveryFile, Bytes("recovery\n"));
  c.prepare(*this);
  if (HasFatalFailure()) return;
  const Tree before = ImageTree();

  // One run that is not interrupted: the state it leaves, and how long it takes.
  const Clock::time_point start = Clock::now();
  RunImage(c.arguments);
  const auto duration = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
  if (HasFatalFailure()) return;
  const Tree after = ImageTree();
  ASSERT_NE(before, after) << "the command changed nothing";
  ExpectAllAccepted(c.cleanAfter);

  std::mt19937 generator(20240611);
  std::uniform_int_distribution<std::int64_t> delays(0, duration.count());
  int killed = 0;
  int leftBefore = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::chrono::microseconds delay(delays(generator));
    SCOPED_TRACE(Named("round ", static_cast<std::uint64_t>(round)) +
                 Named(", killed after ", static_cast<std::uint64_t>(delay.count()), " us of ") +
                 std::to_string(duration.count()));
    RestoreImage(before);
    Workspace capture;
    const pid_t run = w.Start(c.arguments, capture.Path("out").string(),
                              capture.Path("err").string(), Program::kImage);
    std::this_thread::sleep_for(delay);
    kill(run, SIGKILL);
    const int status = WaitForExit(run);
    EXPECT_TRUE(status == -1 || status == 0) << status;
    if (status == -1) ++killed;

    RecoverByNextRun();
    if (HasFatalFailure()) return;
    ExpectNothingLeftBeside();
    const Tree now = ImageTree();
    const bool isBefore = now == before;
    EXPECT_TRUE(isBefore || now == after) << "the image is neither as before nor as after";
    if (isBefore) ++leftBefore;
    ExpectAllAccepted(isBefore ? c.cleanBefore : c.cleanAfter);

    // The same command once more reaches the state of an uninterrupted run. (A removal
    // already made refuses the names it no longer finds; it has nothing left to do.)
    if (isBefore || c.arguments[0] != "remove") {
      RunImage(c.arguments);
      if (HasFatalFailure()) return;
      EXPECT_TRUE(ImageTree() == after) << "a second run did not finish the change";
    }
  }
  // A draw that killed no run at all would have tested nothing.
  EXPECT_GT(killed, 0);
  RecordProperty("killed", killed);
  RecordProperty("left_before", leftBefore);
}

// An earlier source set built into img; the command's source set "src" keeps a quarter of
// those files, edits a quarter, drops a quarter and brings a quarter new.
void PrepareBuild(ImageCrashTest& t) {
  t.MakeSources("src0", kFiles, 1);
  t.MakeSources("src", kFiles, 2);
  for (int i = 0; i < kFiles; i += 4) {
    const std::string name = Named("f", static_cast<std::uint64_t>(i), ".xml");
    std::filesystem::copy_file(t.w.Path("src0/" + name), t.w.Path("src/" + name),
                               std::filesystem::copy_options::overwrite_existing);
    std::filesystem::remove(t.w.Path(Named("src/f", static_cast<std::uint64_t>(i + 1), ".js")));
    std::filesystem::remove(t.w.Path(Named("src0/f", static_cast<std::uint64_t>(i + 2), ".png")));
  }
  t.RunImage({"build", "src0", "img", "--key", "key"});
}

// Every source added, then the hashed ones added again with --replace: their first entries
// are orphans.
void PrepareWithOrphans(ImageCrashTest& t) {
  t.MakeSources("src", kFiles, 3);
  std::vector<std::string> all = {"add", "img", "--key", "key"};
  std::vector<std::string> again = {"add", "img", "--replace", "--key", "key"};
  for (int i = 0; i < kFiles; ++i) {
    const std::string path = Named("src/f", static_cast<std::uint64_t>(i), kExtensions[i % 4]);
    all.push_back(path);
    if (i % 4 < 2 && i % 3 == 0) again.push_back(path);
  }
  t.RunImage(all);
  t.RunImage(again);
}

// A build while four runs of velador add hashed files to the same image and checks read it,
// all started together; what each check reported on the way, and the image before and after.
struct Concurrent {
  JsonValue initial;
  std::vector<JsonValue> during;
  JsonValue finalCheck;
};

Concurrent BuildBesideRunsOfVeladorAndChecks(ImageCrashTest& t) {
  Concurrent result;
  Workspace& w = t.w;
  PrepareBuild(t);
  if (::testing::Test::HasFatalFailure()) return result;
  const std::vector<std::string> extras = {"h0.xml", "h1.js", "h2.xml", "h3.js"};
  for (std::size_t i = 0; i < extras.size(); ++i) {
    w.Write("extra/" + extras[i],
            SampleContent(300000 + 100000 * i, 90 + static_cast<std::uint32_t>(i)));
  }
  const Tree before = t.ImageTree();
  // Uninterrupted, to learn how long a build takes; then back to where it started.
  const Clock::time_point start = Clock::now();
  t.RunImage({"build", "src", "img", "--key", "key"});
  const auto duration = Clock::now() - start;
  if (::testing::Test::HasFatalFailure()) return result;
  t.RestoreImage(before);
  result.initial = t.CheckJson(0);

  Workspace capture;
  const auto startImage = [&](const std::vector<std::string>& arguments, const std::string& name) {
    return w.Start(arguments, capture.Path(name + ".out").string(),
                   capture.Path(name + ".err").string(), Program::kImage);
  };
  const pid_t build = startImage({"build", "src", "img", "--key", "key"}, "build");
  std::vector<pid_t> runs;
  for (std::size_t i = 0; i < extras.size(); ++i) {
    runs.push_back(w.Start({"-e", "-d", "extra/" + extras[i], "img", "key"},
                           capture.Path(Named("v", i, ".out")).string(),
                           capture.Path(Named("v", i, ".err")).string()));
  }
  constexpr int kChecks = 3;
  const std::vector<std::string> checkArguments = {"check", "img", "--key", "key", "--json"};
  std::vector<pid_t> checks;
  for (int i = 0; i < kChecks; ++i) {
    checks.push_back(startImage(checkArguments, Named("c", static_cast<std::uint64_t>(i))));
    std::this_thread::sleep_for(duration / kChecks);
  }

  EXPECT_EQ(WaitForExit(build), 0) << capture.Read("build.out") << capture.Read("build.err");
  for (std::size_t i = 0; i < runs.size(); ++i) {
    const std::string name = Named("v", i);
    EXPECT_EQ(WaitForExit(runs[i]), 0) << extras[i];
    const Bytes out = capture.Read(name + ".out");
    EXPECT_EQ(out.find("ERROR"), std::string::npos) << out;
    EXPECT_EQ(capture.Read(name + ".err"), "");
  }
  for (int i = 0; i < kChecks; ++i) {
    const std::string name = Named("c", static_cast<std::uint64_t>(i));
    WaitForExit(checks[i]);
    w.NoteJson(checkArguments, capture.Read(name + ".out"));
    std::string error;
    const auto document = ParseJson(capture.Read(name + ".out"), error);
    EXPECT_TRUE(document.has_value()) << error << "\n" << capture.Read(name + ".out");
    result.during.push_back(document.value_or(JsonValue{}));
  }

  t.ExpectNothingLeftBeside();
  t.ExpectAllAccepted(true);
  result.finalCheck = t.CheckJson(0);
  EXPECT_EQ(result.finalCheck["table"]["shared"].Unsigned(), 0u);
  EXPECT_EQ(result.finalCheck["table"]["orphans"].Unsigned(), 0u);
  // A file of velador's is either gone (a build that locked the table after it removed it) or
  // there whole with its own entries.
  for (const std::string& extra : extras) {
    if (w.Exists("img/ADV_OBJ/" + extra)) {
      EXPECT_EQ(ImageTest::FileIn(result.finalCheck, extra)["verdict"].string, "accepted");
    }
  }
  return result;
}

// Whichever order the lock gives them, every run succeeds, no entry number is handed out twice
// and every container left is accepted.
TEST_F(ImageCrashTest, BuildBesideRunsOfVeladorHandsOutNoNumberTwice) {
  SKIP_UNDER_WINE("runs started together and a lock shared between processes are POSIX");
  BuildBesideRunsOfVeladorAndChecks(*this);
}

// A check during a build must not report a mismatch for a file the build keeps: a file
// accepted before the build and after it is accepted by every check in between. (Before checks
// held the table's shared lock, about half the runs saw a build's change half made.)
TEST_F(ImageCrashTest, ChecksDuringABuildSeeNoChangeHalfMade) {
  SKIP_UNDER_WINE("runs started together and a lock shared between processes are POSIX");
  const Concurrent result = BuildBesideRunsOfVeladorAndChecks(*this);
  for (const JsonValue& check : result.during) {
    for (const JsonValue& file : check["files"].items) {
      const std::string& name = file["name"].string;
      const auto accepted = [&](const JsonValue& document) {
        for (const JsonValue& other : document["files"].items) {
          if (other["name"].string == name) return other["verdict"].string == "accepted";
        }
        return false;
      };
      if (!accepted(result.initial) || !accepted(result.finalCheck)) continue;
      EXPECT_EQ(file["verdict"].string, "accepted") << name << ": " << file["reason"].string;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Crash, ImageKilled,
    ::testing::Values(
        CrashCase{"Build", PrepareBuild, {"build", "src", "img", "--key", "key"}, true, true},
        CrashCase{"Compact", PrepareWithOrphans, {"compact", "img"}, false, true},
        CrashCase{"Remove",
                  PrepareWithOrphans,
                  {"remove", "img", "f0.xml", "f5.js", "f10.png", "f15.txt", "f21.js"},
                  false,
                  false}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace velador::testing

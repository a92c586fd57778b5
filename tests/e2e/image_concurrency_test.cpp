// Reading an image while builds change it, through the built programs: one thread rebuilds the
// image back and forth between two source folders whose files share their names but differ in
// content and length, so that every build replaces every container, renumbers the table and
// rewrites the trailers that point into it; meanwhile rounds of velador -d of every container,
// a check and an extract, all of a round at once, read the image over and over. The lock on the
// table makes each read see the image whole, as one build or the other left it: every read
// accepts every file, and what comes back is byte for byte one of the two sources (all of one
// source, for a run that reads the whole image).

#include <atomic>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "e2e/image_test.h"
#include "support/bytes.h"

namespace velador::testing {
namespace {

using namespace expected;

// Each round builds src2 then src1 into the image.
constexpr int kRounds = 12;

struct SourceFile {
  const char* name;
  std::size_t length1;  // in src1
  std::size_t length2;  // in src2
};

// Lengths chosen so that the .js files change their number of units (and with it every entry
// number after theirs) and every container changes its length from one source to the other.
const SourceFile kFiles[] = {{"a.xml", 400, 1800}, {"b.xml", 2600, 150}, {"c.js", 3000, 900},
                             {"d.js", 1200, 4200}, {"e.png", 1500, 700}, {"f.txt", 80, 300}};
constexpr std::size_t kFileCount = std::size(kFiles);

bool EndsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// True when `out` is velador -d's report of `result` with every check passed: for a hashed
// container the digests in the table, for each the stored name. An Encryption-and-Hash report
// names how many units its spot check drew, which depends on the file's length; any count
// passes.
bool ReportsAcceptance(const std::string& result, const std::string& out) {
  if (EndsWith(result, ".xml")) return out == HashDecapsulation(result, true, true);
  if (EndsWith(result, ".png")) return out == EncryptionDecapsulation(result, kKey, true);
  if (EndsWith(result, ".txt")) return out == NonProtectedDecapsulation(result, true);
  for (int units = 1; units <= 32; ++units) {
    if (out == EncryptionHashDecapsulation(result, kKey, units, true)) return true;
  }
  return false;
}

// What a check of the image says of one state of it: each container's length and the counter.
struct ImageState {
  std::map<std::string, std::uint64_t> containerLengths;
  std::uint64_t counter = 0;
  bool operator==(const ImageState&) const = default;
};

class ImageConcurrencyTest : public ImageTest {
 protected:
  ImageConcurrencyTest() {
    for (std::uint32_t i = 0; i < kFileCount; ++i) {
      const std::string name = kFiles[i].name;
      w.Write("src1/" + name, SampleContent(kFiles[i].length1, 100 + i));
      w.Write("src2/" + name, SampleContent(kFiles[i].length2, 200 + i));
    }
  }

  // Which source `content` of `name` came from: 1, 2, or 0 for neither.
  int SourceOf(const std::string& name, const Bytes& content) const {
    for (int source : {1, 2}) {
      if (content == w.Read("src" + std::to_string(source) + "/" + name)) return source;
    }
    return 0;
  }

  static ImageState StateOf(const JsonValue& check) {
    ImageState state;
    for (const JsonValue& file : check["files"].items) {
      state.containerLengths[file["name"].string] = file["size"].Unsigned();
    }
    state.counter = check["table"]["counter"].Unsigned();
    return state;
  }

  // `build <source> img --key key --json`, each file taking `action`: the first entry number
  // of each hashed file.
  std::map<std::string, std::uint64_t> BuildNumbering(const std::string& source,
                                                      const std::string& action) {
    const JsonValue build = CheckJson(0, {"build", source, "img", "--key", "key"});
    std::map<std::string, std::uint64_t> numbering;
    for (const JsonValue& file : build["files"].items) {
      EXPECT_EQ(file["action"].string, action) << source << ": " << file["name"].string;
      if (!file["first_entry"].IsNull()) {
        numbering[file["name"].string] = file["first_entry"].Unsigned();
      }
    }
    return numbering;
  }

  // A run of one of the programs, started and not yet waited for.
  struct StartedRun {
    pid_t process;
    std::string outPath;
    std::string errPath;
    Program program;
    std::vector<std::string> arguments;
  };

  // Starts the program in the workspace; its standard streams go to a folder of their own.
  StartedRun Start(const std::vector<std::string>& arguments, Program program) {
    const std::string stem = std::to_string(startedRuns_++);
    StartedRun run{-1, captures_.Path(stem + ".out").string(),
                   captures_.Path(stem + ".err").string(), program, arguments};
    run.process = w.Start(arguments, run.outPath, run.errPath, program);
    return run;
  }

  // Waits for `started` and answers what it did, as Workspace::Run would have (a JSON document
  // noted for validation too).
  ToolRun Finish(const StartedRun& started) {
    ToolRun run;
    run.status = WaitForExit(started.process);
    run.out = ReadWhole(started.outPath);
    run.err = ReadWhole(started.errPath);
    if (UnderWine()) {
      bool bareLineFeed = false;
      run.out = FromWindowsLineEnds(run.out, bareLineFeed);
      if (started.program == Program::kImage) run.err = FromWindowsLineEnds(run.err, bareLineFeed);
      if (bareLineFeed) run.err += "[test runner] the .exe wrote a line end without CR\n";
    }
    if (started.program == Program::kImage && (run.status == 0 || run.status == 1)) {
      w.NoteJson(started.arguments, run.out);
    }
    return run;
  }

  static Bytes ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
  }

  // One round of reading, every reader at once: `velador -d` of each container into `folder`/d,
  // a check, and an extract into `folder`/x.
  void ReadAtOnce(const std::string& folder, const ImageState& state1, const ImageState& state2) {
    w.MakeFolder(folder + "/d");
    w.MakeFolder(folder + "/x");
    std::vector<std::pair<std::string, StartedRun>> decapsulations;
    for (const SourceFile& file : kFiles) {
      const std::string name = file.name;
      decapsulations.emplace_back(
          name, Start({"-d", "img/ADV_OBJ/" + name, folder + "/d", "key"}, Program::kVelador));
    }
    const StartedRun check = Start({"check", "img", "--key", "key", "--json"}, Program::kImage);
    const StartedRun extract =
        Start({"extract", "img", folder + "/x", "--key", "key", "--force"}, Program::kImage);
    for (const auto& [name, started] : decapsulations) {
      ExpectDecapsulated(name, folder + "/d/" + name, Finish(started));
    }
    ExpectCheckedWhole(Finish(check), state1, state2);
    ExpectExtractedWhole(folder + "/x", Finish(extract));
  }

  // `velador -d` of a container: accepted, and restored to one of its two sources.
  void ExpectDecapsulated(const std::string& name, const std::string& result, const ToolRun& run) {
    EXPECT_EQ(run.status, 0) << result;
    EXPECT_EQ(run.err, "") << result;
    EXPECT_TRUE(ReportsAcceptance(result, run.out)) << "refused:\n" << run.out;
    EXPECT_TRUE(w.Exists(result) && SourceOf(name, w.Read(result)) != 0)
        << result << " is neither source";
  }

  // `check img --key key --json`: every file accepted, no finding in the table, and the image
  // exactly as one of the two builds left it.
  static void ExpectCheckedWhole(const ToolRun& run, const ImageState& state1,
                                 const ImageState& state2) {
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    std::string error;
    const std::optional<JsonValue> check = ParseJson(run.out, error);
    ASSERT_TRUE(check.has_value()) << error << "\n" << run.out;
    EXPECT_EQ((*check)["summary"]["files"].Unsigned(), kFileCount);
    EXPECT_EQ((*check)["summary"]["accepted"].Unsigned(), kFileCount);
    EXPECT_EQ((*check)["summary"]["table_findings"].Unsigned(), 0u);
    for (const JsonValue& file : (*check)["files"].items) {
      EXPECT_EQ(file["verdict"].string, "accepted")
          << file["name"].string << ": " << file["reason"].string << " " << file["message"].string;
    }
    const ImageState state = StateOf(*check);
    EXPECT_TRUE(state == state1 || state == state2) << "a check saw a state no build left";
  }

  // `extract img <folder> --key key --force`: every file back, all of them from the same source.
  void ExpectExtractedWhole(const std::string& folder, const ToolRun& run) {
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(run.err, "");
    std::vector<int> sources;
    for (const auto& entry : std::filesystem::directory_iterator(w.Path(folder))) {
      const std::string name = entry.path().filename().string();
      sources.push_back(SourceOf(name, w.Read(folder + "/" + name)));
      EXPECT_NE(sources.back(), 0) << folder << "/" << name << " is neither source";
    }
    EXPECT_EQ(sources.size(), kFileCount) << folder;
    for (int source : sources) {
      EXPECT_EQ(source, sources.front()) << folder << " mixes the two sources";
    }
  }

  Workspace captures_;
  int startedRuns_ = 0;
};

TEST_F(ImageConcurrencyTest, ReadersDuringRepeatedBuildsSeeOneWholeImageAndAcceptIt) {
  // The two states the builds alternate between, and that they really differ: every container
  // changes its length and some hashed file its entry numbers.
  const auto numbering2 = BuildNumbering("src2", "add");
  const ImageState state2 = StateOf(CheckJson(0));
  const auto numbering1 = BuildNumbering("src1", "replace");
  const ImageState state1 = StateOf(CheckJson(0));
  ASSERT_EQ(state1.containerLengths.size(), kFileCount);
  for (const auto& [name, length] : state1.containerLengths) {
    ASSERT_NE(length, state2.containerLengths.at(name)) << name;
  }
  ASSERT_EQ(numbering1.size(), 4u);
  ASSERT_NE(numbering1, numbering2);
  if (HasFailure()) return;

  std::atomic<bool> writerDone{false};
  std::vector<std::string> writerFailures;  // the writer's own until it is joined
  // (Declared after what it uses: should a reader throw, the writer is joined before they go.)
  std::jthread writer([&] {
    try {
      for (int round = 0; round < kRounds; ++round) {
        for (const char* source : {"src2", "src1"}) {
          const ToolRun run = w.Run({"build", source, "img", "--key", "key"}, Program::kImage);
          if (run.status != 0 || !run.err.empty()) {
            writerFailures.push_back("round " + std::to_string(round) + ", build " + source +
                                     ": status " + std::to_string(run.status) + "\n" + run.out +
                                     run.err);
          }
        }
      }
    } catch (const std::exception& error) {
      writerFailures.push_back(error.what());
    }
    writerDone = true;
  });

  // The readers go on until the last build is done, or until one of them fails.
  int reads = 0;
  do {
    const std::string folder = "r" + std::to_string(reads);
    SCOPED_TRACE("read " + std::to_string(reads));
    ReadAtOnce(folder, state1, state2);
    ++reads;
  } while (!writerDone && !HasFailure());
  writer.join();
  for (const std::string& failure : writerFailures) ADD_FAILURE() << failure;
  RecordProperty("reads", reads);

  // The last build was of src1: that is what the image holds now.
  EXPECT_TRUE(StateOf(CheckJson(0)) == state1);
  ExpectNoLeftovers(w);
}

}  // namespace
}  // namespace velador::testing

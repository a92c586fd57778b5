#include "image/image_fixture.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "platform/platform.h"
#include "support/power_cut.h"

namespace velador::testing {

namespace fs = std::filesystem;

ImageFixture::Tree ImageFixture::TreeOf(const std::string& image) const {
  Tree tree;
  for (const std::string& entry : w.List()) {
    if (entry.rfind(image + "/", 0) == 0 && fs::is_regular_file(w.Path(entry))) {
      tree[entry.substr(image.size())] = w.Read(entry);
    }
  }
  return tree;
}

void ImageFixture::Restore(const Tree& tree, const std::string& image) const {
  for (const auto& [path, bytes] : TreeOf(image)) {
    if (!tree.count(path)) fs::remove(w.Path(image + path));
  }
  for (const auto& [path, bytes] : tree) w.Write(image + path, bytes);
}

namespace {

// The paths whose bytes differ between two trees, for a failure's message.
std::string Differences(const std::map<std::string, Bytes>& now,
                        const std::map<std::string, Bytes>& expected) {
  std::string differences;
  for (const auto& [path, bytes] : now) {
    const auto there = expected.find(path);
    if (there == expected.end()) {
      differences += " +" + path;
    } else if (there->second != bytes) {
      differences += " ~" + path;
    }
  }
  for (const auto& [path, bytes] : expected) {
    if (!now.count(path)) differences += " -" + path;
  }
  return differences;
}

const char* NameOf(CountingFaults::Action action) {
  switch (action) {
    case CountingFaults::Action::kFail:
      return "failed";
    case CountingFaults::Action::kInterrupt:
      return "interrupted";
    case CountingFaults::Action::kKill:
      return "killed";
    case CountingFaults::Action::kPowerCut:
      return "power cut";
  }
  return "?";
}

}  // namespace

void ImageFixture::ExpectEveryStopLeavesBeforeOrAfter(
    const std::function<void()>& change, std::initializer_list<CountingFaults::Action> actions,
    bool foldLetters) {
  const Tree before = TreeOf();
  CountingFaults faults;
  faults.FoldLetters(foldLetters);
  faults.Arm(0);
  change();
  const std::uint64_t points = faults.PointsPassed();
  faults.Disarm();
  const Tree after = TreeOf();
  ASSERT_NE(after, before);
  ASSERT_GT(points, 3u);
  const fs::path survivors = w.Path("power-cut/survivors");
  int interrupted = 0;
  int said = 0;
  for (const CountingFaults::Action action : actions) {
    for (std::uint64_t point = 1; point <= points + 1; ++point) {
      SCOPED_TRACE(std::string(NameOf(action)) + " at point " + std::to_string(point) + " of " +
                   std::to_string(points));
      Restore(before);
      fs::remove_all(w.Path("power-cut"));
      const fs::path notice = w.Path("power-cut/notice");
      fs::create_directories(notice.parent_path());
      const pid_t child = fork();
      if (child == 0) {
        // What an interrupt says goes to standard error.
        const int said = open(notice.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (said < 0 || dup2(said, STDERR_FILENO) < 0) _exit(3);
        platform::InstallInterruptCleanup();
        std::optional<PowerCutModel> model;
        if (action == CountingFaults::Action::kPowerCut) {
          model.emplace(w.Path("img"));
          faults.ModelPowerCut(&*model, survivors);
        }
        faults.Arm(point, action);
        change();
        faults.Disarm();
        if (model) model->WriteSurvivors(survivors);  // the power goes once the change is done
        _exit(0);
      }
      int status = 0;
      ASSERT_EQ(waitpid(child, &status, 0), child);
      if (action == CountingFaults::Action::kPowerCut) {
        ASSERT_TRUE(fs::is_directory(survivors));
        PowerCutModel::ReplaceTree(w.Path("img"), survivors);
      }
      faults.Arm(0);
      { LockedHashTable next(P(kTable)); }
      faults.Disarm();
      const Tree now = TreeOf();
      EXPECT_TRUE(now == before || now == after) << "against before:" << Differences(now, before)
                                                 << "\nagainst after:" << Differences(now, after);
      if (action == CountingFaults::Action::kInterrupt && WIFSIGNALED(status)) {
        ++interrupted;
        const Bytes notice = w.Read("power-cut/notice");
        if (notice == Bytes(kSaysBefore)) {
          ++said;
          EXPECT_TRUE(now == before) << "said before:" << Differences(now, before);
        } else if (notice == Bytes(kSaysAfter)) {
          ++said;
          EXPECT_TRUE(now == after) << "said after:" << Differences(now, after);
        }
      }
      if (point > points) {
        EXPECT_TRUE(now == after);
      }
    }
  }
  // A change that tells an interrupt what it leaves says it on every interrupt.
  if (said > 0) {
    EXPECT_EQ(said, interrupted);
  }
}

void ImageFixture::SayOnInterrupt(const char* notice) { platform::SetInterruptNotice(notice); }

}  // namespace velador::testing

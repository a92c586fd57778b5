#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/workspace.h"

namespace velador {
namespace {

namespace fs = std::filesystem;
using testing::Workspace;

// Runs `body` in a child process, which then exits with 0; answers the child's wait status.
template <class Body>
int StatusOfChild(Body body) {
  const pid_t child = fork();
  if (child == 0) {
    body();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return status;
}

bool EndedByInterrupt(int status) { return WIFSIGNALED(status) && WTERMSIG(status) == SIGINT; }

TEST(SameFile, RecognisesOneFileUnderEverySpelling) {
  Workspace w;
  w.Write("dir/a.png", "a");
  w.Write("dir/b.png", "a");
  fs::create_hard_link(w.Path("dir/a.png"), w.Path("hard.png"));
  fs::create_symlink(w.Path("dir/a.png"), w.Path("soft.png"));
  const std::string a = w.Path("dir/a.png").string();
  const std::string spellings[] = {a, w.Path("dir/../dir/./a.png").string(),
                                   w.Path("hard.png").string(), w.Path("soft.png").string()};
  for (const std::string& other : spellings)
    EXPECT_TRUE(platform::SameFile(a.c_str(), other.c_str())) << other;
  EXPECT_FALSE(platform::SameFile(a.c_str(), w.Path("dir/b.png").c_str()));
  EXPECT_FALSE(platform::SameFile(a.c_str(), w.Path("missing").c_str()));
}

TEST(CreateNewFile, NeverOpensWhatAlreadyStandsThere) {
  Workspace w;
  w.Write("taken", "keep me");
  fs::create_symlink(w.Path("nowhere"), w.Path("dangling"));
  EXPECT_EQ(platform::CreateNewFile(w.Path("taken").c_str()), nullptr);
  EXPECT_EQ(platform::CreateNewFile(w.Path("dangling").c_str()), nullptr);
  EXPECT_EQ(w.Read("taken"), "keep me");
  EXPECT_FALSE(w.Exists("nowhere"));
  std::FILE* fresh = platform::CreateNewFile(w.Path("fresh").c_str());
  ASSERT_NE(fresh, nullptr);
  std::fclose(fresh);
  EXPECT_EQ(w.Read("fresh"), "");
}

// A folder the user may write to but not read cannot be opened to sync it; that is no failure.
TEST(SyncFolder, SyncsAnyFolderTheRunCanWriteTo) {
  Workspace w;
  w.MakeFolder("open");
  w.MakeFolder("write-only");
  fs::permissions(w.Path("write-only"), fs::perms::owner_write | fs::perms::owner_exec);
  for (const std::string& folder :
       {w.Path("open").string() + "/", w.Path("write-only").string(), std::string()}) {
    EXPECT_TRUE(platform::SyncFolder(folder.c_str())) << folder;
  }
}

TEST(MoveIntoPlace, ReplacesTheTarget) {
  Workspace w;
  w.Write("new", "new");
  w.Write("old", "old");
  EXPECT_TRUE(platform::MoveIntoPlace(w.Path("new").c_str(), w.Path("old").c_str()));
  EXPECT_EQ(w.Read("old"), "new");
  EXPECT_FALSE(w.Exists("new"));
  EXPECT_FALSE(platform::MoveIntoPlace(w.Path("new").c_str(), w.Path("old").c_str()));
  EXPECT_EQ(w.Read("old"), "new");
}

TEST(FileSizeAndSeek, WorkPastFourGibibytes) {
  Workspace w;
  w.Write("sparse", "");
  const std::uint64_t length = (std::uint64_t{1} << 32) + 10;
  fs::resize_file(w.Path("sparse"), length);
  std::FILE* file = std::fopen(w.Path("sparse").c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(platform::FileSize(file), length);
  ASSERT_TRUE(platform::Seek(file, length - 1));
  EXPECT_EQ(std::fputc('x', file), 'x');
  std::fflush(file);
  ASSERT_TRUE(platform::Truncate(file, 5));
  EXPECT_EQ(platform::FileSize(file), 5u);
  std::fclose(file);
}

TEST(LockExclusive, KeepsOtherProcessesOut) {
  Workspace w;
  w.Write("table", "t");
  std::FILE* file = std::fopen(w.Path("table").c_str(), "r+b");
  ASSERT_NE(file, nullptr);
  ASSERT_TRUE(platform::LockExclusive(file));
  auto otherProcessCanLock = [&] {
    return StatusOfChild([&] {
             const int fd = open(w.Path("table").c_str(), O_RDWR);
             if (fd < 0 || flock(fd, LOCK_EX | LOCK_NB) != 0) _exit(1);
           }) == 0;
  };
  EXPECT_FALSE(otherProcessCanLock());
  platform::Unlock(file);
  EXPECT_TRUE(otherProcessCanLock());
  std::fclose(file);
}

// Several files at once: every one armed goes, the one dropped stays.
TEST(RemoveOnInterrupt, TakesEveryArmedFileAlong) {
  Workspace w;
  for (const char* name : {"a.tmp", "b.tmp", "c.tmp", "kept.tmp"}) w.Write(name, "partial");
  EXPECT_TRUE(EndedByInterrupt(StatusOfChild([&] {
    platform::InstallInterruptCleanup();
    for (const char* name : {"a.tmp", "kept.tmp", "b.tmp", "c.tmp"}) {
      if (!platform::RemoveOnInterrupt(w.Path(name).c_str())) _exit(1);
    }
    platform::KeepOnInterrupt(w.Path("kept.tmp").c_str());
    raise(SIGINT);
  })));
  EXPECT_EQ(w.List(), std::vector<std::string>{"kept.tmp"});
}

// The library installs nothing of its own: only a program's call makes an interrupt take the
// registered files along, and a write past the file-size limit fail instead of ending the run.
struct CleanupCase {
  const char* label;
  bool installed;
};
void PrintTo(const CleanupCase& c, std::ostream* os) { *os << c.label; }

class InterruptCleanup : public ::testing::TestWithParam<CleanupCase> {};

TEST_P(InterruptCleanup, IsInstalledOnlyByTheProgramsCall) {
  Workspace w;
  const bool installed = GetParam().installed;
  EXPECT_TRUE(EndedByInterrupt(StatusOfChild([&] {
    // Whatever the test runner left ignored, the system's defaults to begin with.
    for (int signal : {SIGINT, SIGXFSZ}) std::signal(signal, SIG_DFL);
    if (installed) platform::InstallInterruptCleanup();
    struct sigaction limit {};
    if (sigaction(SIGXFSZ, nullptr, &limit) != 0 || (limit.sa_handler == SIG_IGN) != installed) {
      _exit(2);
    }
    std::FILE* made = platform::CreateNewFile(w.Path("made.tmp").c_str());
    if (made == nullptr) _exit(1);
    raise(SIGINT);
  })));
  EXPECT_EQ(w.Exists("made.tmp"), !installed);
}

INSTANTIATE_TEST_SUITE_P(WithAndWithout, InterruptCleanup,
                         ::testing::Values(CleanupCase{"Installed", true},
                                           CleanupCase{"NotInstalled", false}),
                         [](const auto& info) { return std::string(info.param.label); });

// The identity of the file open on `descriptor`, or none when it is closed.
std::optional<std::pair<dev_t, ino_t>> OpenOn(int descriptor) {
  struct stat info {};
  if (fstat(descriptor, &info) != 0) return std::nullopt;
  return std::make_pair(info.st_dev, info.st_ino);
}

// Whichever standard descriptor is closed, it ends on the null device and a file opened later
// gets a number of its own; the others stay on what they were.
class OpenMissingStandardStreams : public ::testing::TestWithParam<int> {};

TEST_P(OpenMissingStandardStreams, PutsTheNullDeviceWhereOneIsClosed) {
  Workspace w;
  w.Write("table", "t");
  const int closed = GetParam();
  struct stat null {};
  ASSERT_EQ(stat("/dev/null", &null), 0);
  EXPECT_EQ(StatusOfChild([&] {
              std::optional<std::pair<dev_t, ino_t>> before[3];
              for (int fd = 0; fd < 3; ++fd) before[fd] = OpenOn(fd);
              close(closed);
              platform::OpenMissingStandardStreams();
              for (int fd = 0; fd < 3; ++fd) {
                const auto now = OpenOn(fd);
                if (fd == closed && now != std::make_pair(null.st_dev, null.st_ino)) _exit(1);
                if (fd != closed && now != before[fd]) _exit(2);
              }
              const int table = open(w.Path("table").c_str(), O_RDWR);
              if (table <= STDERR_FILENO) _exit(3);
            }),
            0);
}

INSTANTIATE_TEST_SUITE_P(
    EachOne, OpenMissingStandardStreams, ::testing::Values(0, 1, 2), [](const auto& info) {
      return std::string(info.param == 0 ? "Input" : info.param == 1 ? "Output" : "Error");
    });

// An interrupt that arrives while interrupts are held takes effect once they are released,
// after the held step has finished.
TEST(HoldInterrupts, DefersTheInterruptToTheRelease) {
  Workspace w;
  w.Write("armed.tmp", "partial");
  EXPECT_TRUE(EndedByInterrupt(StatusOfChild([&] {
    platform::InstallInterruptCleanup();
    platform::RemoveOnInterrupt(w.Path("armed.tmp").c_str());
    platform::HoldInterrupts();
    raise(SIGINT);
    std::FILE* finished = std::fopen(w.Path("finished").c_str(), "wb");
    if (finished != nullptr) std::fclose(finished);
    platform::HoldInterrupts();  // holds nest
    platform::ReleaseInterrupts();
    platform::ReleaseInterrupts();
  })));
  EXPECT_EQ(w.List(), std::vector<std::string>{"finished"});
}

// A process-wide interrupt while the main thread holds interrupts and another thread runs: the
// other thread, kept off, does not take it, so it still waits for the release. A thread that
// took it would end the process before the held step finished.
TEST(KeepInterruptsOffThisThread, AnInterruptWaitsForTheMainThreadsRelease) {
  Workspace w;
  pid_t child = fork();
  if (child == 0) {
    std::atomic<bool> kept{false}, stop{false};
    std::thread worker([&] {
      platform::KeepInterruptsOffThisThread();
      kept.store(true);
      while (!stop.load()) std::this_thread::yield();
    });
    while (!kept.load()) std::this_thread::yield();
    platform::HoldInterrupts();
    kill(getpid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    std::FILE* finished = std::fopen(w.Path("finished").c_str(), "wb");
    if (finished != nullptr) std::fclose(finished);
    stop.store(true);
    worker.join();
    platform::ReleaseInterrupts();
    _exit(0);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
  EXPECT_EQ(w.List(), std::vector<std::string>{"finished"});
}

TEST(FolderEntries, NamesEveryEntryButTheFolderItselfAndItsParent) {
  Workspace w;
  w.Write("a.xml", "x");
  w.Write("with blank.js", "x");
  w.Write("sub/inner", "x");
  auto names = platform::FolderEntries(w.Root().c_str());
  ASSERT_TRUE(names.has_value());
  std::sort(names->begin(), names->end());
  EXPECT_EQ(*names, (std::vector<std::string>{"a.xml", "sub", "with blank.js"}));
  EXPECT_FALSE(platform::FolderEntries(w.Path("missing").c_str()).has_value());
  EXPECT_FALSE(platform::FolderEntries(w.Path("a.xml").c_str()).has_value());
}

// What is no regular file is refused at once: opening a pipe with no writer, or a device, would
// otherwise wait or read what never ends. The child's alarm turns a wait into a failure.
TEST(OpenFile, RefusesWhatIsNoRegularFileWithoutWaiting) {
  Workspace w;
  w.MakeFolder("folder");
  ASSERT_EQ(mkfifo(w.Path("fifo").c_str(), 0600), 0);
  const std::string refused[] = {w.Path("fifo").string(), w.Path("folder").string(), "/dev/null"};
  EXPECT_EQ(StatusOfChild([&] {
              alarm(10);
              for (const std::string& path : refused) {
                for (const char* mode : {"rb", "r+b"}) {
                  for (int linkFree : {0, platform::kImageFile}) {
                    std::FILE* file = platform::OpenFile(path.c_str(), mode, linkFree);
                    if (file != nullptr) _exit(1);
                  }
                }
              }
            }),
            0);
}

// A disc image's own layout beside a folder of the user's that a link inside the image leads
// to: img/LINKED stands for outside/, img/ADV_OBJ/link.js for outside/a.js. imglink/ stands for
// img/ above the checked components, where links are followed as usual.
class LinkFree : public ::testing::Test {
 protected:
  void SetUp() override {
    w.Write("img/ADV_OBJ/a.js", "inside");
    w.Write("outside/a.js", "outside");
    w.Write("outside/inner/b.js", "outside");
    fs::create_directory_symlink(w.Path("outside"), w.Path("img/LINKED"));
    fs::create_symlink(w.Path("outside/a.js"), w.Path("img/ADV_OBJ/link.js"));
    fs::create_directory_symlink(w.Path("img"), w.Path("imglink"));
  }
  std::string At(const char* relative) const { return w.Path(relative).string(); }
  void ExpectOutsideUntouched() const {
    EXPECT_EQ(w.Read("outside/a.js"), "outside");
    EXPECT_EQ(w.Read("outside/inner/b.js"), "outside");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(w.Path("outside")))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"a.js", "inner"}));
  }

  Workspace w;
};

struct PathCase {
  const char* path;
  int linkFree;
  bool succeeds;
};

TEST_F(LinkFree, OpenFileRefusesALinkAmongTheCheckedComponents) {
  const PathCase cases[] = {
      {"img/ADV_OBJ/a.js", platform::kImageFile, true},
      {"imglink/ADV_OBJ/a.js", platform::kImageFile, true},
      {"img/LINKED/a.js", 0, true},
      {"img/ADV_OBJ/link.js", 0, true},
      {"img/LINKED/a.js", platform::kImageFile, false},
      {"img/ADV_OBJ/link.js", platform::kImageFile, false},
      {"img/ADV_OBJ/link.js", platform::kImageFolder, false},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " linkFree " + std::to_string(c.linkFree));
    std::FILE* file = platform::OpenFile(At(c.path).c_str(), "r+b", c.linkFree);
    EXPECT_EQ(file != nullptr, c.succeeds);
    if (file != nullptr) std::fclose(file);
  }
  ExpectOutsideUntouched();
}

TEST_F(LinkFree, FolderEntriesRefusesALinkAmongTheCheckedComponents) {
  const PathCase cases[] = {
      {"img/ADV_OBJ", platform::kImageFolder, true},
      {"imglink/ADV_OBJ", platform::kImageFolder, true},
      {"img/LINKED", 0, true},
      {"img/LINKED", platform::kImageFolder, false},
      {"img/LINKED/inner", platform::kImageFile, false},
      {"img/ADV_OBJ/a.js", platform::kImageFolder, false},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " linkFree " + std::to_string(c.linkFree));
    EXPECT_EQ(platform::FolderEntries(At(c.path).c_str(), c.linkFree).has_value(), c.succeeds);
  }
}

// The refused cases first: each leaves everything as it was, outside the image and inside.
TEST_F(LinkFree, CreateNewFileMakesNothingThroughALink) {
  for (const char* path : {"img/LINKED/new", "img/ADV_OBJ/link.js"}) {
    SCOPED_TRACE(path);
    EXPECT_EQ(platform::CreateNewFile(At(path).c_str(), platform::kImageFile), nullptr);
  }
  ExpectOutsideUntouched();
  std::FILE* made = platform::CreateNewFile(At("img/ADV_OBJ/new").c_str(), platform::kImageFile);
  ASSERT_NE(made, nullptr);
  std::fclose(made);
  EXPECT_TRUE(platform::RemoveFile(At("img/ADV_OBJ/new").c_str(), platform::kImageFile));
}

TEST_F(LinkFree, RemoveFileTakesALinkAtTheLeafButNeverGoesThroughOne) {
  EXPECT_FALSE(platform::RemoveFile(At("img/LINKED/a.js").c_str(), platform::kImageFile));
  ExpectOutsideUntouched();
  fs::create_symlink(w.Path("outside/a.js"), w.Path("img/ADV_OBJ/plain-link.js"));
  for (const PathCase& c : {PathCase{"img/ADV_OBJ/link.js", platform::kImageFile, true},
                            PathCase{"img/ADV_OBJ/plain-link.js", 0, true},
                            PathCase{"img/ADV_OBJ/a.js", platform::kImageFile, true}}) {
    SCOPED_TRACE(c.path);
    EXPECT_TRUE(platform::RemoveFile(At(c.path).c_str(), c.linkFree));
    EXPECT_FALSE(w.Exists(c.path));
  }
  ExpectOutsideUntouched();
}

TEST_F(LinkFree, MoveIntoPlaceNeverGoesThroughALinkAndReplacesOneAtTheTarget) {
  w.Write("img/ADV_OBJ/t.tmp", "new");
  const std::pair<const char*, const char*> refused[] = {
      {"img/ADV_OBJ/t.tmp", "img/LINKED/a.js"},
      {"img/LINKED/a.js", "img/ADV_OBJ/moved.js"},
  };
  for (const auto& [from, to] : refused) {
    SCOPED_TRACE(std::string(from) + " -> " + to);
    EXPECT_FALSE(platform::MoveIntoPlace(At(from).c_str(), At(to).c_str(), platform::kImageFile));
  }
  ExpectOutsideUntouched();
  EXPECT_EQ(w.Read("img/ADV_OBJ/t.tmp"), "new");
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/moved.js"));

  ASSERT_TRUE(platform::MoveIntoPlace(At("img/ADV_OBJ/t.tmp").c_str(),
                                      At("img/ADV_OBJ/link.js").c_str(), platform::kImageFile));
  EXPECT_EQ(platform::KindOf(At("img/ADV_OBJ/link.js").c_str()), platform::EntryKind::kFile);
  EXPECT_EQ(w.Read("img/ADV_OBJ/link.js"), "new");
  ExpectOutsideUntouched();
  ASSERT_TRUE(platform::MoveIntoPlace(At("img/ADV_OBJ/link.js").c_str(),
                                      At("img/ADV_OBJ/a.js").c_str(), platform::kImageFile));
  EXPECT_EQ(w.Read("img/ADV_OBJ/a.js"), "new");
}

TEST(KindOf, TellsWhatStandsAtTheNameItself) {
  Workspace w;
  w.Write("file", "x");
  w.MakeFolder("folder");
  fs::create_symlink(w.Path("file"), w.Path("file-link"));
  fs::create_directory_symlink(w.Path("folder"), w.Path("folder-link"));
  fs::create_symlink(w.Path("nowhere"), w.Path("dangling"));
  ASSERT_EQ(mkfifo(w.Path("fifo").c_str(), 0600), 0);
  using platform::EntryKind;
  const std::pair<const char*, EntryKind> cases[] = {
      {"file", EntryKind::kFile},      {"folder", EntryKind::kFolder},
      {"file-link", EntryKind::kLink}, {"folder-link", EntryKind::kLink},
      {"dangling", EntryKind::kLink},  {"fifo", EntryKind::kOther},
      {"missing", EntryKind::kNone},   {"folder-link/missing", EntryKind::kNone},
  };
  for (const auto& [name, kind] : cases) {
    EXPECT_EQ(platform::KindOf(w.Path(name).c_str()), kind) << name;
  }
}

// Only a regular file no one holds goes; a link is left alone, and so is what it leads to.
TEST(RemoveIfAbandoned, LeavesLinksAndWhatIsNoRegularFile) {
  Workspace w;
  w.Write("left.tmp", "partial");
  fs::create_symlink(w.Path("left.tmp"), w.Path("link.tmp"));
  ASSERT_EQ(mkfifo(w.Path("fifo.tmp").c_str(), 0600), 0);
  EXPECT_EQ(StatusOfChild([&] {
              alarm(10);
              for (const char* name : {"link.tmp", "fifo.tmp"}) {
                if (platform::RemoveIfAbandoned(w.Path(name).c_str())) _exit(1);
              }
            }),
            0);
  using platform::EntryKind;
  const auto kinds = [&] {
    std::vector<EntryKind> found;
    for (const char* name : {"fifo.tmp", "left.tmp", "link.tmp"})
      found.push_back(platform::KindOf(w.Path(name).c_str()));
    return found;
  };
  EXPECT_EQ(kinds(), (std::vector{EntryKind::kOther, EntryKind::kFile, EntryKind::kLink}));
  EXPECT_EQ(w.Read("left.tmp"), "partial");
  EXPECT_TRUE(platform::RemoveIfAbandoned(w.Path("left.tmp").c_str()));
  EXPECT_EQ(kinds(), (std::vector{EntryKind::kOther, EntryKind::kNone, EntryKind::kLink}));
}

}  // namespace
}  // namespace velador

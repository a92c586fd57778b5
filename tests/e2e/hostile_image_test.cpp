// Hostile disc images through both programs: recovery records whose names climb out of the
// image, links that lead out of it or into another image, records and files far larger than
// any run writes, FIFOs where files are expected. Whatever a run makes of them, it ends within
// seconds, is not killed by a signal and prints no sanitizer report; every file beside the image
// (the folder outside/, and the good image other/) keeps its name, mode and bytes, and nothing
// appears or goes there. A record or link a run will not follow is refused: velador-image exits
// with status 2 naming it on standard error, velador prints an ERROR, and the record stays where
// it is for a person to look at.

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "crypto/sha1_hasher.h"
#include "e2e/image_test.h"
#include "support/tool_process.h"

namespace velador::testing {
namespace {

namespace fs = std::filesystem;
using namespace expected;

// Every run here takes well under a second; one still going after this long is taken to wait
// forever (on a FIFO, say) and is killed.
// How long a run may take before it counts as hanging: a few seconds, or ten times that where
// every program runs under an emulator (the ARM64 stage sets QEMU_CPU), where a start alone
// costs a good part of a second.
const std::chrono::seconds kDeadline(std::getenv("QEMU_CPU") != nullptr ? 30 : 3);
// The most the image may grow by in a run (its records aside): the largest legitimate change
// here adds a few kilobytes.
constexpr std::int64_t kMostGrowth = 4 << 20;
constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;

const std::string kJournal = kTablePath + ".velador-journal";
const std::string kChanges = kTablePath + ".velador-changes";
// The standard image's table: 8 entries (menu.xml 1, anim.js 2 to 8).
constexpr std::uint64_t kStandardLength = 40060 + 8 * 8;
constexpr std::uint32_t kStandardCounter = 8;

// ---- The recovery records, byte for byte as a run writes them (integers big-endian).

void Put(Bytes& bytes, std::uint64_t value, int length) {
  for (int shift = 8 * (length - 1); shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<char>((value >> shift) & 0xff));
  }
}

void PutName(Bytes& bytes, const std::string& name) {
  Put(bytes, name.size(), 2);
  bytes += name;
}

// Writes `body` (magic and seal byte first), then `zeros` zero bytes, left as a hole in the
// file, then the SHA-1 of both with the seal byte taken as 0: a whole, undamaged record.
void WriteRecord(const Workspace& w, const std::string& path, const Bytes& body,
                 std::uint64_t zeros = 0) {
  Sha1Hasher hasher;
  Bytes covered = body;
  covered[8] = '\0';
  hasher.Update(reinterpret_cast<const std::uint8_t*>(covered.data()), covered.size());
  const std::vector<std::uint8_t> zeroBlock(1 << 20, 0);
  for (std::uint64_t left = zeros; left > 0;) {
    const std::uint64_t step = std::min<std::uint64_t>(left, zeroBlock.size());
    hasher.Update(zeroBlock.data(), step);
    left -= step;
  }
  hasher.Final();
  std::uint8_t digest[20];
  hasher.GetHash(digest);
  w.Write(path, body);
  std::fstream file(w.Path(path), std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>(body.size() + zeros));
  file.write(reinterpret_cast<const char*>(digest), sizeof digest);
  if (!file) throw std::runtime_error("cannot write the record " + path);
}

void WriteJournal(const Workspace& w, char seal, std::uint64_t length, std::uint32_t counter,
                  const std::string& temporary, const std::string& result) {
  Bytes body = "VLDRJRN1";
  body += seal;
  Put(body, length, 8);
  Put(body, counter, 4);
  PutName(body, temporary);
  PutName(body, result);
  WriteRecord(w, kJournal, body);
}

struct Rewrite {
  std::string name;
  std::uint64_t offset;
  Bytes bytes;
};

struct Changes {
  char seal = 'S';
  std::vector<std::string> removals{};
  std::vector<Rewrite> rewrites{};
  std::vector<std::pair<std::string, std::string>> renames{};
  std::uint64_t zeroTableTail = 0;  // the table's new tail: this many zero bytes
};

void WriteChanges(const Workspace& w, const Changes& changes) {
  Bytes body = "VLDRCHG1";
  body += changes.seal;
  Put(body, changes.removals.size(), 8);
  for (const std::string& name : changes.removals) PutName(body, name);
  Put(body, changes.rewrites.size(), 8);
  for (const Rewrite& rewrite : changes.rewrites) {
    PutName(body, rewrite.name);
    Put(body, rewrite.offset, 8);
    Put(body, rewrite.bytes.size(), 8);
    body += rewrite.bytes;
  }
  Put(body, changes.renames.size(), 8);
  for (const auto& [from, to] : changes.renames) {
    PutName(body, from);
    PutName(body, to);
  }
  Put(body, changes.zeroTableTail, 8);
  WriteRecord(w, kChanges, body, changes.zeroTableTail);
}

// ---- What lies beside the image, as it was before a run.

struct Entry {
  fs::file_type type = fs::file_type::none;
  fs::perms perms = fs::perms::none;
  Bytes content;  // a regular file's bytes, a link's target

  bool operator==(const Entry&) const = default;
};
using Snapshot = std::map<std::string, Entry>;

// The folders below the workspace root, every entry in them, links not followed.
Snapshot Take(const Workspace& w, const std::vector<std::string>& folders) {
  Snapshot snapshot;
  const auto record = [&](const fs::path& path) {
    const fs::file_status status = fs::symlink_status(path);
    Entry entry{status.type(), status.permissions(), {}};
    if (status.type() == fs::file_type::regular) {
      std::ifstream in(path, std::ios::binary);
      entry.content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } else if (status.type() == fs::file_type::symlink) {
      entry.content = fs::read_symlink(path).string();
    }
    snapshot[fs::relative(path, w.Root()).generic_string()] = entry;
  };
  for (const std::string& folder : folders) {
    const fs::path root = w.Path(folder);
    if (!fs::exists(fs::symlink_status(root))) continue;
    record(root);
    for (const auto& entry : fs::recursive_directory_iterator(root)) record(entry.path());
  }
  return snapshot;
}

// "added: p", "removed: p", "changed: p" for every entry that differs.
std::string Differences(const Snapshot& before, const Snapshot& after) {
  std::string differences;
  for (const auto& [path, entry] : before) {
    const auto found = after.find(path);
    if (found == after.end()) {
      differences += "removed: " + path + "\n";
    } else if (!(found->second == entry)) {
      differences += "changed: " + path + "\n";
    }
  }
  for (const auto& [path, entry] : after) {
    if (before.count(path) == 0) differences += "added: " + path + "\n";
  }
  return differences;
}

// ---- A run with a deadline.

struct Outcome {
  ToolRun run;
  bool timedOut = false;
  int signal = 0;  // the signal that ended the process, 0 when it exited
};

// Runs `arguments` of `program` in `folder` (relative to the workspace), standard input
// /dev/null; kills the process once kDeadline has passed.
Outcome RunWithDeadline(const Workspace& w, Program program,
                        const std::vector<std::string>& arguments, const std::string& folder) {
  Workspace capture;
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(capture.Path("out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(capture.Path("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t child = -1;
  if (in >= 0 && out >= 0 && err >= 0) {
    child = StartTool(folder.empty() ? w.Root() : w.Path(folder), ToolCommand(arguments, program),
                      {in, out, err}, EnvironmentWith());
  }
  for (int descriptor : {in, out, err}) {
    if (descriptor >= 0) close(descriptor);
  }
  if (child < 0) throw std::runtime_error("cannot start the program");
  Outcome outcome;
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(child, &status, WNOHANG);
    if (done == child) break;
    if (done < 0 && errno != EINTR) throw std::runtime_error("waitpid failed");
    if (std::chrono::steady_clock::now() >= deadline) {
      outcome.timedOut = true;
      kill(child, SIGKILL);
      while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  outcome.run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  outcome.run.out = capture.Read("out");
  outcome.run.err = capture.Read("err");
  return outcome;
}

// ---- The fixture.

class HostileImageTest : public ImageTest {
 public:
  using ImageTest::Out;
  using ImageTest::w;

  // The folder outside/ beside img, a few files of several modes in it; and the sources the
  // commands take besides the standard ones.
  void MakeOutside() {
    // The fixture's second key file is not needed here, and other/ is the good image's name.
    fs::remove(w.Path("other"));
    struct File {
      const char* name;
      Bytes content;
      fs::perms perms;
    };
    const fs::perms kReadWrite = fs::perms::owner_read | fs::perms::owner_write;
    const fs::perms kShared = kReadWrite | fs::perms::group_read | fs::perms::others_read;
    const std::vector<File> files = {
        {"f1", "first sentinel\n", kShared},
        {"f2", "second sentinel\n", kShared},
        {"id", "an identity nobody may move\n", kReadWrite},
        {"x", "removal target\n", kShared},
        {"y", SampleContent(300, 11), kReadWrite},
        {"z", "rename source\n", kShared},
        {"w", "open rename source\n", kShared},
        {"f", "behind a link\n", kShared},
        {"doc", SampleContent(100000, 12), kShared},
        {"ro.txt", "read only\n", fs::perms::owner_read},
        {"sub/deep.txt", "deeper\n", kShared},
    };
    for (const File& file : files) {
      w.Write(std::string("outside/") + file.name, file.content);
      fs::permissions(w.Path(std::string("outside/") + file.name), file.perms);
    }
    Source("new.xml", Bytes("<new/>\n"));
    Source("p.txt", Bytes("persistent\n"));
  }

  // A second good image, other/: anim.js then menu.xml, so its table differs from img's.
  void MakeOther() {
    MakeDiscImage(w, "other");
    Out({"-e", "-d", "src/anim.js", "other", "key"});
    Out({"-e", "-d", "src/menu.xml", "other", "key"});
  }

  void Link(const std::string& target, const std::string& link) const {
    std::error_code ignored;
    fs::remove_all(w.Path(link), ignored);
    fs::create_symlink(target, w.Path(link));
  }

  void Fifo(const std::string& path) const {
    ASSERT_EQ(mkfifo(w.Path(path).c_str(), 0644), 0) << path;
  }

  // Every record beside the table, with its size and (when small) its bytes.
  std::map<std::string, std::pair<std::uintmax_t, Bytes>> Records() const {
    std::map<std::string, std::pair<std::uintmax_t, Bytes>> records;
    for (const std::string& path : {kJournal, kChanges}) {
      const fs::file_status status = fs::symlink_status(w.Path(path));
      if (!fs::exists(status)) continue;
      if (status.type() != fs::file_type::regular) {
        records[path] = {0, "not a regular file"};
        continue;
      }
      const std::uintmax_t size = fs::file_size(w.Path(path));
      records[path] = {size, size <= (1 << 20) ? w.Read(path) : Bytes()};
    }
    return records;
  }

  // The bytes of the regular files in img (links not followed), its records aside.
  std::int64_t ImageSize() const {
    std::int64_t total = 0;
    const auto isRecord = [](const fs::path& path) {
      const std::string name = path.filename().string();
      return name.ends_with(".velador-journal") || name.ends_with(".velador-changes");
    };
    for (const auto& entry : fs::recursive_directory_iterator(w.Path("img"))) {
      if (entry.is_symlink() || !entry.is_regular_file() || isRecord(entry.path())) continue;
      total += static_cast<std::int64_t>(entry.file_size());
    }
    return total;
  }

  std::vector<std::string> TopLevel() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(w.Root())) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

// ---- The hostile images.

using Maker = void (*)(HostileImageTest&);

// An open record whose temporary file lies outside: undoing it would delete outside/f1.
void OpenJournalTemporaryOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteJournal(t.w, 'O', kStandardLength, kStandardCounter, "../../outside/f1", "f1.js");
}

// Sealed records: completing one would move a temporary file of the image over outside/f2, or
// move outside/id into the image.
void SealedJournalResultOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  t.w.Write("img/ADV_OBJ/.velador-0000abcd.tmp", "payload\n");
  WriteJournal(t.w, 'S', kStandardLength, kStandardCounter, ".velador-0000abcd.tmp",
               "../../outside/f2");
}

void SealedJournalTemporaryOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteJournal(t.w, 'S', kStandardLength, kStandardCounter, "../../outside/id", "stolen");
}

// Records of a whole change reaching outside, one way each.
void SealedChangesRemovalOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteChanges(t.w, Changes{.removals = {"../../outside/x"}});
}

void SealedChangesRewriteOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteChanges(t.w, Changes{.rewrites = {{"../../outside/y", 0, "OVERWRITTEN"}}});
}

void SealedChangesRenameOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteChanges(t.w, Changes{.renames = {{"../../outside/z", "z"}}});
}

void OpenChangesRenameSourceOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteChanges(t.w, Changes{.seal = 'O', .renames = {{"../../outside/w", "w"}}});
}

// Names in a record that a link leads outside: ADV_OBJ itself, so that even a temporary
// file's name is outside/'s, or a folder in ADV_OBJ.
void AdvObjLinkWithRecord(HostileImageTest& t) {
  t.Link("../outside", "img/ADV_OBJ");
  t.w.Write("outside/.velador-0000f1f1.tmp", "not the image's\n");
  WriteJournal(t.w, 'O', 40060, 0, ".velador-0000f1f1.tmp", "f1.js");
}

void EntryLinkWithRecord(HostileImageTest& t) {
  t.MakeStandardImage();
  t.Link("../../outside", "img/ADV_OBJ/lnk");
  WriteJournal(t.w, 'O', kStandardLength, kStandardCounter, "lnk/f", "f.js");
}

// The table a link to outside/doc, with an open record of length 0 (undoing it would cut
// doc to nothing) or with the image's real table moved there and no record at all; the table's
// folder, or ADV_OBJ, a link into the good image other/.
void TableLinkWithOpenJournal(HostileImageTest& t) {
  t.MakeStandardImage();
  t.Link("../../outside/doc", kTablePath);
  WriteJournal(t.w, 'O', 0, 0, "t.tmp", "t.js");
}

void TableLinkToOutside(HostileImageTest& t) {
  t.MakeStandardImage();
  fs::remove(t.w.Path("outside/doc"));
  fs::rename(t.w.Path(kTablePath), t.w.Path("outside/doc"));
  t.Link("../../outside/doc", kTablePath);
}

void AacsLinkToOtherImage(HostileImageTest& t) {
  t.MakeStandardImage();
  t.MakeOther();
  t.Link("../other/AACS", "img/AACS");
}

void AdvObjLinkToOtherImage(HostileImageTest& t) {
  t.MakeStandardImage();
  t.MakeOther();
  t.Link("../other/ADV_OBJ", "img/ADV_OBJ");
}

// ADV_OBJ a link to outside/, no record.
void AdvObjLinkToOutside(HostileImageTest& t) { t.Link("../outside", "img/ADV_OBJ"); }

// A hashed container of the image (entries 9 on, renumbered by a compaction or by the
// removal of menu.xml) that is a link to outside/victim.js.
void EntryLinkToVictim(HostileImageTest& t) {
  t.MakeStandardImage();
  t.Source("b.js", SampleContent(1500, 13));
  t.Out({"-e", "-d", "src/b.js", "img", "key"});
  fs::rename(t.w.Path("img/ADV_OBJ/b.js"), t.w.Path("outside/victim.js"));
  t.Link("../../outside/victim.js", "img/ADV_OBJ/b.js");
}

// An Encryption-and-Hash container with 2 bytes appended: its trailer is no whole number of
// entries.
void TrailerNotWholeEntries(HostileImageTest& t) {
  t.MakeStandardImage();
  t.w.Write("img/ADV_OBJ/anim.js", t.w.Read("img/ADV_OBJ/anim.js") + Bytes("\x01\x02", 2));
}

// Sparse files far larger than any run writes.
void SparseChanges60GiB(HostileImageTest& t) {
  t.MakeStandardImage();
  t.w.Write(kChanges, "VLDRCHG1S");
  fs::resize_file(t.w.Path(kChanges), 60 * kGiB);
}

void SparseTable40GiB(HostileImageTest& t) {
  t.MakeStandardImage();
  fs::resize_file(t.w.Path(kTablePath), 40 * kGiB);
}

void SparseContainer40GiB(HostileImageTest& t) {
  t.MakeStandardImage();
  fs::resize_file(t.w.Path("img/ADV_OBJ/anim.js"), 40 * kGiB);
}

// FIFOs: under a temporary file's name in ADV_OBJ (alone, or with a harmless record present
// so that even a check or velador -d sweeps the folder), or in the place of menu.xml.
void FifoTemporary(HostileImageTest& t) {
  t.MakeStandardImage();
  t.Fifo("img/ADV_OBJ/.velador-00000000.tmp");
}

void FifoTemporaryWithRecord(HostileImageTest& t) {
  FifoTemporary(t);
  WriteJournal(t.w, 'O', kStandardLength, kStandardCounter, ".velador-00000001.tmp", "n.js");
}

void FifoContainer(HostileImageTest& t) {
  t.MakeStandardImage();
  fs::remove(t.w.Path("img/ADV_OBJ/menu.xml"));
  t.Fifo("img/ADV_OBJ/menu.xml");
}

// Sealed records whose change would grow the image by gigabytes: a rewrite of menu.xml at
// 8 GiB, a table tail of 1 GiB.
void SealedChangesRewriteFar(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteChanges(t.w, Changes{.rewrites = {{"menu.xml", std::uint64_t{1} << 33, "x"}}});
}

void SealedChangesHugeTableTail(HostileImageTest& t) {
  t.MakeStandardImage();
  WriteChanges(t.w, Changes{.zeroTableTail = kGiB});
}

// ---- The table.

struct Command {
  const char* name;
  Program program;
  std::vector<std::string> arguments;
  const char* folder = "";  // where it runs, relative to the workspace
  // Whether the run finds the image's table at all: a container named "ADV_OBJ/x" from inside
  // the image has its table looked for at the root's AACS, as velador has always done, so such
  // a run never sees the image's records and has nothing to refuse.
  bool findsTheTable = true;
};

enum class Expect {
  kRefused,   // velador-image: status 2 naming the path; velador: an ERROR; records kept
  kSurvives,  // any verdict, as long as the run ends, unharmed, and nothing outside changes
};

struct HostileCase {
  std::string name;
  Maker make;
  Command command;
  Expect expect;
  std::string named;  // for kRefused by velador-image: pieces ("|" between), one on stderr
};
void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

std::vector<HostileCase> Cases() {
  const Command check{"Check", Program::kImage, {"check", "img", "--key", "key"}};
  const Command extract{"Extract", Program::kImage, {"extract", "img", "out", "--key", "key"}};
  const Command add{"Add", Program::kImage, {"add", "img", "--key", "key", "src/new.xml"}};
  const Command build{"Build", Program::kImage, {"build", "src", "img", "--key", "key"}};
  const Command compact{"Compact", Program::kImage, {"compact", "img"}};
  const Command remove{"Remove", Program::kImage, {"remove", "img", "menu.xml"}};
  // Where ADV_OBJ is outside/, a removal of a file there.
  const Command removeThere{"Remove", Program::kImage, {"remove", "img", "f2"}};
  const Command decapsulate{
      "Decapsulate", Program::kVelador, {"-d", "img/ADV_OBJ/menu.xml", "back", "key"}};
  const Command encapsulate{
      "Encapsulate", Program::kVelador, {"-e", "-d", "src/new.xml", "img", "key"}};
  const Command persistent{
      "Persistent", Program::kVelador, {"-e", "-p", "src/p.txt", "img/ADV_OBJ", "key"}};
  const Command fromInside{"DecapsulateFromInside",
                           Program::kVelador,
                           {"-d", "ADV_OBJ/menu.xml", "../back", "../key"},
                           "img",
                           false};
  // Every command that replays the records beside the table.
  const std::vector<Command> replaying = {check,  extract,     add,         build,      compact,
                                          remove, decapsulate, encapsulate, persistent, fromInside};
  const std::vector<Command> writing = {add, build, compact, remove, encapsulate, persistent};

  std::vector<HostileCase> cases;
  const auto rows = [&](const std::string& name, Maker make, const std::vector<Command>& commands,
                        Expect expect, const std::string& named) {
    for (const Command& command : commands) {
      cases.push_back({name + "_" + command.name, make, command, expect, named});
    }
  };
  using enum Expect;
  const std::string journal = ".velador-journal";
  const std::string changes = ".velador-changes";
  const std::string table = "CONTENT_HASH_TABLE2.AACS";
  rows("OpenJournalTemporaryOutside", OpenJournalTemporaryOutside, replaying, kRefused, journal);
  rows("SealedJournalResultOutside", SealedJournalResultOutside, replaying, kRefused, journal);
  rows("SealedJournalTemporaryOutside", SealedJournalTemporaryOutside, replaying, kRefused,
       journal);
  rows("SealedChangesRemovalOutside", SealedChangesRemovalOutside, replaying, kRefused, changes);
  rows("SealedChangesRewriteOutside", SealedChangesRewriteOutside, replaying, kRefused, changes);
  rows("SealedChangesRenameOutside", SealedChangesRenameOutside, replaying, kRefused, changes);
  rows("OpenChangesRenameSourceOutside", OpenChangesRenameSourceOutside, replaying, kRefused,
       changes);
  rows("AdvObjLinkWithRecord", AdvObjLinkWithRecord,
       {check, extract, add, build, compact, removeThere, encapsulate, persistent}, kRefused,
       "img/ADV_OBJ|" + journal);
  rows("EntryLinkWithRecord", EntryLinkWithRecord, replaying, kRefused, "lnk|" + journal);
  rows("TableLinkWithOpenJournal", TableLinkWithOpenJournal, replaying, kRefused, table);
  rows("TableLinkToOutside", TableLinkToOutside, {add, build, compact, remove, encapsulate},
       kRefused, table);
  rows("AacsLinkToOtherImage", AacsLinkToOtherImage, {add, build, compact, remove, encapsulate},
       kRefused, "img/AACS");
  rows("AdvObjLinkToOtherImage", AdvObjLinkToOtherImage, writing, kRefused, "img/ADV_OBJ");
  rows("AdvObjLinkToOutside", AdvObjLinkToOutside,
       {add, build, compact, removeThere, encapsulate, persistent}, kRefused, "img/ADV_OBJ");
  rows("EntryLinkToVictim", EntryLinkToVictim, {compact, remove}, kRefused, "b.js");
  rows("TrailerNotWholeEntries", TrailerNotWholeEntries, {check, compact, remove}, kSurvives, "");
  rows("SparseChanges60GiB", SparseChanges60GiB, replaying, kRefused, changes);
  // A file too large to work with may be refused as such or by the image it is in.
  const std::string anyRefusal = "velador-image: ERROR: ";
  rows("SparseTable40GiB", SparseTable40GiB, {add, build, compact, encapsulate}, kRefused,
       anyRefusal);
  rows("SparseTable40GiB", SparseTable40GiB, {check}, kSurvives, "");
  rows("SparseContainer40GiB", SparseContainer40GiB, {compact}, kRefused, anyRefusal);
  rows("FifoTemporary", FifoTemporary, {add, build, compact, remove, encapsulate, persistent},
       kSurvives, "");
  rows("FifoTemporaryWithRecord", FifoTemporaryWithRecord, {check, decapsulate, fromInside},
       kSurvives, "");
  rows("FifoContainer", FifoContainer, {check, extract, add, build, compact, remove}, kSurvives,
       "");
  rows("FifoContainer", FifoContainer, {decapsulate}, kRefused, "");
  rows("SealedChangesRewriteFar", SealedChangesRewriteFar, replaying, kRefused, changes);
  rows("SealedChangesHugeTableTail", SealedChangesHugeTableTail,
       {check, add, compact, decapsulate, encapsulate}, kRefused, changes);
  return cases;
}

// Whether `text` names `path` itself: "img/ADV_OBJ" counts in "... img/ADV_OBJ\n", not in
// "img/ADV_OBJ/menu.xml", which names a file in the folder.
bool Names(const std::string& text, const std::string& path) {
  for (std::size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + 1)) {
    const std::size_t end = at + path.size();
    if (end == text.size() || text[end] != '/') return true;
  }
  return false;
}

// At most `limit` bytes of a run's output, for a failure message.
std::string Shown(const Bytes& text, std::size_t limit = 2000) {
  return text.size() <= limit ? text : text.substr(0, limit) + "[...]";
}

class HostileImage : public HostileImageTest, public ::testing::WithParamInterface<HostileCase> {};

TEST_P(HostileImage, StaysInsideTheImageEndsInTimeAndRefusesWhatItWillNotFollow) {
  SKIP_UNDER_WINE("symbolic links, FIFOs, sparse files and a kill at a deadline as POSIX has them");
  const HostileCase& c = GetParam();
  MakeOutside();
  c.make(*this);
  if (HasFatalFailure()) return;
  const std::vector<std::string> beside = {"outside", "other"};
  const Snapshot before = Take(w, beside);
  const std::vector<std::string> topLevel = TopLevel();
  const auto records = Records();
  const std::int64_t size = ImageSize();

  const Outcome outcome =
      RunWithDeadline(w, c.command.program, c.command.arguments, c.command.folder);
  const ToolRun& run = outcome.run;
  const std::string shown =
      "standard output:\n" + Shown(run.out) + "\nstandard error:\n" + Shown(run.err);
  EXPECT_FALSE(outcome.timedOut) << "still running after " << kDeadline.count() << " s\n" << shown;
  if (!outcome.timedOut) {
    EXPECT_EQ(outcome.signal, 0) << "killed by signal " << outcome.signal << "\n" << shown;
  }
  EXPECT_EQ(run.err.find("Sanitizer"), std::string::npos) << shown;
  EXPECT_EQ(run.err.find("runtime error:"), std::string::npos) << shown;
  EXPECT_EQ(Differences(before, Take(w, beside)), "") << shown;
  EXPECT_EQ(TopLevel(), topLevel);
  EXPECT_LE(ImageSize() - size, kMostGrowth) << "the image grew\n" << shown;

  if (c.expect != Expect::kRefused) return;
  const bool findsTheTable = c.command.findsTheTable;
  if (findsTheTable && c.command.program == Program::kImage) {
    EXPECT_EQ(run.status, 2) << shown;
    bool named = false;
    for (std::size_t from = 0; from <= c.named.size();) {
      const std::size_t bar = std::min(c.named.find('|', from), c.named.size());
      named = named || Names(run.err, c.named.substr(from, bar - from));
      from = bar + 1;
    }
    EXPECT_TRUE(named) << "standard error names none of " << c.named << "\n" << shown;
  } else if (findsTheTable) {
    // Its error block, or the line it has always printed for a table it could not update.
    const bool error =
        run.out.find("ERROR") != std::string::npos || run.out.find("Error:") != std::string::npos;
    EXPECT_TRUE(error) << "no error printed\n" << shown;
  }
  EXPECT_TRUE(Records() == records) << "a record was replayed, removed or changed\n" << shown;
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileImage, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace velador::testing

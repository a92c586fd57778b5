// Where the result goes, through the built tool: a few result paths (every composition is
// checked in-process), same-file refusals, missing folders and tables, composed path lengths,
// and what stays on disk after success and after failure.

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;
namespace fs = std::filesystem;

class OutputLocation : public ToolTest {};

TEST_F(OutputLocation, ResultPathsAndNamesWithBlanks) {
  w.Write("my docs/a b.txt", "blank");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-e", "-p", "my docs/a b.txt", "out/", "key"}, "out/a b.txt"},
      {{"-e", "-d", "my docs/a b.txt", "img", "key"}, "img/ADV_OBJ/a b.txt"},
  };
  for (const auto& [arguments, result] : cases) {
    EXPECT_EQ(Out(arguments), NonProtectedEncapsulation(result, kKey));
    EXPECT_TRUE(w.Exists(result)) << result;
  }
  EXPECT_FALSE(w.Exists("out/my"));
  EXPECT_EQ(Out({"-d", "img/ADV_OBJ/a b.txt", "back", "key"}),
            NonProtectedDecapsulation("back/a b.txt", true));
  EXPECT_EQ(w.Read("back/a b.txt"), "blank");
  ExpectNoLeftovers(w);
}

TEST_F(OutputLocation, BackslashSeparatesTheNameEvenInsideALinuxName) {
  SKIP_UNDER_WINE("on Windows \"\\\" separates folders and is part of no name");
  w.Write("d\\name.txt", "x");  // one file in the workspace, yet the name is name.txt
  EXPECT_EQ(Out({"-e", "-p", "d\\name.txt", "out", "key"}),
            NonProtectedEncapsulation("out/name.txt", kKey));
  EXPECT_TRUE(w.Exists("out/name.txt"));
}

TEST_F(OutputLocation, SameFileByTextOrByAnotherSpellingIsRefused) {
  w.Write("a.txt", "original");
  w.Write("img/ADV_OBJ/d.txt", "original");
  w.Write("out/c.txt", "original");
  fs::create_symlink("out/c.txt", w.Path("c.txt"));
  w.Write("out/h.txt", "original");
  fs::create_hard_link(w.Path("out/h.txt"), w.Path("h.txt"));
  fs::create_directory_symlink("out", w.Path("link"));
  const std::vector<std::string> cases[] = {
      {"-e", "-d", "img/ADV_OBJ/d.txt", "img/", "key"},
      {"-e", "-p", "a.txt", ".", "key"},
      {"-e", "-p", w.Path("a.txt").string(), ".", "key"},
      {"-e", "-p", "a.txt", w.Root().string(), "key"},
      {"-e", "-p", "c.txt", "out", "key"},
      {"-e", "-p", "h.txt", "out", "key"},
      {"-e", "-p", "out/h.txt", "link", "key"},
  };
  for (const auto& arguments : cases) ExpectRefusal(arguments, Refusal("same_file"));
  for (const char* file : {"a.txt", "img/ADV_OBJ/d.txt", "out/c.txt", "out/h.txt"})
    EXPECT_EQ(w.Read(file), "original");
}

// The result may not replace the key file the run reads: the container would be the only copy
// of the key, enciphered under itself.
TEST_F(OutputLocation, ResultThatWouldReplaceTheKeyFileIsRefused) {
  w.Write("D/key.bin", "any content");
  w.Write("key.bin", kKey);
  w.Write("out/k.png", kKey);
  w.Write("D/k.png", "picture");
  ExpectRefusal({"-e", "-p", "D/key.bin", ".", "key.bin"}, Refusal("same_file"));
  ExpectRefusal({"-e", "-p", "D/k.png", "out", "out/k.png"}, Refusal("same_file"));
  ExpectRefusal({"-e", "-p", "D/k.png", "out", "./out/../out/k.png"}, Refusal("same_file"));
  EXPECT_EQ(w.Read("key.bin"), kKey);
  EXPECT_EQ(w.Read("out/k.png"), kKey);
  // A decapsulation reads the key too.
  Out({"-e", "-p", "D/k.png", "img", "key.bin"});
  ExpectRefusal({"-d", "img/k.png", "out", "out/k.png"}, Refusal("same_file"));
  EXPECT_EQ(w.Read("out/k.png"), kKey);
}

// A hashed container restored into its own image's AACS folder under the table's name would
// replace the table it is checked against.
TEST_F(OutputLocation, ResultThatWouldReplaceTheTableIsRefused) {
  w.Write("menu.xml", "<menu/>");
  Out({"-e", "-d", "menu.xml", "img"});
  fs::rename(w.Path("img/ADV_OBJ/menu.xml"), w.Path("img/ADV_OBJ/CONTENT_HASH_TABLE2.AACS"));
  const Bytes table = Table();
  ExpectRefusal({"-d", "img/ADV_OBJ/CONTENT_HASH_TABLE2.AACS", "img/AACS"}, Refusal("same_file"));
  ExpectRefusal({"-d", "img/ADV_OBJ/CONTENT_HASH_TABLE2.AACS", "img/ADV_OBJ/../AACS/"},
                Refusal("same_file"));
  EXPECT_EQ(Table(), table);
}

// Failures leave no file behind, and an earlier result keeps its bytes.
TEST_F(OutputLocation, MissingFoldersAndTablesStopTheRun) {
  w.Write("a.txt", "abc");
  w.Write("menu.xml", "<m/>");
  w.Write("s.js", "js");
  w.MakeFolder("bare/ADV_OBJ");  // no table
  w.Write("bare/ADV_OBJ/menu.xml", "an earlier file");
  w.MakeFolder("out/a.txt");  // a result path that is a folder fails the probe
  const std::string noTable = Refusal("no_table", "bare/AACS/CONTENT_HASH_TABLE2.AACS");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-e", "-d", "a.txt", "out", "key"}, Refusal("no_disc_folder")},
      {{"-e", "-p", "a.txt", "nowhere", "key"}, Refusal("no_output_folder")},
      {{"-e", "-p", "a.txt", "out", "key"}, Refusal("no_output_folder")},
      {{"-e", "-d", "menu.xml", "bare"}, noTable},
      {{"-e", "-d", "menu.xml", "bare/", "key"}, noTable},
      {{"-e", "-d", "s.js", "bare", "key"}, noTable},
  };
  for (const auto& [arguments, out] : cases) ExpectRefusal(arguments, out);
  EXPECT_EQ(w.Read("bare/ADV_OBJ/menu.xml"), "an earlier file");
  // Decapsulation runs "for a disc": a missing folder gets the ADV_OBJ message.
  Out({"-e", "-p", "menu.xml", "back", "key"});
  ExpectRefusal({"-d", "back/menu.xml", "nowhere", "key"}, Refusal("no_disc_folder"));
}

TEST_F(OutputLocation, ComposedPathLengths) {
  w.Write("a.txt", "abc");
  w.Write("menu.xml", "<m/>");
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      // Result path of 271 bytes: accepted (the folder is missing, so the probe speaks).
      {{"-e", "-p", "a.txt", std::string(265, 'o'), "key"}, Refusal("no_output_folder")},
      {{"-e", "-p", "a.txt", std::string(266, 'o'), "key"}, Refusal("path_too_long")},
      // For a disc the ADV_OBJ piece counts: 257 + 9 + 5 = 271, 258 + 9 + 5 = 272.
      {{"-e", "-d", "a.txt", std::string(257, 'o'), "key"}, Refusal("no_disc_folder")},
      {{"-e", "-d", "a.txt", std::string(258, 'o'), "key"}, Refusal("path_too_long")},
      // Table path of 272 bytes (242 + 30): refused for Hash, ignored for a type without table.
      {{"-e", "-d", "menu.xml", std::string(242, 'o')}, Refusal("path_too_long")},
      {{"-e", "-d", "menu.xml", std::string(241, 'o')}, Refusal("no_disc_folder")},
      {{"-e", "-d", "a.txt", std::string(242, 'o'), "key"}, Refusal("no_disc_folder")},
  };
  for (const auto& [arguments, out] : cases) ExpectRefusal(arguments, out);
}

TEST_F(OutputLocation, EmptyOutputMeansTheRootFolder) {
  w.Write("a.txt", "abc");
  if (fs::exists("/ADV_OBJ")) GTEST_SKIP() << "a folder /ADV_OBJ exists on this machine";
  ExpectRefusal({"-e", "-d", "a.txt", "", "key"}, Refusal("no_disc_folder"));
  // For persistent storage the result is "/" and the name; use a name nobody else has.
  const std::string name = "velador-e2e-" + std::to_string(getpid()) + ".txt";
  w.Write(name, "abc");
  const std::string out = Out({"-e", "-p", name, "", "key"});
  std::error_code ignored;
  const bool written = fs::exists("/" + name, ignored);
  fs::remove("/" + name, ignored);
  EXPECT_EQ(out,
            written ? NonProtectedEncapsulation("/" + name, kKey) : Refusal("no_output_folder"));
}

// The files the process `pid` holds open, as the system names them.
std::vector<fs::path> OpenFiles(pid_t pid) {
  std::vector<fs::path> files;
  std::error_code error;
  for (fs::directory_iterator fd("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && fd != end; fd.increment(error)) {
    std::error_code ignored;
    files.push_back(fs::read_symlink(fd->path(), ignored));
  }
  return files;
}

// True once the run `pid` is inside the decapsulation of `container` into `folder`: it holds
// the container open together with its result's temporary file. The container alone would not
// do: the run opens it briefly before, to tell its type, and a run stopped then opens it again
// afterwards, by which time it may have been replaced.
bool RestoringFrom(pid_t pid, const fs::path& container, const fs::path& folder) {
  std::error_code error;
  const fs::path wanted = fs::canonical(container, error);
  const fs::path into = fs::canonical(folder, error);
  bool reading = false, writing = false;
  for (const fs::path& file : OpenFiles(pid)) {
    reading = reading || file == wanted;
    writing = writing ||
              (file.parent_path() == into && file.filename().string().rfind(".velador-", 0) == 0);
  }
  return reading && writing;
}

// A run that replaces a result another run is still reading (Windows refuses to replace a file
// held open, as a scanner or a reader that has just ended may hold it) waits for the reader to
// let go instead of failing; the reader restores the earlier content whole.
TEST_F(OutputLocation, ResultHeldOpenByAnotherRunIsReplacedOnceItLetsGo) {
  const Bytes earlier = SampleContent(64 << 20, 3);
  w.Write("src/big.ttf", earlier);
  w.Write("new/big.ttf", "later");
  Out({"-e", "-p", "src/big.ttf", "out", "key"});
  Workspace capture;
  // Starts a decapsulation of the container and stops it while it holds the container open;
  // one that ends before it can be stopped is let finish and started again.
  const auto startHeldReader = [&]() -> pid_t {
    for (int attempt = 0; attempt < 5; ++attempt) {
      const pid_t reader =
          w.Start({"-d", "out/big.ttf", "back", "key"}, capture.Path("reader.out").string(),
                  capture.Path("reader.err").string());
      const auto held = [&] {
        return RestoringFrom(reader, w.Path("out/big.ttf"), w.Path("back"));
      };
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
      while (!held() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      kill(reader, SIGSTOP);
      if (held()) return reader;
      kill(reader, SIGCONT);
      EXPECT_EQ(WaitForExit(reader), 0);
    }
    return -1;
  };
  const pid_t reader = startHeldReader();
  ASSERT_GT(reader, 0) << "no reader could be held with the container open";
  const pid_t writer =
      w.Start({"-e", "-p", "new/big.ttf", "out", "key"}, capture.Path("writer.out").string(),
              capture.Path("writer.err").string());
  if (UnderWine()) {
    // Windows refuses the replace while the reader holds the file: the writer must be let wait
    // for it, and the reader go on meanwhile.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    kill(reader, SIGCONT);
    EXPECT_EQ(WaitForExit(writer), 0);
  } else {
    // Here the replace never waits: the writer finishes while the reader is still held.
    EXPECT_EQ(WaitForExit(writer), 0);
    kill(reader, SIGCONT);
  }
  EXPECT_EQ(WaitForExit(reader), 0);
  EXPECT_EQ(capture.Read("writer.err") + capture.Read("reader.err"), "");
  bool bareLineFeed = false;
  const Bytes written = capture.Read("writer.out");
  EXPECT_EQ(UnderWine() ? FromWindowsLineEnds(written, bareLineFeed) : written,
            EncryptionEncapsulation("out/big.ttf", kKey));
  EXPECT_TRUE(w.Read("back/big.ttf") == earlier);
  EXPECT_EQ(Out({"-d", "out/big.ttf", "back", "key"}),
            EncryptionDecapsulation("back/big.ttf", kKey, true));
  EXPECT_TRUE(w.Read("back/big.ttf") == "later");
  ExpectNoLeftovers(w);
}

// The old fixed temporary names are never used: users' files of those names stay untouched,
// and nothing but the results appears. An earlier result is replaced whole.
TEST_F(OutputLocation, OnlyTheResultsAppear) {
  w.Write("temp_aacs.tmp", "mine, do not touch");
  w.Write("temp_hash_aacs.tmp", "mine too");
  w.Write("a.txt", "abc");
  w.Write("menu.xml", "<m/>");
  w.Write("p.png", SampleContent(5000));
  w.Write("back/a.txt", SampleContent(1000));
  Out({"-e", "-d", "a.txt", "img", "key"});
  Out({"-e", "-d", "menu.xml", "img"});
  Out({"-e", "-d", "p.png", "img", "key"});
  Out({"-d", "img/ADV_OBJ/a.txt", "back", "key"});
  Out({"-d", "img/ADV_OBJ/menu.xml", "back"});
  Out({"-d", "img/ADV_OBJ/p.png", "back", "key"});
  EXPECT_EQ(w.Read("temp_aacs.tmp"), "mine, do not touch");
  EXPECT_EQ(w.Read("temp_hash_aacs.tmp"), "mine too");
  EXPECT_EQ(w.Read("back/a.txt"), "abc");
  EXPECT_EQ(w.List(), (std::vector<std::string>{
                          "a.txt", "back", "back/a.txt", "back/menu.xml", "back/p.png", "img",
                          "img/AACS", kTablePath, "img/ADV_OBJ", "img/ADV_OBJ/a.txt",
                          "img/ADV_OBJ/menu.xml", "img/ADV_OBJ/p.png", "key", "menu.xml", "other",
                          "out", "p.png", "temp_aacs.tmp", "temp_hash_aacs.tmp"}));
}

}  // namespace
}  // namespace velador::testing

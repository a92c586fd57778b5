// The progress line: how counts read, and how the line is drawn over and erased; and the line an
// interrupt leaves in its place.

#include "app/progress_line.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#endif

#include <chrono>
#include <cstdint>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "app/interrupt_notice.h"
#include "platform/platform.h"

namespace velador {
namespace {

constexpr std::uint64_t kKiB = 1024, kMiB = kKiB << 10, kGiB = kMiB << 10, kTiB = kGiB << 10;

struct CountCase {
  const char* label;
  std::uint64_t bytes;
  const char* text;
};
void PrintTo(const CountCase& c, std::ostream* os) { *os << c.label; }

class ByteCount : public ::testing::TestWithParam<CountCase> {};

TEST_P(ByteCount, ReadsAsThis) { EXPECT_EQ(FormatByteCount(GetParam().bytes), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    All, ByteCount,
    ::testing::Values(CountCase{"Zero", 0, "0 B"}, CountCase{"LastInBytes", 1023, "1023 B"},
                      CountCase{"OneKiB", kKiB, "1.0 KiB"},
                      CountCase{"OneAndAHalfKiB", kKiB + 512, "1.5 KiB"},
                      CountCase{"LastTenthOfKiB", 1023 * kKiB + 900, "1023.9 KiB"},
                      // 1023.95 KiB and more round to 1024.0, which reads as 1.0 MiB.
                      CountCase{"RoundsUpToMiB", kMiB - 1, "1.0 MiB"},
                      CountCase{"LastTenthOfMiB", 1023 * kMiB + 900 * kKiB, "1023.9 MiB"},
                      CountCase{"OneGiB", kGiB, "1.0 GiB"},
                      CountCase{"LargestInput", 4 * kGiB - 1, "4.0 GiB"},
                      CountCase{"PastTheLastUnit", 2000 * kTiB, "2000.0 TiB"}),
    [](const auto& info) { return std::string(info.param.label); });

struct LineCase {
  const char* label;
  std::uint64_t done;
  std::uint64_t total;
  std::uint64_t rate;
  const char* line;
};
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.label; }

class ProgressText : public ::testing::TestWithParam<LineCase> {};

TEST_P(ProgressText, ReadsAsThis) {
  const LineCase& c = GetParam();
  EXPECT_EQ(FormatProgress(c.done, c.total, c.rate), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    All, ProgressText,
    ::testing::Values(
        LineCase{"Start", 0, 4 * kGiB, 0, "   0%  0 B / 4.0 GiB  0 B/s"},
        LineCase{"Midway", 3 * kGiB / 2, 4 * kGiB, 612 * kMiB,
                 "  37%  1.5 GiB / 4.0 GiB  612.0 MiB/s"},
        // Whole percents are rounded down: 100% is shown only once everything is read.
        LineCase{"LastByteMissing", 4 * kGiB - 1, 4 * kGiB, 900 * kKiB,
                 "  99%  4.0 GiB / 4.0 GiB  900.0 KiB/s"},
        LineCase{"Done", 4 * kGiB, 4 * kGiB, 1536 * kMiB, " 100%  4.0 GiB / 4.0 GiB  1.5 GiB/s"},
        LineCase{"MoreThanTheTotal", 5000, 4000, 10, " 100%  3.9 KiB / 3.9 KiB  10 B/s"},
        LineCase{"EmptyInput", 0, 0, 0, " 100%  0 B / 0 B  0 B/s"}),
    [](const auto& info) { return std::string(info.param.label); });

// The line up to its rate, which depends on the clock.
std::string UpToRate(const std::string& line) {
  return line.substr(0, line.rfind("  ", line.find("/s")));
}

TEST(ByteProgress, ShowsTheFilesBytesWhateverTheOperationReadsForThem) {
  ByteCounter counter;
  counter.Add(7);  // before the operation: not its own
  ByteProgress progress(counter);
  progress.Expect(200, 100);  // every byte read twice
  counter.Add(100);
  EXPECT_EQ(UpToRate(progress.Line()), "  50%  50 B / 100 B");
  // Learning of more to read lowers the share done, never the bytes shown.
  progress.Expect(200, 0);
  EXPECT_EQ(UpToRate(progress.Line()), "  25%  25 B / 100 B");
  counter.Add(1000);
  EXPECT_EQ(UpToRate(progress.Line()), " 100%  100 B / 100 B");
}

TEST(ByteProgress, NamesTheFileAtWorkWithoutLettingItBreakTheLine) {
  ByteCounter counter;
  ByteProgress progress(counter);
  progress.Expect(10, 10);
  EXPECT_EQ(progress.Line().find("  a"), std::string::npos);
  progress.At(std::string("a\rb\x1b", 4));
  progress.At(std::string("a\rb\nc\x1b", 6));
  const std::string line = progress.Line();
  EXPECT_TRUE(line.ends_with("/s  a\\rb\\nc\\x1b")) << line;
}

TEST(ProgressLine, ShorterLinesBlankOutTheRestAndEraseLeavesAnEmptyLine) {
  std::ostringstream terminal;
  ProgressLine line(terminal);
  line.Erase();
  EXPECT_EQ(terminal.str(), "");  // nothing drawn, nothing to erase
  line.Draw("12345");
  line.Draw("123");
  line.Erase();
  EXPECT_EQ(terminal.str(), "\r12345\r123  \r     \r");
}

TEST(ProgressWatch, StoppedBeforeItsDelayWritesNothing) {
  std::ostringstream terminal;
  ByteCounter counter;
  ProgressWatch watch(terminal, counter, 100, std::chrono::hours(1));
  counter.Add(100);
  watch.Stop();
  EXPECT_EQ(terminal.str(), "");
}

// The line follows the counter it was given, from where that stood when the watch began.
TEST(ProgressWatch, ShowsTheBytesItsCounterGainedSinceItBegan) {
  std::ostringstream terminal;
  ByteCounter counter;
  counter.Add(30);  // before the operation: not part of it
  ProgressWatch watch(terminal, counter, 100, std::chrono::milliseconds(0),
                      std::chrono::milliseconds(1));
  counter.Add(50);
  bool shown = false;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!shown && std::chrono::steady_clock::now() < deadline) {
    // The watching thread draws only outside StepAside: the terminal can be read in there.
    watch.StepAside(
        [&] { shown = terminal.str().find("  50%  50 B / 100 B") != std::string::npos; });
    std::this_thread::yield();
  }
  watch.Stop();
  EXPECT_TRUE(shown) << terminal.str();
}

#ifndef _WIN32
// What a child process that runs `run` and then raises SIGINT writes to standard error; the
// child must end by the signal.
std::string StandardErrorOfInterrupted(const std::function<void()>& run) {
  int ends[2];
  if (pipe(ends) != 0) return "no pipe";
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    dup2(ends[1], STDERR_FILENO);
    platform::InstallInterruptCleanup();
    run();
    std::raise(SIGINT);
    _exit(0);
  }
  close(ends[1]);
  std::string said;
  char buffer[256];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;) said.append(buffer, got);
  close(ends[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
  return said;
}

// The widest line drawn is blanked out, then the run's words stand on a clean line, in standard
// error's encoding; once the run is over, an interrupt says nothing.
TEST(InterruptNotice, BlanksTheProgressLineThenSaysWhereTheRunStands) {
  EXPECT_EQ(StandardErrorOfInterrupted([] {
              static InterruptNotice notice(TextEncoding::kUtf8);
              notice.CoverProgress(5);
              notice.Say([](Console& c) { c.Text("la imatge \xE9s sencera"); });
              notice.CoverProgress(3);
            }),
            "\r     \rvelador-image: INTERROMPUT: la imatge \xC3\xA9s sencera\n");
  EXPECT_EQ(StandardErrorOfInterrupted([] {
              InterruptNotice notice(TextEncoding::kWindows1252);
              notice.Say([](Console& c) { c.Text("la imatge no ha canviat"); });
            }),
            "");
}
#endif

}  // namespace
}  // namespace velador

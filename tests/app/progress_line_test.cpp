// The progress line: how counts read, and how the line is drawn over and erased.

#include "app/progress_line.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <sstream>
#include <string>
#include <thread>

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

struct FileLineCase {
  const char* label;
  std::uint64_t done;
  std::uint64_t total;
  std::string name;
  const char* line;
};
void PrintTo(const FileLineCase& c, std::ostream* os) { *os << c.label; }

class FileProgressText : public ::testing::TestWithParam<FileLineCase> {};

TEST_P(FileProgressText, ReadsAsThis) {
  const FileLineCase& c = GetParam();
  EXPECT_EQ(FormatFileProgress(c.done, c.total, c.name), c.line);
}

INSTANTIATE_TEST_SUITE_P(
    All, FileProgressText,
    ::testing::Values(
        // The file at work is the one after those done.
        FileLineCase{"First", 0, 10, "menu.xml", "   0%  fitxer 1 de 10: menu.xml"},
        FileLineCase{"Midway", 3, 10, "anim.js", "  30%  fitxer 4 de 10: anim.js"},
        FileLineCase{"Last", 9, 10, "z", "  90%  fitxer 10 de 10: z"},
        // A count past the total never reads as a file past the last.
        FileLineCase{"PastTheTotal", 12, 10, "z", " 100%  fitxer 10 de 10: z"},
        // A name cannot end the line nor move the cursor.
        FileLineCase{"ControlCharacters", 0, 1, std::string("a\rb\nc\x1b", 6),
                     "   0%  fitxer 1 de 1: a\\rb\\nc\\x1b"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FileProgress, SaysNothingBeforeTheFirstFileThenNamesTheLast) {
  FileProgress files(4);
  EXPECT_EQ(files.Line(), "");
  files.At("a", 0);
  files.At("b", 1);
  EXPECT_EQ(files.Line(), "  25%  fitxer 2 de 4: b");
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

}  // namespace
}  // namespace velador

// RunPipeline on small chunks, threaded and inline: what reaches the result, what each step
// sees, which failure wins when several happen, and SpooledBytes on both sides of its bound.

#include "io/chunk_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "io/spooled_bytes.h"
#include "support/workspace.h"

namespace velador {
namespace {

using testing::Bytes;
using testing::SampleContent;
using testing::Workspace;

constexpr std::size_t kChunk = 512;

struct ShapeCase {
  const char* label;
  std::uint64_t length;  // bytes taken from the input
  std::size_t prefixLength;
  std::size_t ringLength;
  bool threaded;
};
void PrintTo(const ShapeCase& c, std::ostream* os) {
  *os << (c.threaded ? "threaded " : "inline ") << c.label;
}

class Pipeline : public ::testing::TestWithParam<ShapeCase> {};

// Two steps: the first adds the byte's stream position to it, the second records what it saw
// and keeps the first 300 bytes of the stream out of the result, as a name block is kept out.
TEST_P(Pipeline, EveryStepSeesEveryChunkInOrderAndTheResultGetsTheRest) {
  const ShapeCase& c = GetParam();
  Workspace w;
  const Bytes content = SampleContent(static_cast<std::size_t>(c.length) + 100, 6);
  w.Write("input", content);
  const Bytes prefix = SampleContent(c.prefixLength, 7);
  InputFile input(w.Path("input").string());
  const StreamSource source{testing::Raw(prefix), prefix.size(), &input, 100, c.length};
  std::vector<std::uint64_t> positions[2];
  Bytes seen;
  const std::vector<ChunkStep> steps = {
      [&](Chunk& chunk) {
        positions[0].push_back(chunk.position);
        for (std::size_t i = 0; i < chunk.count; ++i) {
          chunk.data[i] = static_cast<std::uint8_t>(chunk.data[i] + chunk.position + i);
        }
      },
      [&](Chunk& chunk) {
        positions[1].push_back(chunk.position);
        seen.append(reinterpret_cast<const char*>(chunk.data), chunk.count);
        if (chunk.position < 300)
          chunk.skip = std::min<std::size_t>(chunk.count, 300 - chunk.position);
      }};
  {
    ResultFile result(w.Path("result").string());
    RunPipeline(source, steps, &result, {kChunk, c.ringLength, c.threaded ? 0 : UINT64_MAX});
    result.Commit();
  }
  Bytes expected = prefix + content.substr(100);
  for (std::size_t i = 0; i < expected.size(); ++i)
    expected[i] = static_cast<char>(expected[i] + i);
  EXPECT_TRUE(seen == expected);
  EXPECT_TRUE(w.Read("result") == expected.substr(std::min<std::size_t>(300, expected.size())));
  std::vector<std::uint64_t> chunkStarts;
  for (std::uint64_t at = 0; at < expected.size(); at += kChunk) chunkStarts.push_back(at);
  EXPECT_EQ(positions[0], chunkStarts);
  EXPECT_EQ(positions[1], chunkStarts);
}

std::vector<ShapeCase> ShapeCases() {
  std::vector<ShapeCase> cases;
  for (bool threaded : {false, true}) {
    const auto add = [&](const char* label, std::uint64_t length, std::size_t prefix,
                         std::size_t ring) {
      cases.push_back({label, length, prefix, ring, threaded});
    };
    add("Empty", 0, 0, 4);
    add("OneByte", 1, 0, 4);
    add("PrefixOnly", 0, 272, 4);
    add("ChunkLessOne", kChunk - 273, 272, 4);
    add("Chunk", kChunk - 272, 272, 4);
    add("ChunkAndOne", kChunk - 271, 272, 4);
    add("PrefixOverChunks", 700, 1300, 3);
    add("RingOfOne", 20 * kChunk + 5, 272, 1);
    add("RingOfTwo", 200 * kChunk + 17, 272, 2);
    add("MoreThanTheRing", 64 * kChunk, 0, 4);
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Shapes, Pipeline, ::testing::ValuesIn(ShapeCases()), [](const auto& info) {
  return (info.param.threaded ? "Threaded" : "Inline") + std::string(info.param.label);
});

// The input holds 8 chunks but the source claims 12, so reading chunk 8 fails; a step fails at
// chunk `stepFailsAt` (never when 99). One thread working chunk by chunk meets the earlier one.
struct FailureCase {
  const char* label;
  std::uint64_t stepFailsAt;
  bool inputFailureExpected;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class PipelineFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PipelineFailure, ReportsWhatOneThreadWouldHaveMetFirstAndJoinsEveryThread) {
  const FailureCase& c = GetParam();
  for (bool threaded : {false, true}) {
    Workspace w;
    w.Write("input", SampleContent(8 * kChunk, 2));
    w.Write("result", "earlier");
    InputFile input(w.Path("input").string());
    std::atomic<std::uint64_t> lastWritten{0};
    const std::vector<ChunkStep> steps = {
        [&](Chunk& chunk) {
          if (chunk.position == c.stepFailsAt * kChunk) throw OutputFailure{};
        },
        [&](Chunk& chunk) { lastWritten = chunk.position / kChunk; }};
    bool inputFailure = false, outputFailure = false;
    try {
      ResultFile result(w.Path("result").string());
      RunPipeline({nullptr, 0, &input, 0, 12 * kChunk}, steps, &result,
                  {kChunk, 3, threaded ? 0 : UINT64_MAX});
      result.Commit();
    } catch (const InputFailure&) {
      inputFailure = true;
    } catch (const OutputFailure&) {
      outputFailure = true;
    }
    EXPECT_EQ(inputFailure, c.inputFailureExpected) << threaded;
    EXPECT_EQ(outputFailure, !c.inputFailureExpected) << threaded;
    // Every chunk before the failing one went all the way through.
    EXPECT_EQ(lastWritten, std::min<std::uint64_t>(c.stepFailsAt, 8) - 1) << threaded;
    EXPECT_EQ(w.Read("result"), "earlier");
    EXPECT_EQ(w.List(), (std::vector<std::string>{"input", "result"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Failures, PipelineFailure,
                         ::testing::Values(FailureCase{"StepBeforeRead", 3, false},
                                           FailureCase{"StepAtTheLastReadableChunk", 7, false},
                                           FailureCase{"ReadBeforeStep", 10, true},
                                           FailureCase{"ReadAlone", 99, true}),
                         [](const auto& info) { return std::string(info.param.label); });

// Many short runs with the smallest ring, so that a missing order between the threads shows
// under ThreadSanitizer.
TEST(Pipeline, RepeatedThreadedRunsAgree) {
  Workspace w;
  const Bytes content = SampleContent(40 * kChunk + 3, 9);
  w.Write("input", content);
  InputFile input(w.Path("input").string());
  for (int run = 0; run < 50; ++run) {
    std::uint32_t sum = 0;
    Bytes copy;
    const std::vector<ChunkStep> steps = {
        [&](Chunk& chunk) {
          for (std::size_t i = 0; i < chunk.count; ++i) sum = sum * 31 + chunk.data[i];
        },
        [&](Chunk& chunk) { copy.append(reinterpret_cast<const char*>(chunk.data), chunk.count); }};
    RunPipeline({nullptr, 0, &input, 0, content.size()}, steps, nullptr, {kChunk, 2, 0});
    ASSERT_TRUE(copy == content) << run;
    std::uint32_t expected = 0;
    for (unsigned char byte : content) expected = expected * 31 + byte;
    ASSERT_EQ(sum, expected) << run;
  }
}

TEST(SpooledBytes, GivesBackWhatItWasGivenOnBothSidesOfItsBound) {
  for (std::size_t bound : {std::size_t{1} << 20, std::size_t{100}, std::size_t{0}}) {
    Workspace w;
    const Bytes bytes = SampleContent(5000, 4);
    {
      SpooledBytes spool(w.Root().string() + "/", bound);
      for (std::size_t at = 0; at < bytes.size(); at += 40) {
        spool.Append(testing::Raw(bytes) + at, std::min<std::size_t>(40, bytes.size() - at));
      }
      EXPECT_EQ(spool.Size(), bytes.size());
      EXPECT_EQ(spool.Spilled(), bound < bytes.size());
      EXPECT_EQ(w.List().size(), spool.Spilled() ? 1u : 0u);  // the hidden spool file
      std::uint8_t part[100];
      for (std::size_t at : {std::size_t{0}, std::size_t{1234}, std::size_t{4900}}) {
        spool.ReadAt(at, part, sizeof part);
        EXPECT_EQ(Bytes(part, part + sizeof part), bytes.substr(at, sizeof part)) << at;
      }
      EXPECT_THROW(spool.ReadAt(4901, part, sizeof part), OutputFailure);
    }
    EXPECT_TRUE(w.List().empty());
  }
}

}  // namespace
}  // namespace velador

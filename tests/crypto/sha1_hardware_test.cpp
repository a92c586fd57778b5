// The SHA-1 instruction path against the portable one: the compression function from random
// chaining values, and whole digests of every length from 0 to 1024 bytes split at every
// point, and of 5 MiB in random pieces.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "crypto/code_paths.h"
#include "crypto/sha1_hasher.h"
#include "crypto/vector_files.h"
#include "sha1_compress.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::RandomBytes;

// The digest of `data` fed in `pieces` (lengths that add up to data.size()).
Bytes DigestOn(const CodePath& path, const Bytes& data, const std::vector<std::size_t>& pieces) {
  const test::PinnedPath pin(path);
  Sha1Hasher h;
  std::size_t at = 0;
  for (std::size_t piece : pieces) {
    h.Update(data.data() + at, piece);
    at += piece;
  }
  h.Final();
  return Bytes(h.digest, h.digest + 20);
}

class Sha1InstructionsVsPortable : public testing::Test {
 protected:
  void SetUp() override {
    if (!test::Available(test::kShaNi)) GTEST_SKIP() << "no SHA instructions on this processor";
  }
  std::mt19937 rng{180};
};

TEST_F(Sha1InstructionsVsPortable, CompressionFromRandomStates) {
  sha1::Compressor instructions = sha1::InstructionCompressor(test::kShaNi.features);
  ASSERT_NE(instructions, nullptr);
  {
    const test::PinnedPath pin(test::kShaNi);
    EXPECT_EQ(sha1::ActiveCompressor(), instructions);  // what a hasher reset now takes
  }
  for (int trial = 0; trial < 500; ++trial) {
    std::uint32_t a[5], b[5];
    for (int i = 0; i < 5; ++i) a[i] = b[i] = static_cast<std::uint32_t>(rng());
    const std::size_t count = static_cast<std::size_t>(trial % 10);
    const Bytes blocks = RandomBytes(rng, 64 * count);
    sha1::CompressPortable(a, blocks.data(), count);
    instructions(b, blocks.data(), count);
    ASSERT_TRUE(std::equal(a, a + 5, b)) << "trial " << trial;
  }
}

TEST_F(Sha1InstructionsVsPortable, EveryLengthSplitAtEveryPoint) {
  for (std::size_t n = 0; n <= 1024; ++n) {
    const Bytes data = RandomBytes(rng, n);
    const Bytes expected = DigestOn(test::kPortable, data, {n});
    for (std::size_t split = 0; split <= n; ++split) {
      ASSERT_EQ(DigestOn(test::kShaNi, data, {split, n - split}), expected)
          << n << " bytes split at " << split;
    }
  }
}

TEST_F(Sha1InstructionsVsPortable, SeveralMebibytesInRandomPieces) {
  const Bytes data = RandomBytes(rng, (5u << 20) + 3);
  std::vector<std::size_t> pieces;
  std::uniform_int_distribution<std::size_t> length(0, 9000);
  for (std::size_t left = data.size(); left > 0;) {
    pieces.push_back(std::min(length(rng), left));
    left -= pieces.back();
  }
  EXPECT_EQ(DigestOn(test::kShaNi, data, pieces), DigestOn(test::kPortable, data, {data.size()}));
}

}  // namespace
}  // namespace velador

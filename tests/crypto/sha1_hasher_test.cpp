// Sha1Hasher: the NIST SHAVS byte-oriented files (short, long and Monte Carlo) and the one
// FIPS 180-1 example longer than their messages, on every path; on every path, every length
// from 0 to 1024 bytes split at every point or fed byte by byte, and 5 MiB in random pieces,
// against the portable one-call digest; Sha1EachPiece against a hasher per piece; the
// instruction compressors against the portable one from random states; HashFile's read pieces
// and failures, Reset, and the report formats.

#include "crypto/sha1_hasher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "crypto/code_paths.h"
#include "crypto/vector_files.h"
#include "sha1_compress.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::RandomBytes;
using test::ToHex;

const std::uint8_t* U8(const std::string& s) {
  return reinterpret_cast<const std::uint8_t*>(s.data());
}

std::string Digest(const std::uint8_t* data, std::uint64_t n) {
  Sha1Hasher h;
  h.Update(data, n);
  h.Final();
  return ToHex(h.digest, 20);
}
std::string Digest(const std::string& s) { return Digest(U8(s), s.size()); }

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

// A file under the test's temporary directory, removed again at the end of the test.
class TempFile {
 public:
  TempFile(const std::string& name, const std::string& content)
      : path(testing::TempDir() + "velador_sha1_" + name) {
    std::ofstream(path, std::ios::binary)
        .write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  ~TempFile() { std::remove(path.c_str()); }
  const std::string path;
};

class Sha1OnPath : public test::OnPath<CodePath> {};

// SHAVS: Len is in bits and "Msg = 00" stands for the empty message. The short file holds
// every length from 0 to 64 bytes, so every padding case (55, 56, 63, 64 bytes) on each path.
TEST_P(Sha1OnPath, NistShortAndLongMessages) {
  const std::pair<const char*, std::size_t> files[] = {{"nist/sha/SHA1ShortMsg.rsp", 65},
                                                       {"nist/sha/SHA1LongMsg.rsp", 64}};
  for (const auto& [file, count] : files) {
    const auto records = test::ReadRsp(test::VectorPath(file));
    ASSERT_EQ(records.size(), count) << file;
    for (const auto& r : records) {
      const long bits = r.Number("Len");
      ASSERT_EQ(bits % 8, 0);
      const Bytes message = r.Hex("Msg");
      EXPECT_EQ(Digest(message.data(), static_cast<std::uint64_t>(bits / 8)), ToHex(r.Hex("MD")))
          << file << " Len " << bits;
    }
  }
}

// FIPS 180-1 Appendix C: the only known answer whose length field needs more than the 16 bits
// the SHAVS messages use.
TEST_P(Sha1OnPath, MillionLetters) {
  EXPECT_EQ(Digest(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// SHAVS Monte Carlo: MD_i = SHA1(MD_i-3 || MD_i-2 || MD_i-1), 1000 steps per record, each
// record's result seeding the next.
TEST_P(Sha1OnPath, NistMonteCarlo) {
  const auto records = test::ReadRsp(test::VectorPath("nist/sha/SHA1Monte.rsp"));
  ASSERT_EQ(records.size(), 101u);  // the Seed line, then 100 results
  Bytes seed = records[0].Hex("Seed");
  for (std::size_t k = 1; k < records.size(); ++k) {
    Bytes md[3] = {seed, seed, seed};
    for (int i = 3; i < 1003; ++i) {
      Sha1Hasher h;
      for (const auto& part : md) h.Update(part.data(), part.size());
      h.Final();
      md[0] = md[1];
      md[1] = md[2];
      md[2].assign(h.digest, h.digest + 20);
    }
    ASSERT_EQ(ToHex(md[2]), ToHex(records[k].Hex("MD"))) << "COUNT " << records[k].Text("COUNT");
    seed = md[2];
  }
}

// The message buffer's every fill level meets every way the rest can arrive.
TEST_P(Sha1OnPath, EverySplitAndByteByByteGiveThePortableDigest) {
  std::mt19937 rng(180);
  for (std::size_t n = 0; n <= 1024; ++n) {
    const Bytes data = RandomBytes(rng, n);
    const Bytes expected = DigestOn(test::kPortable, data, {n});
    ASSERT_EQ(DigestOn(GetParam(), data, std::vector<std::size_t>(n, 1)), expected)
        << n << " bytes byte by byte";
    for (std::size_t split = 0; split <= n; ++split) {
      ASSERT_EQ(DigestOn(GetParam(), data, {split, n - split}), expected)
          << n << " bytes split at " << split;
    }
  }
}

TEST_P(Sha1OnPath, SeveralMebibytesInRandomPieces) {
  std::mt19937 rng(181);
  const Bytes data = RandomBytes(rng, (5u << 20) + 3);
  std::vector<std::size_t> pieces;
  std::uniform_int_distribution<std::size_t> length(0, 9000);
  for (std::size_t left = data.size(); left > 0;) {
    pieces.push_back(std::min(length(rng), left));
    left -= pieces.back();
  }
  EXPECT_EQ(DigestOn(GetParam(), data, pieces), DigestOn(test::kPortable, data, {data.size()}));
}

// Pieces of every padding case, in counts that fill the lanes of the instruction path, leave
// one to three over, or fill none, each against a hasher of its own; every piece differs, so
// a digest put in the wrong place or made from another piece's bytes shows.
TEST_P(Sha1OnPath, EachPieceGetsTheDigestOfItsOwnBytes) {
  std::mt19937 rng(182);
  for (std::size_t length : {0, 1, 55, 56, 63, 64, 65, 119, 120, 511, 512, 513, 1000}) {
    for (std::size_t count : {0, 1, 3, 4, 5, 8, 11}) {
      const Bytes data = RandomBytes(rng, length * count);
      Bytes digests(20 * count + 1, 0xa5);  // the byte past the last digest stays
      Sha1EachPiece(data.data(), length, count, digests.data());
      for (std::size_t piece = 0; piece < count; ++piece) {
        ASSERT_EQ(ToHex(digests.data() + 20 * piece, 20),
                  Digest(data.data() + piece * length, length))
            << "piece " << piece << " of " << count << ", " << length << " bytes each";
      }
      ASSERT_EQ(digests.back(), 0xa5) << count << " pieces of " << length << " bytes";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, Sha1OnPath, testing::ValuesIn(test::kShaPaths), test::PathName);

// Whole digests cannot tell which compression call went wrong; this can, from chaining values
// no message reaches (and with block counts of 0 to 9 in one call), for one message and for
// the lanes that run several side by side.
TEST(Sha1Compression, InstructionsMatchPortableFromRandomStates) {
  if (!test::Available(test::kShaInstructions))
    GTEST_SKIP() << "no SHA instructions on this processor";
  sha1::Compressor instructions = sha1::InstructionCompressor(test::kShaInstructions.features);
  ASSERT_NE(instructions, nullptr);
  {
    const test::PinnedPath pin(test::kShaInstructions);
    EXPECT_EQ(sha1::ActiveCompressor(), instructions);  // what a hasher reset now takes
  }
  std::mt19937 rng(180);
  for (int trial = 0; trial < 500; ++trial) {
    std::uint32_t a[5], b[5];
    for (int i = 0; i < 5; ++i) a[i] = b[i] = static_cast<std::uint32_t>(rng());
    const std::size_t count = static_cast<std::size_t>(trial % 10);
    const Bytes blocks = RandomBytes(rng, 64 * count);
    sha1::CompressPortable(a, blocks.data(), count);
    instructions(b, blocks.data(), count);
    ASSERT_TRUE(std::equal(a, a + 5, b)) << "trial " << trial;
  }
  // The lanes, where the path has them: each from a state and blocks of its own.
  const sha1::LanesCompressor lanes =
      sha1::InstructionLanesCompressor(test::kShaInstructions.features);
  if (lanes == nullptr) return;
  for (int trial = 0; trial < 100; ++trial) {
    std::uint32_t expected[sha1::kLanes][5], states[sha1::kLanes][5];
    const std::size_t count = static_cast<std::size_t>(trial % 10);
    Bytes blocks[sha1::kLanes];
    const std::uint8_t* starts[sha1::kLanes];
    for (int lane = 0; lane < sha1::kLanes; ++lane) {
      for (int i = 0; i < 5; ++i) {
        expected[lane][i] = states[lane][i] = static_cast<std::uint32_t>(rng());
      }
      blocks[lane] = RandomBytes(rng, 64 * count);
      starts[lane] = blocks[lane].data();
      sha1::CompressPortable(expected[lane], starts[lane], count);
    }
    lanes(states, starts, count);
    for (int lane = 0; lane < sha1::kLanes; ++lane) {
      ASSERT_TRUE(std::equal(expected[lane], expected[lane] + 5, states[lane]))
          << "trial " << trial << ", lane " << lane;
    }
  }
}

// Files of 8000 and 8001 bytes end exactly at, and one byte past, a read piece.
TEST(Sha1Hasher, HashFilePieceBoundaries) {
  for (std::size_t n : {0, 1, 7999, 8000, 8001, 16001}) {
    std::string content(n, '\0');
    for (std::size_t i = 0; i < n; ++i) content[i] = static_cast<char>(i * 7 + i / 256);
    TempFile file("piece" + std::to_string(n), content);
    Sha1Hasher h;
    ASSERT_TRUE(h.HashFile(file.path.c_str()));
    h.Final();
    EXPECT_EQ(ToHex(h.digest, 20), Digest(content)) << n;
  }
}

// A file that does not read hashes nothing; Reset, also after Final, starts afresh.
TEST(Sha1Hasher, UnreadableFileAndReset) {
  Sha1Hasher h;
  h.Update(U8("ab"), 2);
  EXPECT_FALSE(h.HashFile(nullptr));
  EXPECT_FALSE(h.HashFile((testing::TempDir() + "velador_sha1_no_such_file").c_str()));
  EXPECT_FALSE(h.HashFile(testing::TempDir().c_str()));  // a directory reads short
  h.Final();
  h.Reset();
  h.Update(U8("abc"), 3);
  h.Final();
  std::uint8_t copy[20];
  h.GetHash(copy);
  EXPECT_EQ(ToHex(copy, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");  // FIPS 180-1 App. A
}

TEST(Sha1Hasher, ReportFormats) {
  Sha1Hasher h;
  h.Update(U8("abc"), 3);
  h.Final();
  std::string text = "SHA-1: ";
  h.ReportHash(text, Sha1Hasher::HexReport);
  EXPECT_EQ(text, "SHA-1: A9 99 3E 36 47 06 81 6A BA 3E 25 71 78 50 C2 6C 9C D0 D8 9D");
  text.clear();
  h.ReportHash(text, Sha1Hasher::DecimalReport);
  EXPECT_EQ(text, "169 153 62 54 71 6 129 106 186 62 37 113 120 80 194 108 156 208 216 157");
  for (std::uint8_t type : {2, 255}) {
    text = "previous content";
    h.ReportHash(text, type);
    EXPECT_EQ(text, "Error: Unknown report type!");
  }
}

}  // namespace
}  // namespace velador

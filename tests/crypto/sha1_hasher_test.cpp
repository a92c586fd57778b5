// Sha1Hasher: FIPS 180-1 examples fed in one Update, byte by byte and through HashFile,
// read-piece boundaries, split points, file handling, report formats, and the NIST SHAVS
// byte-oriented files (short, long and Monte Carlo), the known answers on every path.

#include "crypto/sha1_hasher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "crypto/code_paths.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::ToHex;

const std::uint8_t* U8(const std::string& s) { return reinterpret_cast<const std::uint8_t*>(s.data()); }

std::string Digest(const std::uint8_t* data, std::uint64_t n) {
  Sha1Hasher h;
  h.Update(data, n);
  h.Final();
  return ToHex(h.digest, 20);
}
std::string Digest(const std::string& s) { return Digest(U8(s), s.size()); }

// A file under the test's temporary directory, removed again at the end of the test.
class TempFile {
 public:
  TempFile(const std::string& name, const std::string& content)
      : path(testing::TempDir() + "velador_sha1_" + name) {
    std::ofstream(path, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
  }
  ~TempFile() { std::remove(path.c_str()); }
  const std::string path;
};

// FIPS 180-1 Appendices A, B and C.
const std::pair<std::string, const char*> kFips180Examples[] = {
    {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"}};

class Sha1OnPath : public test::OnPath<test::CodePath> {};

// Each example in one Update, byte by byte, and written to a file read by HashFile.
TEST_P(Sha1OnPath, Fips180Examples) {
  for (const auto& [message, expected] : kFips180Examples) {
    EXPECT_EQ(Digest(message), expected);
    Sha1Hasher bytewise;
    for (char c : message) bytewise.Update(reinterpret_cast<const std::uint8_t*>(&c), 1);
    bytewise.Final();
    EXPECT_EQ(ToHex(bytewise.digest, 20), expected);
    TempFile file("fips" + std::to_string(message.size()), message);
    Sha1Hasher fromFile;
    ASSERT_TRUE(fromFile.HashFile(file.path.c_str()));
    fromFile.Final();
    EXPECT_EQ(ToHex(fromFile.digest, 20), expected);
  }
}

// Files of 8000 and 8001 bytes end exactly at, and one byte past, a read piece. (Every padding
// boundary from 0 to 64 bytes is in the SHAVS short-message file.)
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

TEST(Sha1Hasher, EverySplitPointGivesOneCallDigest) {
  std::string message(200, '\0');
  for (std::size_t i = 0; i < message.size(); ++i) message[i] = static_cast<char>(i * 31);
  const std::string expected = Digest(message);
  for (std::size_t split = 0; split <= message.size(); ++split) {
    Sha1Hasher h;
    h.Update(U8(message), split);
    h.Update(U8(message) + split, message.size() - split);
    h.Final();
    ASSERT_EQ(ToHex(h.digest, 20), expected) << split;
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
  EXPECT_EQ(ToHex(copy, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
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

// SHAVS: Len is in bits and "Msg = 00" stands for the empty message.
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

INSTANTIATE_TEST_SUITE_P(Paths, Sha1OnPath, testing::ValuesIn(test::kShaPaths), test::PathName);

}  // namespace
}  // namespace velador

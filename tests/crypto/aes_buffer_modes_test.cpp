// AesCipher's buffer operations, each mode and direction, on every path: 16-byte blocks on the
// portable path and on each instruction path, 24- and 32-byte blocks on the portable path (the
// only one they have). Round trips at the lengths around a block; every length from 0 to 1024
// bytes in and out of place against the portable path, chain block included; whole-block pieces of
// every split and of a long stream in random pieces continuing the chain; re-keying resetting it.
// EncryptCbcHashingUnits against the portable CBC and a hasher per unit, on every path it has.
// Known answers are in aes_cipher_vectors_test.cpp.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "crypto/aes_cipher.h"
#include "crypto/code_paths.h"
#include "crypto/sha1_hasher.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::ExposedCipher;
using test::Mismatch;
using test::RandomBytes;

using Direction = void (AesCipher::*)(const std::uint8_t*, std::uint8_t*, std::uint64_t, int);
constexpr Direction kDirections[] = {&AesCipher::Encrypt, &AesCipher::Decrypt};

struct ModeCase {
  int blockLength;
  int mode;
  CodePath path;
};
void PrintTo(const ModeCase& c, std::ostream* os) {
  *os << c.path.name << " " << c.blockLength << "/" << c.mode;
}
const CodePath& PathOf(const ModeCase& c) { return c.path; }

class AesBufferModes : public test::OnPath<ModeCase> {
 protected:
  std::size_t Width() const { return static_cast<std::size_t>(GetParam().blockLength); }
  bool TakesInstructions() const { return GetParam().path.features.aes && Width() == 16; }
  ExposedCipher On(const CodePath& path) {
    return test::KeyedOn(path, key, chain, GetParam().blockLength);
  }
  ExposedCipher OnThisPath() { return On(GetParam().path); }
  void Run(Direction op, AesCipher& c, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    (c.*op)(in, out, n, GetParam().mode);
  }
  // `data` through a fresh portable-path object, into a buffer filled with `fill`.
  Bytes ThroughPortable(Direction op, const Bytes& data, std::uint8_t fill) {
    ExposedCipher portable = On(test::kPortable);
    Bytes out(data.size(), fill);
    Run(op, portable, data.data(), out.data(), data.size());
    return out;
  }
  // The chain block an object ended with, seen through one more block.
  Bytes NextBlock(Direction op, AesCipher& c) {
    Bytes block(Width(), 0x5c);
    Run(op, c, block.data(), block.data(), block.size());
    return block;
  }

  std::mt19937 rng{0x5eed};
  Bytes key = RandomBytes(rng, 16);
  Bytes chain = RandomBytes(rng, 32);
};

TEST_P(AesBufferModes, RoundTripLeavesPartialTailAlone) {
  const std::size_t b = Width();
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, b - 1, b, b + 1, 2 * b - 1, 2 * b,
                        2 * b + 1, std::size_t{100}, std::size_t{272}}) {
    SCOPED_TRACE(n);
    const Bytes plain = RandomBytes(rng, n);
    const Bytes sentinel(n, 0xee);
    Bytes cipher = sentinel, back = sentinel;
    ExposedCipher encrypting = OnThisPath(), decrypting = OnThisPath();
    Run(&AesCipher::Encrypt, encrypting, plain.data(), cipher.data(), n);
    Run(&AesCipher::Decrypt, decrypting, cipher.data(), back.data(), n);
    const auto whole = static_cast<long>(n - n % b);
    EXPECT_TRUE(std::equal(cipher.begin() + whole, cipher.end(), sentinel.begin() + whole));
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + whole, back.begin()));
    EXPECT_TRUE(std::equal(back.begin() + whole, back.end(), sentinel.begin() + whole));
  }
}

// Fresh key and chain for every length. On the portable path this is in place against out of
// place; in place, the partial block at the end keeps the input.
TEST_P(AesBufferModes, EveryLengthMatchesPortableInAndOutOfPlace) {
  for (Direction op : kDirections) {
    for (std::size_t n = 0; n <= 1024; ++n) {
      key = RandomBytes(rng, 16);
      chain = RandomBytes(rng, 32);
      const Bytes data = RandomBytes(rng, n);
      ExposedCipher portable = On(test::kPortable), separate = OnThisPath(), inPlace = OnThisPath();
      ASSERT_EQ(separate.OnInstructions(), TakesInstructions());
      Bytes expected(n, 0xa5), out(n, 0xa5), same = data;
      Run(op, portable, data.data(), expected.data(), n);
      Run(op, separate, data.data(), out.data(), n);
      Run(op, inPlace, same.data(), same.data(), n);
      ASSERT_EQ(Mismatch(out, expected), "") << n << " bytes out of place";
      const auto tail = static_cast<long>(n % Width());
      std::copy(data.end() - tail, data.end(), expected.end() - tail);
      ASSERT_EQ(Mismatch(same, expected), "") << n << " bytes in place";
      const Bytes next = NextBlock(op, portable);
      ASSERT_EQ(NextBlock(op, separate), next) << n << " bytes out of place: chain";
      ASSERT_EQ(NextBlock(op, inPlace), next) << n << " bytes in place: chain";
    }
  }
}

// Whole-block pieces continue the chain however the data is cut; a call shorter than a block
// between them changes nothing. Then a long stream in pieces of random block counts, 0
// included: mebibytes where the instructions run, whose loops take several blocks at a time.
TEST_P(AesBufferModes, PiecesCarryTheChain) {
  const std::size_t b = Width();
  for (Direction op : kDirections) {
    for (std::size_t n = 0; n <= 64 * b; n += b) {
      const Bytes data = RandomBytes(rng, n);
      const Bytes expected = ThroughPortable(op, data, 0);
      for (std::size_t split = 0; split <= n; split += b) {
        ExposedCipher c = OnThisPath();
        Bytes buffer = data;
        Run(op, c, buffer.data(), buffer.data(), split);
        Run(op, c, buffer.data() + split, buffer.data() + split, std::min(b - 1, n - split));
        Run(op, c, buffer.data() + split, buffer.data() + split, n - split);
        ASSERT_EQ(Mismatch(buffer, expected), "") << n << " bytes split at " << split;
      }
    }
    const Bytes data = RandomBytes(rng, (TakesInstructions() ? 3u << 20 : 256u << 10) + 7);
    const Bytes expected = ThroughPortable(op, data, 0xa5);
    ExposedCipher c = OnThisPath();
    Bytes out(data.size(), 0xa5);
    std::uniform_int_distribution<std::size_t> blocks(0, 700);
    const std::size_t whole = data.size() - data.size() % b;
    for (std::size_t at = 0; at < whole;) {
      const std::size_t piece = std::min(b * blocks(rng), whole - at);
      Run(op, c, data.data() + at, out.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(Mismatch(out, expected), "") << "random pieces";
  }
}

TEST_P(AesBufferModes, MakeKeyAgainResetsChain) {
  const Bytes data = RandomBytes(rng, 3 * Width());
  const Bytes expected = ThroughPortable(&AesCipher::Encrypt, data, 0);
  ExposedCipher c = test::KeyedOn(GetParam().path, RandomBytes(rng, 16), RandomBytes(rng, 32),
                                  GetParam().blockLength);
  Bytes out(data.size());
  Run(&AesCipher::Encrypt, c, data.data(), out.data(), data.size());
  c.MakeKey(key.data(), chain.data(), 16, GetParam().blockLength);
  Run(&AesCipher::Encrypt, c, data.data(), out.data(), data.size());
  EXPECT_EQ(out, expected);
}

// 16-byte blocks on every path; 24- and 32-byte blocks have the portable path alone.
std::vector<ModeCase> AllModeCases() {
  std::vector<ModeCase> cases;
  for (int mode : {ECB, CBC, CFB}) {
    for (const CodePath& path : test::kAesPaths) cases.push_back({16, mode, path});
    for (int blockLength : {24, 32}) cases.push_back({blockLength, mode, test::kPortable});
  }
  return cases;
}

std::string ModeCaseName(const testing::TestParamInfo<ModeCase>& info) {
  const char* modes[] = {"Ecb", "Cbc", "Cfb"};
  return modes[info.param.mode] + std::to_string(info.param.blockLength) + "_" +
         info.param.path.name;
}

INSTANTIATE_TEST_SUITE_P(Cases, AesBufferModes, testing::ValuesIn(AllModeCases()), ModeCaseName);

// EncryptCbcHashingUnits: its one pass where a key on the AES instructions meets SHA
// instructions (x86-64), enciphering then hashing everywhere else; the same bytes on each.
class AesCbcHashingUnits : public test::OnPath<CodePath> {
 protected:
  // What the call must give: `data` enciphered in CBC on the portable path (a partial block
  // at the end left as it was) and a hasher's digest of each whole 512-byte unit of that.
  struct Expected {
    Bytes cipher, digests, next;
  };
  Expected Expect(const Bytes& data) {
    ExposedCipher portable = test::KeyedOn(test::kPortable, key, chain);
    Expected e{data, {}, Bytes(16, 0x5c)};
    portable.Encrypt(e.cipher.data(), e.cipher.data(), e.cipher.size(), CBC);
    for (std::size_t at = 0; at + 512 <= e.cipher.size(); at += 512) {
      Sha1Hasher hasher;
      hasher.Update(e.cipher.data() + at, 512);
      hasher.Final();
      e.digests.insert(e.digests.end(), hasher.digest, hasher.digest + 20);
    }
    portable.Encrypt(e.next.data(), e.next.data(), 16, CBC);
    return e;
  }

  std::mt19937 rng{0xcbc};
  Bytes key = RandomBytes(rng, 16);
  Bytes chain = RandomBytes(rng, 16);
};

// Fresh key and chain for every length: every whole-block length to four units and a half,
// and lengths that leave part of a block; the byte after the last digest stays as it was.
TEST_P(AesCbcHashingUnits, EveryLengthGivesTheCipherAndEachUnitsDigest) {
  std::vector<std::size_t> lengths;
  for (std::size_t n = 0; n <= 2304; n += 16) lengths.push_back(n);
  for (std::size_t n : {1, 15, 17, 511, 513, 1023, 1025, 4103}) lengths.push_back(n);
  for (std::size_t n : lengths) {
    key = RandomBytes(rng, 16);
    chain = RandomBytes(rng, 16);
    const Bytes data = RandomBytes(rng, n);
    const Expected expected = Expect(data);
    ExposedCipher c = test::KeyedOn(GetParam(), key, chain);
    const bool onePass = GetParam().features.aes && GetParam().features.sha;
    ASSERT_EQ(c.HashesUnitsInPass(), onePass && !VELADOR_CRYPTO_ARM64);
    Bytes buffer = data, digests(expected.digests.size() + 1, 0xa5);
    c.EncryptCbcHashingUnits(buffer.data(), n, digests.data());
    ASSERT_EQ(Mismatch(buffer, expected.cipher), "") << n << " bytes";
    ASSERT_EQ(Mismatch(Bytes(digests.begin(), digests.end() - 1), expected.digests), "")
        << n << " bytes: digests";
    ASSERT_EQ(digests.back(), 0xa5) << n << " bytes: past the digests";
    Bytes next(16, 0x5c);
    c.Encrypt(next.data(), next.data(), 16, CBC);
    ASSERT_EQ(next, expected.next) << n << " bytes: chain";
  }
}

// A long stream in pieces of whole units, of random counts (0 included), continues the chain
// and gives every unit's digest, as the pipeline's chunks do.
TEST_P(AesCbcHashingUnits, UnitPiecesCarryTheChain) {
  const Bytes data = RandomBytes(rng, (3u << 20) + 7);
  const Expected expected = Expect(data);
  ExposedCipher c = test::KeyedOn(GetParam(), key, chain);
  Bytes buffer = data, digests;
  std::uniform_int_distribution<std::size_t> units(0, 300);
  for (std::size_t at = 0; at < data.size();) {
    const std::size_t piece = std::min(512 * units(rng), data.size() - at);
    Bytes some(20 * (piece / 512));
    c.EncryptCbcHashingUnits(buffer.data() + at, piece, some.data());
    digests.insert(digests.end(), some.begin(), some.end());
    at += piece;
  }
  EXPECT_EQ(Mismatch(buffer, expected.cipher), "");
  EXPECT_EQ(Mismatch(digests, expected.digests), "");
}

constexpr CodePath kCbcHashingPaths[] = {
    test::kPortable,
    test::kAesInstructions,
    {"AesAndSha", {.aes = true, .sha = true}},
#if !VELADOR_CRYPTO_ARM64
    {"VaesAndSha", {.aes = true, .vaes = true, .sha = true}},
#endif
};

INSTANTIATE_TEST_SUITE_P(Paths, AesCbcHashingUnits, testing::ValuesIn(kCbcHashingPaths),
                         test::PathName);

}  // namespace
}  // namespace velador

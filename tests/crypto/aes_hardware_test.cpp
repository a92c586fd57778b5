// AesCipher's instruction paths against its table path on random keys, chains and data: every
// length from 0 to 1024 bytes in and out of place, every split into two calls, 3 MiB in random
// pieces, each mode and direction; key schedules; and re-keying between the paths.

#include "aes_hardware.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "crypto/aes_cipher.h"
#include "crypto/code_paths.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::Mismatch;
using test::PinnedPath;
using test::RandomBytes;

class ExposedCipher : public AesCipher {
 public:
  using AesCipher::OnInstructions;
};

ExposedCipher KeyedOn(const CodePath& path, const Bytes& key, const Bytes& chain,
                      int blockLength = 16) {
  const PinnedPath pin(path);
  ExposedCipher c;
  c.MakeKey(key.data(), chain.data(), static_cast<int>(key.size()), blockLength);
  return c;
}

struct ModeCase {
  CodePath path;
  int mode;
  bool decrypt;
};
void PrintTo(const ModeCase& c, std::ostream* os) {
  *os << c.path.name << (c.decrypt ? " decrypt " : " encrypt ") << c.mode;
}
const CodePath& PathOf(const ModeCase& c) {
  return c.path;
}

class AesInstructionsVsTables : public test::OnPath<ModeCase> {
 protected:
  void Run(AesCipher& c, const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
    if (GetParam().decrypt) {
      c.Decrypt(in, out, n, GetParam().mode);
    } else {
      c.Encrypt(in, out, n, GetParam().mode);
    }
  }
  ExposedCipher Tables() { return KeyedOn(test::kPortable, key, chain); }
  ExposedCipher Instructions() { return KeyedOn(GetParam().path, key, chain); }
  // The chain block an object ended with, seen through one more block.
  Bytes NextBlock(AesCipher& c) {
    Bytes block(16, 0x5c);
    Run(c, block.data(), block.data(), block.size());
    return block;
  }
  Bytes ThroughTables(const Bytes& data, std::uint8_t fill) {
    AesCipher tables = Tables();
    Bytes out(data.size(), fill);
    Run(tables, data.data(), out.data(), data.size());
    return out;
  }

  std::mt19937 rng{0x5eed};
  Bytes key = RandomBytes(rng, 16);
  Bytes chain = RandomBytes(rng, 16);
};

TEST_P(AesInstructionsVsTables, EveryLengthInAndOutOfPlace) {
  for (std::size_t n = 0; n <= 1024; ++n) {
    key = RandomBytes(rng, 16);
    chain = RandomBytes(rng, 16);
    const Bytes data = RandomBytes(rng, n);
    ExposedCipher tables = Tables(), separate = Instructions(), inPlace = Instructions();
    ASSERT_TRUE(separate.OnInstructions());
    Bytes expected(n, 0xa5), out(n, 0xa5), same = data;
    Run(tables, data.data(), expected.data(), n);
    Run(separate, data.data(), out.data(), n);
    Run(inPlace, same.data(), same.data(), n);
    ASSERT_EQ(Mismatch(out, expected), "") << n << " bytes out of place";
    // In place, the partial block at the end keeps the input.
    std::copy(data.end() - static_cast<long>(n % 16), data.end(),
              expected.end() - static_cast<long>(n % 16));
    ASSERT_EQ(Mismatch(same, expected), "") << n << " bytes in place";
    const Bytes next = NextBlock(tables);
    ASSERT_EQ(NextBlock(separate), next) << n << " bytes out of place: chain";
    ASSERT_EQ(NextBlock(inPlace), next) << n << " bytes in place: chain";
  }
}

TEST_P(AesInstructionsVsTables, EverySplitCarriesTheChain) {
  for (std::size_t n = 0; n <= 1024; n += 16) {
    const Bytes data = RandomBytes(rng, n);
    const Bytes expected = ThroughTables(data, 0);
    for (std::size_t split = 0; split <= n; split += 16) {
      AesCipher c = Instructions();
      Bytes buffer = data;
      Run(c, buffer.data(), buffer.data(), split);
      Run(c, buffer.data() + split, buffer.data() + split, n - split);
      ASSERT_EQ(Mismatch(buffer, expected), "") << n << " bytes split at " << split;
    }
  }
}

TEST_P(AesInstructionsVsTables, SeveralMebibytesInRandomPieces) {
  const Bytes data = RandomBytes(rng, (3u << 20) + 7);
  const Bytes expected = ThroughTables(data, 0xa5);
  AesCipher c = Instructions();
  Bytes out(data.size(), 0xa5);
  std::uniform_int_distribution<std::size_t> blocks(0, 700);
  const std::size_t whole = data.size() - data.size() % 16;
  for (std::size_t at = 0; at < whole;) {
    const std::size_t piece = std::min(16 * blocks(rng), whole - at);
    Run(c, data.data() + at, out.data() + at, piece);
    at += piece;
  }
  ASSERT_EQ(Mismatch(out, expected), "");
}

std::vector<ModeCase> AllModeCases() {
  std::vector<ModeCase> cases;
  for (const CodePath& path : test::kAesInstructionPaths) {
    for (int mode : {ECB, CBC, CFB}) {
      for (bool decrypt : {false, true}) cases.push_back({path, mode, decrypt});
    }
  }
  return cases;
}

std::string ModeCaseName(const testing::TestParamInfo<ModeCase>& info) {
  const char* modes[] = {"Ecb", "Cbc", "Cfb"};
  return std::string(info.param.path.name) + modes[info.param.mode] +
         (info.param.decrypt ? "Decrypt" : "Encrypt");
}

INSTANTIATE_TEST_SUITE_P(Modes, AesInstructionsVsTables, testing::ValuesIn(AllModeCases()),
                         ModeCaseName);

class AesKeySchedules : public test::OnPath<CodePath> {};

// The first keys are the extremes; the rest random.
TEST_P(AesKeySchedules, SingleBlocksMatchTables) {
  std::mt19937 rng(128);
  for (int trial = 0; trial < 2000; ++trial) {
    const Bytes key = trial == 0   ? Bytes(16, 0)
                      : trial == 1 ? Bytes(16, 0xff)
                                   : RandomBytes(rng, 16);
    ExposedCipher instructions = KeyedOn(GetParam(), key, Bytes(16));
    ExposedCipher tables = KeyedOn(test::kPortable, key, Bytes(16));
    ASSERT_TRUE(instructions.OnInstructions());
    ASSERT_FALSE(tables.OnInstructions());
    const Bytes block = RandomBytes(rng, 16);
    Bytes a(16), b(16);
    instructions.EncryptBlock(block.data(), a.data());
    tables.EncryptBlock128(block.data(), b.data());
    ASSERT_EQ(a, b) << "encrypt, trial " << trial;
    instructions.DecryptBlock128(block.data(), a.data());
    tables.DecryptBlock(block.data(), b.data());
    ASSERT_EQ(a, b) << "decrypt, trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesKeySchedules, testing::ValuesIn(test::kAesInstructionPaths),
                         test::PathName);

// Only 16-byte keys with 16-byte blocks take the instructions; an object re-keyed across the
// paths gives what a fresh table-path object gives each time.
TEST(AesPaths, RekeyingSwitchesPathsCleanly) {
  if (!test::Available(test::kAesNi)) GTEST_SKIP() << "no AES instructions on this processor";
  std::mt19937 rng(7);
  const Bytes key = RandomBytes(rng, 32), chain = RandomBytes(rng, 32);
  const Bytes data = RandomBytes(rng, 5 * 32);
  ExposedCipher c;
  for (const auto& [keyLength, blockLength] :
       {std::pair{16, 16}, {32, 16}, {16, 16}, {16, 24}, {24, 24}, {16, 16}}) {
    const Bytes k(key.begin(), key.begin() + keyLength);
    c.MakeKey(k.data(), chain.data(), keyLength, blockLength);
    EXPECT_EQ(c.OnInstructions(), keyLength == 16 && blockLength == 16);
    ExposedCipher tables = KeyedOn(test::kPortable, k, chain, blockLength);
    Bytes a(data.size()), b(data.size());
    c.Encrypt(data.data(), a.data(), data.size(), CBC);
    tables.Encrypt(data.data(), b.data(), data.size(), CBC);
    EXPECT_EQ(Mismatch(a, b), "") << keyLength << "/" << blockLength;
  }
}

TEST(AesPaths, EachFeatureSetGetsItsEngine) {
  using aes_hardware::EngineFor;
  EXPECT_EQ(EngineFor({}), nullptr);
  EXPECT_EQ(EngineFor({.sha = true}), nullptr);
  if (!test::Available(test::kAesNi)) GTEST_SKIP() << "no AES instructions on this processor";
  EXPECT_NE(EngineFor({.aes = true}), nullptr);
#if !defined(_WIN32)
  if (test::Available(test::kVaes)) {
    EXPECT_NE(EngineFor({.aes = true, .vaes = true}), EngineFor({.aes = true}));
  }
#endif
}

}  // namespace
}  // namespace velador

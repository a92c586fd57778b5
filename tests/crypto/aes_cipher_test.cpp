// AesCipher: block known answers (FIPS-197 Appendix C; the tables are exercised by these and by
// the NIST files), the rounds table,
// 24- and 32-byte blocks against a plain reference model, the two block paths against each
// other, and the buffer modes (NIST SP 800-38A Appendix F examples plus properties).

#include "crypto/aes_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <tuple>

#include "aes_tables.h"
#include "crypto/code_paths.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::FromHex;
using test::RandomBytes;
using test::ToHex;

class ExposedCipher : public AesCipher {
 public:
  using AesCipher::DecryptBlockGeneral;
  using AesCipher::EncryptBlockGeneral;
};

AesCipher Keyed(const Bytes& key, const Bytes& chain, int blockLength) {
  AesCipher c;
  c.MakeKey(key.data(), chain.data(), static_cast<int>(key.size()), blockLength);
  return c;
}

// FIPS-197 Appendix C.1 to C.3.
TEST(AesCipher, Fips197AppendixC) {
  const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
  const std::pair<const char*, const char*> cases[] = {
      {"000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
       "8ea2b7ca516745bfeafc49904b496089"}};
  for (const auto& [key, expected] : cases) {
    SCOPED_TRACE(key);
    AesCipher c = Keyed(FromHex(key), Bytes(32), 16);
    Bytes out(16), back(16);
    c.EncryptBlock(plain.data(), out.data());
    EXPECT_EQ(ToHex(out), expected);
    c.DecryptBlock(out.data(), back.data());
    EXPECT_EQ(back, plain);
    Bytes inPlace = plain;
    c.EncryptBlock(inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, out);
    c.DecryptBlock(inPlace.data(), inPlace.data());
    EXPECT_EQ(inPlace, plain);
  }
}

TEST(AesCipher, RoundsFollowTheLongerLength) {
  const std::tuple<int, int, int> table[] = {{16, 16, 10}, {24, 16, 12}, {32, 16, 14},
                                             {16, 24, 12}, {24, 24, 12}, {32, 24, 14},
                                             {16, 32, 14}, {24, 32, 14}, {32, 32, 14}};
  const Bytes key(32, 0x5a);
  for (const auto& [keyLength, blockLength, rounds] : table) {
    AesCipher c;
    c.MakeKey(key.data(), zeroChain, keyLength, blockLength);
    EXPECT_EQ(c.Rounds(), rounds) << keyLength << "/" << blockLength;
    EXPECT_EQ(c.BlockLength(), blockLength);
  }
}

TEST(AesCipher, RejectsOtherLengthsAndKeepsPreviousKey) {
  const Bytes key = FromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = FromHex("00112233445566778899aabbccddeeff");
  AesCipher c = Keyed(key, Bytes(16), 16);
  const std::pair<int, int> bad[] = {{0, 16}, {15, 16}, {20, 16}, {33, 16}, {-16, 16},
                                     {16, 0}, {16, 8}, {16, 64}, {16, -1}};
  for (const auto& [keyLength, blockLength] : bad) {
    EXPECT_THROW(c.MakeKey(key.data(), zeroChain, keyLength, blockLength), std::invalid_argument)
        << keyLength << "/" << blockLength;
  }
  Bytes out(16);
  c.EncryptBlock(plain.data(), out.data());
  EXPECT_EQ(ToHex(out), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

// Textbook Rijndael on a byte state (column-major), independent of the table-driven code,
// for the block widths no published AES vector covers.
Bytes ReferenceEncrypt(const Bytes& key, const Bytes& in) {
  const auto& sbox = aes_tables::S;
  const int nb = static_cast<int>(in.size()) / 4, nk = static_cast<int>(key.size()) / 4;
  const int nr = std::max(nb, nk) + 6;
  std::vector<std::array<std::uint8_t, 4>> w(static_cast<std::size_t>(nb * (nr + 1)));
  std::uint8_t rc = 1;
  for (int i = 0; i < nb * (nr + 1); ++i) {
    if (i < nk) {
      for (int b = 0; b < 4; ++b) w[i][b] = key[4 * i + b];
      continue;
    }
    auto t = w[i - 1];
    if (i % nk == 0) {
      t = {static_cast<std::uint8_t>(sbox[t[1]] ^ rc), sbox[t[2]], sbox[t[3]], sbox[t[0]]};
      rc = static_cast<std::uint8_t>((rc << 1) ^ ((rc & 0x80) ? 0x1b : 0));
    } else if (nk > 6 && i % nk == 4) {
      for (auto& b : t) b = sbox[b];
    }
    for (int b = 0; b < 4; ++b) w[i][b] = w[i - nk][b] ^ t[b];
  }
  const int shift[4] = {0, 1, nb == 8 ? 3 : 2, nb == 8 ? 4 : 3};
  auto xt = [](std::uint8_t a) {
    return static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1b : 0));
  };
  Bytes s = in;
  auto addKey = [&](int round) {
    for (int c = 0; c < nb; ++c)
      for (int r = 0; r < 4; ++r) s[4 * c + r] ^= w[round * nb + c][r];
  };
  addKey(0);
  for (int round = 1; round <= nr; ++round) {
    Bytes t(s.size());
    for (int c = 0; c < nb; ++c)
      for (int r = 0; r < 4; ++r) t[4 * c + r] = sbox[s[4 * ((c + shift[r]) % nb) + r]];
    s = t;
    if (round < nr) {
      for (int c = 0; c < nb; ++c) {
        std::uint8_t* a = &s[4 * c];
        const std::uint8_t a0 = a[0], a1 = a[1], a2 = a[2], a3 = a[3];
        a[0] = static_cast<std::uint8_t>(xt(a0) ^ xt(a1) ^ a1 ^ a2 ^ a3);
        a[1] = static_cast<std::uint8_t>(a0 ^ xt(a1) ^ xt(a2) ^ a2 ^ a3);
        a[2] = static_cast<std::uint8_t>(a0 ^ a1 ^ xt(a2) ^ xt(a3) ^ a3);
        a[3] = static_cast<std::uint8_t>(xt(a0) ^ a0 ^ a1 ^ a2 ^ xt(a3));
      }
    }
    addKey(round);
  }
  return s;
}

TEST(AesCipher, EveryKeyAndBlockLengthMatchesReferenceModel) {
  std::mt19937 rng(197);
  for (int keyLength : {16, 24, 32}) {
    for (int blockLength : {16, 24, 32}) {
      for (int trial = 0; trial < 20; ++trial) {
        SCOPED_TRACE(std::to_string(keyLength) + "/" + std::to_string(blockLength));
        const Bytes key = RandomBytes(rng, static_cast<std::size_t>(keyLength));
        const Bytes plain = RandomBytes(rng, static_cast<std::size_t>(blockLength));
        AesCipher c = Keyed(key, Bytes(32), blockLength);
        Bytes out(plain.size()), back(plain.size());
        c.EncryptBlock(plain.data(), out.data());
        ASSERT_EQ(ToHex(out), ToHex(ReferenceEncrypt(key, plain)));
        c.DecryptBlock(out.data(), back.data());
        ASSERT_EQ(back, plain);
      }
    }
  }
}

TEST(AesCipher, FourColumnPathAgreesWithGeneralPath) {
  const test::PinnedPath tables(test::kPortable);
  std::mt19937 rng(4);
  for (int keyLength : {16, 24, 32}) {
    for (int trial = 0; trial < 200; ++trial) {
      ExposedCipher c;
      const Bytes key = RandomBytes(rng, static_cast<std::size_t>(keyLength));
      c.MakeKey(key.data(), zeroChain, keyLength, 16);
      const Bytes block = RandomBytes(rng, 16);
      Bytes fast(16), general(16);
      c.EncryptBlock128(block.data(), fast.data());
      c.EncryptBlockGeneral(block.data(), general.data());
      ASSERT_EQ(fast, general);
      c.DecryptBlock128(block.data(), fast.data());
      c.DecryptBlockGeneral(block.data(), general.data());
      ASSERT_EQ(fast, general);
    }
  }
}

// NIST SP 800-38A F.1.1/F.1.2 (ECB), F.2.1/F.2.2 (CBC), F.3.13/F.3.14 (CFB128), AES-128.
class AesBufferModes : public test::OnPath<test::CodePath> {};

TEST_P(AesBufferModes, Sp800_38aExamples) {
  const Bytes key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = FromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = FromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const char* ecb =
      "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
      "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4";
  // Mode values other than CBC and CFB act as ECB.
  const std::pair<int, const char*> cases[] = {
      {ECB, ecb},
      {3, ecb},
      {-1, ecb},
      {CBC, "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
            "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7"},
      {CFB, "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
            "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"}};
  for (const auto& [mode, expected] : cases) {
    SCOPED_TRACE(mode);
    Bytes out(plain.size());
    Keyed(key, iv, 16).Encrypt(plain.data(), out.data(), out.size(), mode);
    EXPECT_EQ(ToHex(out), expected);
    Bytes back(plain.size());
    Keyed(key, iv, 16).Decrypt(out.data(), back.data(), out.size(), mode);
    EXPECT_EQ(back, plain);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesBufferModes, testing::ValuesIn(test::kAesPaths), test::PathName);

using Direction = void (AesCipher::*)(const std::uint8_t*, std::uint8_t*, std::uint64_t, int);
struct ModeCase {
  int blockLength;
  int mode;
};
void PrintTo(const ModeCase& c, std::ostream* os) { *os << c.blockLength << "/" << c.mode; }

class AesBufferModeProperties : public testing::TestWithParam<ModeCase> {
 protected:
  Bytes Run(Direction op, const Bytes& in, std::size_t n, Bytes out, AesCipher* c = nullptr) {
    AesCipher fresh = Keyed(key, chain, GetParam().blockLength);
    ((c ? *c : fresh).*op)(in.data(), out.data(), n, GetParam().mode);
    return out;
  }
  std::mt19937 rng{38};
  Bytes key = RandomBytes(rng, 16);
  Bytes chain = RandomBytes(rng, 32);
};

TEST_P(AesBufferModeProperties, RoundTripLeavesPartialTailAlone) {
  const std::size_t b = static_cast<std::size_t>(GetParam().blockLength);
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, b - 1, b, b + 1, 2 * b - 1, 2 * b,
                        2 * b + 1, std::size_t{100}, std::size_t{272}}) {
    SCOPED_TRACE(n);
    const Bytes plain = RandomBytes(rng, n);
    const Bytes sentinel(n, 0xee);
    const Bytes cipher = Run(&AesCipher::Encrypt, plain, n, sentinel);
    const std::size_t whole = n - n % b;
    EXPECT_TRUE(std::all_of(cipher.begin() + static_cast<long>(whole), cipher.end(),
                            [](std::uint8_t x) { return x == 0xee; }));
    Bytes back = Run(&AesCipher::Decrypt, cipher, n, sentinel);
    EXPECT_TRUE(std::equal(plain.begin(), plain.begin() + static_cast<long>(whole), back.begin()));
    EXPECT_TRUE(std::equal(sentinel.begin() + static_cast<long>(whole), sentinel.end(),
                           back.begin() + static_cast<long>(whole)));
  }
}

TEST_P(AesBufferModeProperties, InPlaceEqualsOutOfPlace) {
  const Bytes data = RandomBytes(rng, 10 * static_cast<std::size_t>(GetParam().blockLength) + 5);
  for (Direction op : {&AesCipher::Encrypt, &AesCipher::Decrypt}) {
    const Bytes separate = Run(op, data, data.size(), Bytes(data.size()));
    Bytes inPlace = data;
    AesCipher c = Keyed(key, chain, GetParam().blockLength);
    (c.*op)(inPlace.data(), inPlace.data(), inPlace.size(), GetParam().mode);
    const std::size_t whole = data.size() - data.size() % static_cast<std::size_t>(GetParam().blockLength);
    EXPECT_TRUE(std::equal(separate.begin(), separate.begin() + static_cast<long>(whole), inPlace.begin()));
  }
}

// Pieces of whole blocks continue the chain; pieces shorter than a block change nothing.
TEST_P(AesBufferModeProperties, ChainCarriesAcrossCalls) {
  const std::size_t b = static_cast<std::size_t>(GetParam().blockLength);
  const Bytes data = RandomBytes(rng, 6 * b);
  for (Direction op : {&AesCipher::Encrypt, &AesCipher::Decrypt}) {
    const Bytes whole = Run(op, data, data.size(), Bytes(data.size()));
    AesCipher c = Keyed(key, chain, GetParam().blockLength);
    Bytes pieces(data.size());
    std::size_t at = 0;
    for (std::size_t blocks : {1, 2, 0, 3}) {
      (c.*op)(data.data() + at, pieces.data() + at, blocks * b, GetParam().mode);
      (c.*op)(data.data(), pieces.data(), b - 1, GetParam().mode);  // too short: no effect
      at += blocks * b;
    }
    EXPECT_EQ(pieces, whole);
  }
}

TEST_P(AesBufferModeProperties, MakeKeyAgainResetsChain) {
  const Bytes data = RandomBytes(rng, 3 * static_cast<std::size_t>(GetParam().blockLength));
  const Bytes expected = Run(&AesCipher::Encrypt, data, data.size(), Bytes(data.size()));
  AesCipher c = Keyed(RandomBytes(rng, 16), RandomBytes(rng, 32), GetParam().blockLength);
  Bytes scratch(data.size());
  c.Encrypt(data.data(), scratch.data(), data.size(), GetParam().mode);
  c.MakeKey(key.data(), chain.data(), 16, GetParam().blockLength);
  EXPECT_EQ(Run(&AesCipher::Encrypt, data, data.size(), Bytes(data.size()), &c), expected);
}

INSTANTIATE_TEST_SUITE_P(AllWidths, AesBufferModeProperties,
                         testing::Values(ModeCase{16, ECB}, ModeCase{16, CBC}, ModeCase{16, CFB},
                                         ModeCase{24, ECB}, ModeCase{24, CBC}, ModeCase{24, CFB},
                                         ModeCase{32, ECB}, ModeCase{32, CBC}, ModeCase{32, CFB}),
                         [](const auto& info) {
                           return "Block" + std::to_string(info.param.blockLength) + "Mode" +
                                  std::to_string(info.param.mode);
                         });

}  // namespace
}  // namespace velador

// AesCipher, one block at a time: FIPS-197 Appendix C, the rounds table, refused lengths,
// every key and block length against a plain reference model, the S-box circuit against the
// S-box's definition, the portable path's 16-byte-block code against its general code in every
// mode, the instruction paths' key schedules against the portable path, and re-keying across
// the paths. The buffer modes are in aes_buffer_modes_test.cpp, the NIST and Wycheproof
// files in aes_cipher_vectors_test.cpp.

#include "crypto/aes_cipher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>

#include "aes_hardware.h"
#include "aes_portable.h"
#include "aes_sbox_circuit.h"
#include "crypto/code_paths.h"
#include "crypto/reference_sbox.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::ExposedCipher;
using test::FromHex;
using test::KeyedOn;
using test::Mismatch;
using test::RandomBytes;
using test::ToHex;

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
                                     {16, 0}, {16, 8},  {16, 64}, {16, -1}};
  for (const auto& [keyLength, blockLength] : bad) {
    EXPECT_THROW(c.MakeKey(key.data(), zeroChain, keyLength, blockLength), std::invalid_argument)
        << keyLength << "/" << blockLength;
  }
  Bytes out(16);
  c.EncryptBlock(plain.data(), out.data());
  EXPECT_EQ(ToHex(out), "69c4e0d86a7b0430d8cdb78070b4c55a");
}

// Textbook Rijndael on a byte state (column-major), with the S-box as a table, independent of
// the library's code, for the block widths no published AES vector covers.
Bytes ReferenceEncrypt(const Bytes& key, const Bytes& in) {
  const auto& sbox = test::kSbox;
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
  const test::PinnedPath portable(test::kPortable);
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

// The circuit on 64-bit slices, all 256 bytes in four words' worth of slots, against the
// S-box's definition, both directions, with the constant 0x63 added as the round keys add it;
// then the byte-level SubBytes over every count of bytes it takes.
TEST(AesSboxCircuit, EveryByteMatchesTheDefinition) {
  for (int base = 0; base < 256; base += 64) {
    std::uint64_t forward[8] = {};
    for (int i = 0; i < 64; ++i) {
      for (int j = 0; j < 8; ++j) forward[j] |= std::uint64_t{((base + i) >> j) & 1u} << i;
    }
    std::uint64_t inverse[8];
    std::copy(forward, forward + 8, inverse);
    aes_sbox::SubBytesLinear(forward);
    aes_sbox::XorConstant(forward, 0x63);
    aes_sbox::XorConstant(inverse, 0x63);
    aes_sbox::InvSubBytesLinear(inverse);
    for (int i = 0; i < 64; ++i) {
      unsigned s = 0, si = 0;
      for (int j = 0; j < 8; ++j) {
        s |= static_cast<unsigned>((forward[j] >> i) & 1) << j;
        si |= static_cast<unsigned>((inverse[j] >> i) & 1) << j;
      }
      ASSERT_EQ(s, test::kSbox[base + i]) << "S(" << base + i << ")";
      ASSERT_EQ(si, test::kInverseSbox[base + i]) << "S^-1(" << base + i << ")";
    }
  }
  for (int count = 1; count <= 32; ++count) {
    for (int base = 0; base < 256; base += count) {
      std::uint8_t bytes[32];
      for (int i = 0; i < count; ++i) bytes[i] = static_cast<std::uint8_t>(base + i);
      aes_portable::SubBytes(bytes, count);
      for (int i = 0; i < count; ++i) {
        ASSERT_EQ(bytes[i], test::kSbox[(base + i) & 0xff]) << count << " bytes from " << base;
      }
    }
  }
}

// `data` through `c` in `mode`, one block at a time on the general code, from `chain`.
Bytes ThroughGeneralCode(ExposedCipher& c, bool encrypt, int mode, Bytes chain, const Bytes& data) {
  Bytes out(data.size());
  for (std::size_t at = 0; at < data.size(); at += 16) {
    const Bytes in(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at) + 16);
    Bytes block(16);
    if (mode == ECB) {
      encrypt ? c.EncryptBlockGeneral(in.data(), block.data())
              : c.DecryptBlockGeneral(in.data(), block.data());
    } else if (mode == CBC && encrypt) {
      for (int i = 0; i < 16; ++i) chain[i] ^= in[i];
      c.EncryptBlockGeneral(chain.data(), block.data());
      chain = block;
    } else if (mode == CBC) {
      c.DecryptBlockGeneral(in.data(), block.data());
      for (int i = 0; i < 16; ++i) block[i] ^= chain[i];
      chain = in;
    } else {
      c.EncryptBlockGeneral(chain.data(), block.data());
      for (int i = 0; i < 16; ++i) block[i] ^= in[i];
      chain = encrypt ? block : in;
    }
    std::copy(block.begin(), block.end(), out.begin() + static_cast<long>(at));
  }
  return out;
}

// The portable path's 16-byte-block code (one block at a time for CBC and CFB enciphering,
// eight at a time for the rest, single blocks deciphered among them) against its general code,
// in every mode and direction, for each key length (10, 12 and 14 rounds) and 1 to 17 blocks,
// so that a last group of eight holds each count of blocks.
TEST(AesPortable, SixteenByteCodeAgreesWithGeneralCodeInEveryMode) {
  const test::PinnedPath portable(test::kPortable);
  std::mt19937 rng(1616);
  for (int keyLength : {16, 24, 32}) {
    for (int mode : {ECB, CBC, CFB}) {
      for (std::size_t blocks = 1; blocks <= 17; ++blocks) {
        SCOPED_TRACE(std::to_string(keyLength) + " " + std::to_string(mode) + " " +
                     std::to_string(blocks));
        const Bytes key = RandomBytes(rng, static_cast<std::size_t>(keyLength));
        const Bytes chain = RandomBytes(rng, 16), data = RandomBytes(rng, 16 * blocks);
        ExposedCipher c;
        c.MakeKey(key.data(), chain.data(), keyLength, 16);
        Bytes enciphered(data.size()), deciphered(data.size());
        c.Encrypt(data.data(), enciphered.data(), data.size(), mode);
        c.MakeKey(key.data(), chain.data(), keyLength, 16);
        c.Decrypt(data.data(), deciphered.data(), data.size(), mode);
        ASSERT_EQ(Mismatch(enciphered, ThroughGeneralCode(c, true, mode, chain, data)), "");
        ASSERT_EQ(Mismatch(deciphered, ThroughGeneralCode(c, false, mode, chain, data)), "");
        if (blocks == 1 && mode == ECB) {
          Bytes single(16);
          c.EncryptBlock128(data.data(), single.data());
          ASSERT_EQ(single, enciphered);
          c.DecryptBlock128(data.data(), single.data());
          ASSERT_EQ(single, deciphered);
        }
      }
    }
  }
}

class AesKeySchedules : public test::OnPath<CodePath> {};

// The first keys are the extremes; the rest random.
TEST_P(AesKeySchedules, SingleBlocksMatchPortable) {
  std::mt19937 rng(128);
  for (int trial = 0; trial < 2000; ++trial) {
    const Bytes key = trial == 0   ? Bytes(16, 0)
                      : trial == 1 ? Bytes(16, 0xff)
                                   : RandomBytes(rng, 16);
    ExposedCipher instructions = KeyedOn(GetParam(), key, Bytes(16));
    ExposedCipher portable = KeyedOn(test::kPortable, key, Bytes(16));
    ASSERT_TRUE(instructions.OnInstructions());
    ASSERT_FALSE(portable.OnInstructions());
    const Bytes block = RandomBytes(rng, 16);
    Bytes a(16), b(16);
    instructions.EncryptBlock(block.data(), a.data());
    portable.EncryptBlock128(block.data(), b.data());
    ASSERT_EQ(a, b) << "encrypt, trial " << trial;
    instructions.DecryptBlock128(block.data(), a.data());
    portable.DecryptBlock(block.data(), b.data());
    ASSERT_EQ(a, b) << "decrypt, trial " << trial;
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesKeySchedules, testing::ValuesIn(test::kAesInstructionPaths),
                         test::PathName);

// Only 16-byte keys with 16-byte blocks take the instructions; an object re-keyed across the
// paths gives what a fresh portable-path object gives each time.
TEST(AesPaths, RekeyingSwitchesPathsCleanly) {
  if (!test::Available(test::kAesInstructions))
    GTEST_SKIP() << "no AES instructions on this processor";
  std::mt19937 rng(7);
  const Bytes key = RandomBytes(rng, 32), chain = RandomBytes(rng, 32);
  const Bytes data = RandomBytes(rng, 5 * 32);
  ExposedCipher c;
  for (const auto& [keyLength, blockLength] :
       {std::pair{16, 16}, {32, 16}, {16, 16}, {16, 24}, {24, 24}, {16, 16}}) {
    const Bytes k(key.begin(), key.begin() + keyLength);
    c.MakeKey(k.data(), chain.data(), keyLength, blockLength);
    EXPECT_EQ(c.OnInstructions(), keyLength == 16 && blockLength == 16);
    ExposedCipher portable = KeyedOn(test::kPortable, k, chain, blockLength);
    Bytes a(data.size()), b(data.size());
    c.Encrypt(data.data(), a.data(), data.size(), CBC);
    portable.Encrypt(data.data(), b.data(), data.size(), CBC);
    EXPECT_EQ(Mismatch(a, b), "") << keyLength << "/" << blockLength;
  }
}

TEST(AesPaths, EachFeatureSetGetsItsEngine) {
  using aes_hardware::EngineFor;
  EXPECT_EQ(EngineFor({}), nullptr);
  EXPECT_EQ(EngineFor({.sha = true}), nullptr);
  if (!test::Available(test::kAesInstructions))
    GTEST_SKIP() << "no AES instructions on this processor";
  EXPECT_NE(EngineFor({.aes = true}), nullptr);
#if VELADOR_CRYPTO_X86_64 && !defined(_WIN32)
  if (test::Available(test::kVaes)) {
    EXPECT_NE(EngineFor({.aes = true, .vaes = true}), EngineFor({.aes = true}));
  }
#endif
}

}  // namespace
}  // namespace velador

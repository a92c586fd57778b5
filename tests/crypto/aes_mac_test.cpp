// AesMac: RFC 4493 subkeys, the bit-shift helper, reuse, incremental use split every way,
// and the NIST CMACGen/CMACVer and Wycheproof AES-CMAC files (16-byte keys), on every path of
// the cipher.

#include "crypto/aes_mac.h"

#include <gtest/gtest.h>

#include <random>

#include "crypto/code_paths.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::FromHex;
using test::ToHex;

const Bytes kRfcKey = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
const Bytes kRfcMessage = FromHex(
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");

std::string Tag(const std::uint8_t* message, std::uint64_t length, const Bytes& key) {
  AesMac mac;
  std::uint8_t tag[16];
  mac.Compute(message, length, key.data(), tag);
  return ToHex(tag, 16);
}

class AesMacOnPath : public test::OnPath<CodePath> {};

// RFC 4493 section 4: the subkeys, which no other file lists, and example 1 (the empty
// message) given as a null pointer. The other examples' lengths (one whole block, a partial
// last block, several blocks) are in the NIST files below, with full-length tags.
TEST_P(AesMacOnPath, Rfc4493SubkeysAndEmptyMessage) {
  AesMac mac;
  std::uint8_t tag[16];
  mac.Compute(nullptr, 0, kRfcKey.data(), tag);
  EXPECT_EQ(ToHex(mac.Subkey1(), 16), "fbeed618357133667c85e08f7236a8de");
  EXPECT_EQ(ToHex(mac.Subkey2(), 16), "f7ddac306ae266ccf90bc11ee46d513b");
  EXPECT_EQ(ToHex(tag, 16), "bb1d6929e95937287fa37d129b756746");
}

TEST(AesMac, ShiftLeftOneBitCarriesAcrossBytes) {
  const std::tuple<const char*, int, const char*> cases[] = {
      {"80", 1, "00"},
      {"01", 1, "02"},
      {"0080", 2, "0100"},
      {"ff80", 2, "ff00"},
      {"7fff", 2, "fffe"},
      {"8000000000000000000000000000000001", 17, "0000000000000000000000000000000002"},
      {"c0ffee", 2, "81feee"}};  // only `count` bytes move
  for (const auto& [in, count, out] : cases) {
    Bytes b = FromHex(in);
    ShiftLeftOneBit(b.data(), count);
    EXPECT_EQ(ToHex(b), out) << in;
  }
  Bytes dst = FromHex("00ff00ff00ff00ff00ff00ff00ff00ff");
  Xor16(dst.data(), FromHex("0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f0f").data());
  EXPECT_EQ(ToHex(dst), "0ff00ff00ff00ff00ff00ff00ff00ff0");
}

TEST(AesMac, ReusedObjectGivesFreshTag) {
  AesMac mac;
  std::uint8_t first[16], second[16];
  const Bytes otherKey(16, 0x11);
  mac.Compute(kRfcMessage.data(), 40, kRfcKey.data(), first);
  mac.Compute(kRfcMessage.data(), 17, otherKey.data(), second);
  mac.Compute(kRfcMessage.data(), 40, kRfcKey.data(), second);
  EXPECT_EQ(ToHex(second, 16), ToHex(first, 16));
  EXPECT_EQ(ToHex(first, 16), "dfa66747de9ae63030ca32611497c827");
}

// Every split of a message into three Updates (empty pieces included) gives Compute's tag.
TEST_P(AesMacOnPath, IncrementalSplitsMatchCompute) {
  std::mt19937 rng(4493);
  for (std::size_t length : {0, 1, 15, 16, 17, 32, 33, 48, 64, 272}) {
    const Bytes message = test::RandomBytes(rng, length);
    const std::string expected = Tag(message.data(), length, kRfcKey);
    AesMac mac;
    for (std::size_t i = 0; i <= length; ++i) {
      for (std::size_t j = i; j <= length; j += (length > 64 ? 7 : 1)) {
        std::uint8_t tag[16];
        mac.Begin(kRfcKey.data());
        mac.Update(message.data(), i);
        mac.Update(message.data() + i, j - i);
        mac.Update(message.data() + j, length - j);
        mac.Finish(tag);
        ASSERT_EQ(ToHex(tag, 16), expected) << length << " split at " << i << ", " << j;
      }
    }
  }
}

// CMACGen lists truncated tags (Tlen 4 or 15); CMACVer expects P exactly when the first
// Tlen bytes of the tag match. "Msg = 00" with Mlen = 0 is the empty message.
TEST_P(AesMacOnPath, NistGenerationAndVerification) {
  const std::pair<const char*, std::size_t> files[] = {{"nist/cmac/CMACGenAES128.rsp", 96},
                                                       {"nist/cmac/CMACVerAES128.rsp", 240}};
  for (const auto& [file, count] : files) {
    const auto records = test::ReadRsp(test::VectorPath(file));
    ASSERT_EQ(records.size(), count) << file;
    for (const auto& r : records) {
      SCOPED_TRACE(std::string(file) + " Count " + r.Text("Count"));
      ASSERT_EQ(r.Number("Klen"), 16);
      const auto mlen = static_cast<std::uint64_t>(r.Number("Mlen"));
      const auto tlen = static_cast<std::size_t>(r.Number("Tlen"));
      const Bytes message = r.Hex("Msg");
      const std::string tag = Tag(message.data(), mlen, r.Hex("Key")).substr(0, 2 * tlen);
      const bool matches = tag == ToHex(r.Hex("Mac"));
      const bool shouldMatch = !r.Has("Result") || r.Text("Result")[0] == 'P';
      EXPECT_EQ(matches, shouldMatch);
    }
  }
}

TEST_P(AesMacOnPath, Wycheproof) {
  const auto cases =
      test::ReadWycheproof(test::VectorPath("wycheproof/testvectors_v1/aes_cmac_test.json"));
  ASSERT_EQ(cases.size(), 311u);
  int checked = 0;
  for (const auto& tc : cases) {
    if (tc.at("keySize") != "128" || tc.at("tagSize") != "128") continue;
    const Bytes message = FromHex(tc.at("msg"));
    const bool matches = Tag(message.data(), message.size(), FromHex(tc.at("key"))) == tc.at("tag");
    EXPECT_EQ(matches, tc.at("result") == "valid") << "tcId " << tc.at("tcId");
    ++checked;
  }
  EXPECT_EQ(checked, 102);
}

INSTANTIATE_TEST_SUITE_P(Paths, AesMacOnPath, testing::ValuesIn(test::kAesPaths), test::PathName);

}  // namespace
}  // namespace velador

// AES-128 known answers on every path of the cipher: ECB and CBC from the NIST CAVP files
// (AESAVS KAT, MMT and Monte Carlo) and the valid Wycheproof AES-CBC-PKCS5 cases; CFB, and the
// mode values that act as ECB, from NIST SP 800-38A. Sources and licences of the files:
// tests/vectors/README.md.

#include <gtest/gtest.h>

#include "crypto/aes_cipher.h"
#include "crypto/code_paths.h"
#include "crypto/vector_files.h"

namespace velador {
namespace {

using test::Bytes;
using test::CodePath;
using test::OnPath;

struct FileCase {
  const char* file;
  int mode;
  std::size_t records;
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.file; }

// Every record holds in both directions, whichever section it sits in; CBC records carry
// the IV, which goes in as MakeKey's chain block.
class AesKnownAnswerFiles : public OnPath<std::tuple<FileCase, CodePath>> {};

TEST_P(AesKnownAnswerFiles, BothDirections) {
  const FileCase& file = std::get<0>(GetParam());
  const auto records = test::ReadRsp(test::VectorPath(file.file));
  ASSERT_EQ(records.size(), file.records);
  for (const auto& r : records) {
    SCOPED_TRACE(r.section + " COUNT " + r.Text("COUNT"));
    const Bytes key = r.Hex("KEY");
    const Bytes iv = r.Has("IV") ? r.Hex("IV") : Bytes(16);
    const Bytes plain = r.Hex("PLAINTEXT"), cipher = r.Hex("CIPHERTEXT");
    Bytes out(plain.size());
    AesCipher c;
    c.MakeKey(key.data(), iv.data(), 16, 16);
    c.Encrypt(plain.data(), out.data(), out.size(), file.mode);
    EXPECT_EQ(out, cipher);
    c.MakeKey(key.data(), iv.data(), 16, 16);
    c.Decrypt(cipher.data(), out.data(), out.size(), file.mode);
    EXPECT_EQ(out, plain);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Nist, AesKnownAnswerFiles,
    testing::Combine(testing::Values(FileCase{"nist/aes/ECBGFSbox128.rsp", ECB, 14},
                                     FileCase{"nist/aes/ECBKeySbox128.rsp", ECB, 42},
                                     FileCase{"nist/aes/ECBVarKey128.rsp", ECB, 256},
                                     FileCase{"nist/aes/ECBVarTxt128.rsp", ECB, 256},
                                     FileCase{"nist/aes/ECBMMT128.rsp", ECB, 20},
                                     FileCase{"nist/aes/CBCGFSbox128.rsp", CBC, 14},
                                     FileCase{"nist/aes/CBCKeySbox128.rsp", CBC, 42},
                                     FileCase{"nist/aes/CBCVarKey128.rsp", CBC, 256},
                                     FileCase{"nist/aes/CBCVarTxt128.rsp", CBC, 256},
                                     FileCase{"nist/aes/CBCMMT128.rsp", CBC, 20}),
                     testing::ValuesIn(test::kAesPaths)),
    [](const auto& info) {
      std::string name = std::get<0>(info.param).file;
      name = name.substr(name.rfind('/') + 1);
      return name.substr(0, name.find('.')) + "_" + std::get<1>(info.param).name;
    });

// AESAVS Monte Carlo: 1000 inner iterations per record. In CBC the cipher object is keyed
// once per record and fed one block per call, so the chain carried between calls is what
// links the iterations; block j+1's input is the IV for j = 0 and output j-1 after that.
// Each record is checked from its own inputs, and its inputs against the previous record.
void RunMonteCarlo(const char* file, int mode) {
  const auto records = test::ReadRsp(test::VectorPath(file));
  ASSERT_EQ(records.size(), 200u);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& r = records[i];
    SCOPED_TRACE(r.section + " COUNT " + r.Text("COUNT"));
    const bool encrypt = r.section == "ENCRYPT";
    const Bytes key = r.Hex("KEY");
    const Bytes iv = mode == CBC ? r.Hex("IV") : Bytes(16);
    Bytes input = r.Hex(encrypt ? "PLAINTEXT" : "CIPHERTEXT");
    const auto op = encrypt ? &AesCipher::Encrypt : &AesCipher::Decrypt;
    AesCipher c;
    c.MakeKey(key.data(), iv.data(), 16, 16);
    Bytes out(16), previous(16);
    for (int j = 0; j < 1000; ++j) {
      previous.swap(out);  // `out` is then written whole
      (c.*op)(input.data(), out.data(), 16, mode);
      input = mode == ECB ? out : (j == 0 ? iv : previous);
    }
    ASSERT_EQ(out, r.Hex(encrypt ? "CIPHERTEXT" : "PLAINTEXT"));

    if (i + 1 < records.size() && records[i + 1].section == r.section) {
      const auto& next = records[i + 1];
      Bytes nextKey = key;
      for (int b = 0; b < 16; ++b) nextKey[b] ^= out[b];
      EXPECT_EQ(next.Hex("KEY"), nextKey);
      EXPECT_EQ(next.Hex(encrypt ? "PLAINTEXT" : "CIPHERTEXT"), mode == ECB ? out : previous);
      if (mode == CBC) {
        EXPECT_EQ(next.Hex("IV"), out);
      }
    }
  }
}

class AesMonteCarlo : public OnPath<CodePath> {};

TEST_P(AesMonteCarlo, Ecb) { RunMonteCarlo("nist/aes/ECBMCT128.rsp", ECB); }
TEST_P(AesMonteCarlo, Cbc) { RunMonteCarlo("nist/aes/CBCMCT128.rsp", CBC); }

INSTANTIATE_TEST_SUITE_P(Paths, AesMonteCarlo, testing::ValuesIn(test::kAesPaths), test::PathName);

// Valid cases only: the invalid ones test padding checks, and the cipher pads nothing. The
// padding is added and removed here, around the cipher.
class AesWycheproof : public OnPath<CodePath> {};

TEST_P(AesWycheproof, CbcValidCases) {
  const auto cases =
      test::ReadWycheproof(test::VectorPath("wycheproof/testvectors_v1/aes_cbc_pkcs5_test.json"));
  ASSERT_EQ(cases.size(), 216u);
  int checked = 0;
  for (const auto& tc : cases) {
    if (tc.at("keySize") != "128" || tc.at("ivSize") != "128" || tc.at("result") != "valid") {
      continue;
    }
    SCOPED_TRACE("tcId " + tc.at("tcId"));
    const Bytes key = test::FromHex(tc.at("key")), iv = test::FromHex(tc.at("iv"));
    const Bytes msg = test::FromHex(tc.at("msg")), ct = test::FromHex(tc.at("ct"));
    Bytes padded = msg;
    const std::size_t pad = 16 - msg.size() % 16;
    padded.insert(padded.end(), pad, static_cast<std::uint8_t>(pad));
    AesCipher c;
    c.MakeKey(key.data(), iv.data(), 16, 16);
    c.Encrypt(padded.data(), padded.data(), padded.size(), CBC);
    EXPECT_EQ(padded, ct);

    Bytes plain(ct.size());
    c.MakeKey(key.data(), iv.data(), 16, 16);
    c.Decrypt(ct.data(), plain.data(), ct.size(), CBC);
    ASSERT_FALSE(plain.empty());
    const std::size_t strip = plain.back();
    ASSERT_TRUE(strip >= 1 && strip <= 16 && strip <= plain.size());
    EXPECT_EQ(Bytes(plain.begin(), plain.end() - static_cast<std::ptrdiff_t>(strip)), msg);
    ++checked;
  }
  EXPECT_EQ(checked, 24);
}

INSTANTIATE_TEST_SUITE_P(Paths, AesWycheproof, testing::ValuesIn(test::kAesPaths), test::PathName);

// NIST SP 800-38A F.3.13/F.3.14, AES-128 CFB128: the files above hold no CFB. Mode values
// other than CBC and CFB act as ECB, giving F.1.1/F.1.2.
class AesModeExamples : public OnPath<CodePath> {};

TEST_P(AesModeExamples, Sp800_38a) {
  const Bytes key = test::FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes iv = test::FromHex("000102030405060708090a0b0c0d0e0f");
  const Bytes plain = test::FromHex(
      "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
      "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710");
  const char* ecb =
      "3ad77bb40d7a3660a89ecaf32466ef97f5d3d58503b9699de785895a96fdbaaf"
      "43b1cd7f598ece23881b00e3ed0306887b0c785e27e8ad3f8223207104725dd4";
  const std::pair<int, const char*> cases[] = {
      {CFB,
       "3b3fd92eb72dad20333449f8e83cfb4ac8a64537a0b3a93fcde3cdad9f1ce58b"
       "26751f67a3cbb140b1808cf187a4f4dfc04b05357c5d1c0eeac4c66f9ff7f2e6"},
      {3, ecb},
      {-1, ecb}};
  for (const auto& [mode, expected] : cases) {
    SCOPED_TRACE(mode);
    AesCipher c;
    c.MakeKey(key.data(), iv.data(), 16, 16);
    Bytes out(plain.size());
    c.Encrypt(plain.data(), out.data(), out.size(), mode);
    EXPECT_EQ(test::ToHex(out), expected);
    c.MakeKey(key.data(), iv.data(), 16, 16);
    c.Decrypt(out.data(), out.data(), out.size(), mode);
    EXPECT_EQ(out, plain);
  }
}

INSTANTIATE_TEST_SUITE_P(Paths, AesModeExamples, testing::ValuesIn(test::kAesPaths),
                         test::PathName);

}  // namespace
}  // namespace velador

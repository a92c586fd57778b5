// Encryption-and-Hash containers (type code 0x11) through the built tool: the units registered
// in content hash table 2, the trailer, the spot check's draws and its verdict groups.

#include <string>
#include <tuple>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

const Bytes kZeros(40056, '\0');

// big.js: 1000 bytes, byte i = i mod 251. L = 1264: units of 512, 512 and 240 bytes and a
// clear tail of 8 bytes. The digest tails of its units under kKey, worked out independently.
Bytes BigContent() {
  Bytes content(1000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
  return content;
}
const Bytes kUnitTails[3] = {FromHex("e07aead0da187110"), FromHex("332b233803a1530c"),
                             FromHex("b569eabd1321ea8f")};

class EncryptionHash : public ToolTest {
 protected:
  std::string Encapsulate(const std::string& name, const Bytes& content) {
    w.Write("src/" + name, content);
    return Out({"-e", "-d", "src/" + name, "img", "key"});
  }
  // Decapsulates img/ADV_OBJ/`name` and expects the verdict for `units` checked units (< 0:
  // the mismatching group).
  void ExpectVerdict(const std::string& name, int units, bool nameMatches = true,
                     const std::string& keyFile = "key") {
    EXPECT_EQ(Out({"-d", "img/ADV_OBJ/" + name, "back", keyFile}),
              EncryptionHashDecapsulation("back/" + name, keyFile == "key" ? kKey : kOtherKey,
                                          units, nameMatches));
  }
};

// s.js: one short unit of 288 enciphered bytes, a 5-byte clear tail and entry number 1; worked
// out with an independent AES-128-CBC and SHA-1.
TEST_F(EncryptionHash, SmallFileHoldsTheIndependentlyComputedBytes) {
  const Bytes content = "var x = 1;\nvar y = 2;";
  const Bytes tail = FromHex("a74bfddd3a34ffc5");
  EXPECT_EQ(Encapsulate("s.js", content),
            EncryptionHashEncapsulation("img/ADV_OBJ/s.js", tail, kKey));
  EXPECT_EQ(w.Read("img/ADV_OBJ/s.js"),
            FromHex("4141435311000100000015"
                    "d42d92325bcf9530fa9ccafb0cabaddc3456253cec78fe8be484215fb0ee400ccbea6dd7cd41"
                    "d1227125686a48465c100166390a61594a6a69f113c0ee02db69d2381c37dc86be2b1a5c39ec"
                    "3c2cb414875dadd8fba1239c649cb658f16d4e019a8d454e3ffe40e2b9ef553e05c52c07db20"
                    "c124e3e2ccffdc642cba66e8bc0122a43b84f2a177db54a846ea5c9970cb8f01c17c762b1659"
                    "40d320e2639dc41ad5b67974efbb8be9d3662b06a8484d2f63c0d636997b074749e1d56987ff"
                    "f60a026e9b158617fa6ed0219da51182f1060f00d97d0fb6125fde294319b1031c835a4f61d9"
                    "d317b35b4ade484c18fdf20a384879ed46660d24f4a291d8efa10956fb12af0019bc4ae21fb0"
                    "8e3c076f695c280703475b996d5b87e600d216c36ffe203d2032"
                    "3b"
                    "00000001"));
  EXPECT_EQ(Table(), kZeros + Number(1) + tail);
  // Up to two units, each named unit is checked once, in order.
  ExpectVerdict("s.js", 1);
  EXPECT_EQ(w.Read("back/s.js"), content);
  w.FlipBits("img/ADV_OBJ/s.js", 11 + 287);
  ExpectVerdict("s.js", -1);
  // No trailer entry at all (n = 0): nothing is verified.
  const Bytes bytes = w.Read("img/ADV_OBJ/s.js");
  w.Write("img/ADV_OBJ/s.js", bytes.substr(0, bytes.size() - 4));
  ExpectVerdict("s.js", -1);
  ExpectNoLeftovers(w);
}

TEST_F(EncryptionHash, ThousandBytesGiveThreeUnitsAndATwelveByteTrailer) {
  const Bytes content = BigContent();
  EXPECT_EQ(Encapsulate("big.js", content),
            EncryptionHashEncapsulation("img/ADV_OBJ/big.js", kUnitTails[2], kKey));
  const Bytes bytes = w.Read("img/ADV_OBJ/big.js");
  ASSERT_EQ(bytes.size(), 1295u);
  EXPECT_EQ(bytes.substr(0, 11), Header(0x11, 1000));
  EXPECT_EQ(bytes.substr(11 + 1264, 8), content.substr(992));
  EXPECT_EQ(bytes.substr(1283), Number(1) + Number(2) + Number(3));
  EXPECT_EQ(Table(), kZeros + Number(3) + kUnitTails[0] + kUnitTails[1] + kUnitTails[2]);
  ExpectVerdict("big.js", 1);
  EXPECT_TRUE(w.Read("back/big.js") == content);
  ExpectNoLeftovers(w);
}

// Three units get a single draw, which always takes unit 0.
TEST_F(EncryptionHash, ThousandBytesVerdicts) {
  const Bytes content = BigContent();
  Encapsulate("big.js", content);
  const Bytes intact = w.Read("img/ADV_OBJ/big.js");
  const std::tuple<std::size_t, int> changes[] = {
      {11 + 512 + 7, 1},  // unit 1: never drawn
      {11 + 300, -1},     // unit 0
      {11 + 1264 + 3, 1}  // the clear tail is in no unit
  };
  for (const auto& [offset, units] : changes) {
    w.Write("img/ADV_OBJ/big.js", intact);
    w.FlipBits("img/ADV_OBJ/big.js", offset);
    ExpectVerdict("big.js", units);
  }
  Bytes expected = content;
  expected[992 + 3] ^= 0x01;
  EXPECT_TRUE(w.Read("back/big.js") == expected);

  w.Write("img/ADV_OBJ/big.js", intact);
  w.Write("img/ADV_OBJ/other.js", intact);
  ExpectVerdict("other.js", 1, false);
  ExpectVerdict("big.js", 1, false, "other");
  const Bytes garbled = w.Read("back/big.js");
  EXPECT_EQ(garbled.substr(992), content.substr(992));
  EXPECT_NE(garbled.substr(0, 992), content.substr(0, 992));
  // A trailer naming more units than the body holds: with n = 5 the draw takes unit 2, the
  // short one, hashed over its own 240 bytes; with n = 6 unit 3, which lies outside the body.
  w.Write("img/ADV_OBJ/big.js", intact + Bytes(8, '\0'));
  ExpectVerdict("big.js", 1);
  w.Write("img/ADV_OBJ/big.js", intact + Bytes(12, '\0'));
  ExpectVerdict("big.js", -1);
}

TEST_F(EncryptionHash, TwoUnitsAreBothChecked) {
  Encapsulate("two.js", SampleContent(500, 4));  // L = 768: units of 512 and 256 bytes
  const Bytes intact = w.Read("img/ADV_OBJ/two.js");
  ASSERT_EQ(intact.size(), 283u + 500u + 8u);
  ExpectVerdict("two.js", 2);
  w.FlipBits("img/ADV_OBJ/two.js", 11 + 512 + 255);
  ExpectVerdict("two.js", -1);
  w.Write("img/ADV_OBJ/two.js", intact);
  w.FlipBits("img/ADV_OBJ/two.js", 11);
  ExpectVerdict("two.js", -1, false);
}

TEST_F(EncryptionHash, MissingTableStillRestoresAndNamesTheExpectedPath) {
  Encapsulate("big.js", BigContent());
  w.Write("moved/ADV_OBJ/big.js", w.Read("img/ADV_OBJ/big.js"));
  EXPECT_EQ(Out({"-d", "moved/ADV_OBJ/big.js", "back", "key"}),
            EncryptionHashDecapsulationWithoutTable("back/big.js", kKey,
                                                    "moved/AACS/CONTENT_HASH_TABLE2.AACS"));
  EXPECT_TRUE(w.Read("back/big.js") == BigContent());
  ExpectNoLeftovers(w);
}

// Unit 0 fails and sets full, unit 1 is skipped, the short unit is still attempted: two
// messages, two zero numbers, the short unit's digest printed, the table untouched.
TEST_F(EncryptionHash, RefusingTableGetsNoEntry) {
  const std::pair<Bytes, std::string> tables[] = {
      {kZeros + Number(0xFFFFFFFFu), Refusal("full_table")},
      {kZeros + Number(1), Refusal("unusable_table")}};
  for (const auto& [table, message] : tables) {
    w.Write(kTablePath, table);
    EXPECT_EQ(
        Encapsulate("big.js", BigContent()),
        EncryptionHashEncapsulation("img/ADV_OBJ/big.js", kUnitTails[2], kKey, message + message));
    EXPECT_EQ(w.Read("img/ADV_OBJ/big.js").substr(1283), Bytes(8, '\0'));
    EXPECT_TRUE(Table() == table);
  }
}

// 50000 bytes: 98 full units and one of 96 bytes, a container of 50679 bytes, five draws
// taking units 2, 16, 44, 79 and 81: a changed byte shows only in a drawn unit.
TEST_F(EncryptionHash, FiftyThousandBytesDrawFiveUnits) {
  const Bytes content = SampleContent(50000, 5);
  Encapsulate("long.js", content);
  const Bytes intact = w.Read("img/ADV_OBJ/long.js");
  ASSERT_EQ(intact.size(), 50679u);
  for (std::uint32_t u = 0; u < 99; ++u) EXPECT_EQ(intact.substr(50283 + 4 * u, 4), Number(u + 1));
  EXPECT_EQ(Table().size(), 40060u + 8u * 99u);
  ExpectVerdict("long.js", 5);
  EXPECT_TRUE(w.Read("back/long.js") == content);
  for (int unit : {2, 16, 44, 79, 81, 0, 3, 80, 98}) {
    const bool drawn = unit != 0 && unit != 3 && unit != 80 && unit != 98;
    w.Write("img/ADV_OBJ/long.js", intact);
    w.FlipBits("img/ADV_OBJ/long.js",
               11 + 512 * static_cast<std::size_t>(unit) + (unit == 98 ? 95 : 500));
    ExpectVerdict("long.js", drawn ? -1 : 5);
  }
}

// n units get ceil(n / 20) draws when every drawn unit matches.
TEST_F(EncryptionHash, DrawCountIsOneInTwentyRoundedUp) {
  const std::tuple<std::size_t, std::size_t, int> cases[] = {
      {9968, 20, 1}, {10000, 21, 2}, {20000, 40, 2}, {20500, 41, 3}};
  for (const auto& [size, units, draws] : cases) {
    Encapsulate("n.js", SampleContent(size, 9));
    ASSERT_EQ(w.Read("img/ADV_OBJ/n.js").size(), 283 + size + 4 * units);
    ExpectVerdict("n.js", draws);
  }
}

}  // namespace
}  // namespace velador::testing

// Encryption-and-Hash containers (type code 0x11) through the built tool: the units registered
// in content hash table 2, the trailer, the spot check's draws and its verdict groups.

#include <gtest/gtest.h>

#include <string>

#include "e2e/type_reports.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

using namespace reports;

constexpr std::size_t kCounterAt = 40056;
const std::string kTablePath = "img/AACS/CONTENT_HASH_TABLE2.AACS";

// s.js holding "var x = 1;\nvar y = 2;" under kKey: one short unit of 288 enciphered bytes, the
// 5-byte clear tail and entry number 1; worked out with an independent AES-128-CBC and SHA-1.
const Bytes kSmallContent = "var x = 1;\nvar y = 2;";
const char* const kSmallContainerHex =
    "4141435311000100000015"
    "d42d92325bcf9530fa9ccafb0cabaddc3456253cec78fe8be484215fb0ee400ccbea6dd7cd41d1227125686a4846"
    "5c100166390a61594a6a69f113c0ee02db69d2381c37dc86be2b1a5c39ec3c2cb414875dadd8fba1239c649cb658"
    "f16d4e019a8d454e3ffe40e2b9ef553e05c52c07db20c124e3e2ccffdc642cba66e8bc0122a43b84f2a177db54a8"
    "46ea5c9970cb8f01c17c762b165940d320e2639dc41ad5b67974efbb8be9d3662b06a8484d2f63c0d636997b0747"
    "49e1d56987fff60a026e9b158617fa6ed0219da51182f1060f00d97d0fb6125fde294319b1031c835a4f61d9d317"
    "b35b4ade484c18fdf20a384879ed46660d24f4a291d8efa10956fb12af0019bc4ae21fb08e3c076f695c28070347"
    "5b996d5b87e600d216c36ffe203d2032"
    "3b"
    "00000001";
const char* const kSmallTailHex = "a74bfddd3a34ffc5";

// big.js: 1000 bytes, byte i = i mod 251. L = 1264: units of 512, 512 and 240 bytes, clear tail
// of 8 bytes. The digest tails of its three enciphered units under kKey, worked out
// independently:
Bytes BigContent() {
  Bytes content(1000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i % 251);
  return content;
}
const char* const kBigUnitTailsHex[3] = {"e07aead0da187110", "332b233803a1530c",
                                         "b569eabd1321ea8f"};

class EncryptionHashContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    MakeDiscImage(w, "img");
    w.Write("key.bin", kKey);
    w.Write("other.bin", kOtherKey);
    w.MakeFolder("back");
  }

  // Encapsulates `content` as src/`name` into img/ and answers the printed output.
  ToolRun Encapsulate(const std::string& name, const Bytes& content) {
    w.Write("src/" + name, content);
    return w.Run({"-e", "-d", "src/" + name, "img", "key.bin"});
  }

  ToolRun Decapsulate(const std::string& container, const std::string& keyFile = "key.bin") {
    return w.Run({"-d", container, "back", keyFile});
  }

  // Replaces img/ADV_OBJ/`name` by its bytes with one byte changed.
  void ChangeByte(const std::string& name, std::size_t offset) {
    Bytes bytes = w.Read("img/ADV_OBJ/" + name);
    bytes[offset] = static_cast<char>(bytes[offset] ^ 0x01);
    w.Write("img/ADV_OBJ/" + name, bytes);
  }

  Workspace w;
};

TEST_F(EncryptionHashContainer, SmallFileHoldsTheIndependentlyComputedBytes) {
  ToolRun run = Encapsulate("s.js", kSmallContent);
  EXPECT_EQ(run.out, EncryptionHashEncapsulation("img/ADV_OBJ/s.js", FromHex(kSmallTailHex), kKey));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(w.Read("img/ADV_OBJ/s.js"), FromHex(kSmallContainerHex));
  EXPECT_EQ(Table(w), Bytes(kCounterAt, '\0') + Number(1) + FromHex(kSmallTailHex));

  run = Decapsulate("img/ADV_OBJ/s.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/s.js", kKey, 1, true));
  EXPECT_EQ(w.Read("back/s.js"), kSmallContent);
  ExpectNoLeftovers(w);
}

TEST_F(EncryptionHashContainer, ThousandBytesGiveThreeUnitsAndATwelveByteTrailer) {
  const Bytes content = BigContent();
  ToolRun run = Encapsulate("big.js", content);
  EXPECT_EQ(run.out,
            EncryptionHashEncapsulation("img/ADV_OBJ/big.js", FromHex(kBigUnitTailsHex[2]), kKey));
  const Bytes bytes = w.Read("img/ADV_OBJ/big.js");
  ASSERT_EQ(bytes.size(), 1295u);
  EXPECT_EQ(bytes.substr(0, 11), Header(0x11, 0x01, 1000));
  EXPECT_EQ(bytes.substr(11 + 1264, 8), content.substr(992));
  EXPECT_EQ(bytes.substr(1283), Number(1) + Number(2) + Number(3));
  EXPECT_EQ(Table(w), Bytes(kCounterAt, '\0') + Number(3) + FromHex(kBigUnitTailsHex[0]) +
                          FromHex(kBigUnitTailsHex[1]) + FromHex(kBigUnitTailsHex[2]));

  run = Decapsulate("img/ADV_OBJ/big.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/big.js", kKey, 1, true));
  EXPECT_TRUE(w.Read("back/big.js") == content);
  ExpectNoLeftovers(w);
}

TEST_F(EncryptionHashContainer, ThousandBytesAlwaysDrawUnitZero) {
  Encapsulate("big.js", BigContent());
  const Bytes intact = w.Read("img/ADV_OBJ/big.js");
  ChangeByte("big.js", 11 + 512 + 7);  // unit 1: never drawn
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/big.js").out,
            EncryptionHashDecapsulation("back/big.js", kKey, 1, true));
  w.Write("img/ADV_OBJ/big.js", intact);
  ChangeByte("big.js", 11 + 300);  // unit 0
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/big.js").out,
            EncryptionHashDecapsulation("back/big.js", kKey, -1, true));
}

TEST_F(EncryptionHashContainer, ChangedClearTailByteKeepsTheHashes) {
  const Bytes content = BigContent();
  Encapsulate("big.js", content);
  ChangeByte("big.js", 11 + 1264 + 3);
  ToolRun run = Decapsulate("img/ADV_OBJ/big.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/big.js", kKey, 1, true));
  Bytes expected = content;
  expected[992 + 3] = static_cast<char>(expected[992 + 3] ^ 0x01);
  EXPECT_TRUE(w.Read("back/big.js") == expected);
}

TEST_F(EncryptionHashContainer, RenamedContainerMatchesItsHashesButNotItsName) {
  Encapsulate("big.js", BigContent());
  w.Write("img/ADV_OBJ/other.js", w.Read("img/ADV_OBJ/big.js"));
  ToolRun run = Decapsulate("img/ADV_OBJ/other.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/other.js", kKey, 1, false));
}

TEST_F(EncryptionHashContainer, AnotherKeyKeepsTheHashesButFailsTheName) {
  Encapsulate("big.js", BigContent());
  ToolRun run = Decapsulate("img/ADV_OBJ/big.js", "other.bin");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/big.js", kOtherKey, 1, false));
  const Bytes restored = w.Read("back/big.js");
  ASSERT_EQ(restored.size(), 1000u);
  EXPECT_EQ(restored.substr(992), BigContent().substr(992));
  EXPECT_NE(restored.substr(0, 992), BigContent().substr(0, 992));
}

TEST_F(EncryptionHashContainer, MissingTableStillRestoresAndNamesTheExpectedPath) {
  Encapsulate("big.js", BigContent());
  w.Write("moved/ADV_OBJ/big.js", w.Read("img/ADV_OBJ/big.js"));
  ToolRun run = Decapsulate("moved/ADV_OBJ/big.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulationWithoutTable(
                         "back/big.js", kKey, "moved/AACS/CONTENT_HASH_TABLE2.AACS"));
  EXPECT_TRUE(w.Read("back/big.js") == BigContent());
  ExpectNoLeftovers(w);
}

struct RefusingTableCase {
  const char* label;
  Bytes table;
  Bytes message;
};

class EncryptionHashRefusingTable : public EncryptionHashContainer,
                                    public ::testing::WithParamInterface<RefusingTableCase> {};

// Unit 0 fails and sets full, unit 1 is skipped, the short unit is still attempted: two
// messages, two zero numbers, the short unit's digest printed, the table untouched.
TEST_P(EncryptionHashRefusingTable, AttemptsTheFirstAndTheShortUnit) {
  const RefusingTableCase& c = GetParam();
  w.Write(kTablePath, c.table);
  ToolRun run = Encapsulate("big.js", BigContent());
  EXPECT_EQ(run.out, EncryptionHashEncapsulation("img/ADV_OBJ/big.js",
                                                 FromHex(kBigUnitTailsHex[2]), kKey,
                                                 c.message + c.message));
  const Bytes bytes = w.Read("img/ADV_OBJ/big.js");
  ASSERT_EQ(bytes.size(), 283u + 1000u + 8u);
  EXPECT_EQ(bytes.substr(1283), Bytes(8, '\0'));
  EXPECT_TRUE(Table(w) == c.table);
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, EncryptionHashRefusingTable,
    ::testing::Values(
        RefusingTableCase{"Full", Bytes(kCounterAt, '\0') + Number(0xFFFFFFFFu), kFullTable},
        RefusingTableCase{"ShorterThanItsCounter", Bytes(40058, '\0'), kUnusableTable},
        RefusingTableCase{"LengthDisagreesWithCounter", Bytes(kCounterAt, '\0') + Number(1),
                          kUnusableTable}),
    [](const ::testing::TestParamInfo<RefusingTableCase>& info) { return info.param.label; });

// 50000 bytes: B = L = 50272, 98 full units and one of 96 bytes, a container of 50679 bytes,
// five draws taking units 2, 16, 44, 79 and 81.
class FiftyThousandBytes : public EncryptionHashContainer {
 protected:
  void SetUp() override {
    EncryptionHashContainer::SetUp();
    content = SampleContent(50000, 5);
    Encapsulate("long.js", content);
    intact = w.Read("img/ADV_OBJ/long.js");
  }
  Bytes content;
  Bytes intact;
};

TEST_F(FiftyThousandBytes, HasNinetyNineUnitsAndChecksFive) {
  ASSERT_EQ(intact.size(), 50679u);
  for (std::uint32_t u = 0; u < 99; ++u) {
    EXPECT_EQ(intact.substr(50283 + 4 * u, 4), Number(u + 1));
  }
  EXPECT_EQ(Table(w).size(), 40060u + 8u * 99u);
  ToolRun run = Decapsulate("img/ADV_OBJ/long.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/long.js", kKey, 5, true));
  EXPECT_TRUE(w.Read("back/long.js") == content);
}

class FiftyThousandBytesUnit : public FiftyThousandBytes,
                               public ::testing::WithParamInterface<std::pair<int, bool>> {};

TEST_P(FiftyThousandBytesUnit, ChangedByteIsFoundOnlyInADrawnUnit) {
  const auto [unit, drawn] = GetParam();
  // A content byte (not in the name block); the short last unit holds 96 bytes.
  ChangeByte("long.js", 11 + 512 * static_cast<std::size_t>(unit) + (unit == 98 ? 95 : 500));
  ToolRun run = Decapsulate("img/ADV_OBJ/long.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/long.js", kKey, drawn ? -1 : 5, true));
}

INSTANTIATE_TEST_SUITE_P(Units, FiftyThousandBytesUnit,
                         ::testing::Values(std::pair{2, true}, std::pair{16, true},
                                           std::pair{44, true}, std::pair{79, true},
                                           std::pair{81, true}, std::pair{0, false},
                                           std::pair{3, false}, std::pair{80, false},
                                           std::pair{97, false}, std::pair{98, false}));

// Content sizes giving n units, and the draws made when every drawn unit matches.
class DrawCount : public EncryptionHashContainer,
                  public ::testing::WithParamInterface<std::tuple<std::size_t, std::size_t, int>> {};

TEST_P(DrawCount, IsOneInTwentyRoundedUp) {
  const auto [size, units, draws] = GetParam();
  Encapsulate("n.js", SampleContent(size, 9));
  ASSERT_EQ(w.Read("img/ADV_OBJ/n.js").size(), 283 + size + 4 * units);
  ToolRun run = Decapsulate("img/ADV_OBJ/n.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/n.js", kKey, draws, true));
}

INSTANTIATE_TEST_SUITE_P(Units, DrawCount,
                         ::testing::Values(std::tuple{std::size_t{9968}, std::size_t{20}, 1},
                                           std::tuple{std::size_t{10000}, std::size_t{21}, 2},
                                           std::tuple{std::size_t{20000}, std::size_t{40}, 2},
                                           std::tuple{std::size_t{20500}, std::size_t{41}, 3}));

// Two units or fewer: each named unit is checked once, in order, up to the first mismatch.
TEST_F(EncryptionHashContainer, OneUnitIsCheckedOnce) {
  Encapsulate("s.js", kSmallContent);
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/s.js").out,
            EncryptionHashDecapsulation("back/s.js", kKey, 1, true));
  ChangeByte("s.js", 11 + 287);
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/s.js").out,
            EncryptionHashDecapsulation("back/s.js", kKey, -1, true));
}

TEST_F(EncryptionHashContainer, TwoUnitsAreBothChecked) {
  Encapsulate("two.js", SampleContent(500, 4));  // L = 768: units of 512 and 256 bytes
  const Bytes intact = w.Read("img/ADV_OBJ/two.js");
  ASSERT_EQ(intact.size(), 283u + 500u + 8u);
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/two.js").out,
            EncryptionHashDecapsulation("back/two.js", kKey, 2, true));
  ChangeByte("two.js", 11 + 512 + 255);
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/two.js").out,
            EncryptionHashDecapsulation("back/two.js", kKey, -1, true));
  w.Write("img/ADV_OBJ/two.js", intact);
  ChangeByte("two.js", 11);
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/two.js").out,
            EncryptionHashDecapsulation("back/two.js", kKey, -1, false));
}

TEST_F(EncryptionHashContainer, NoTrailerEntryMeansNothingVerified) {
  Encapsulate("s.js", kSmallContent);
  const Bytes bytes = w.Read("img/ADV_OBJ/s.js");
  w.Write("img/ADV_OBJ/s.js", bytes.substr(0, bytes.size() - 4));
  ToolRun run = Decapsulate("img/ADV_OBJ/s.js");
  EXPECT_EQ(run.out, EncryptionHashDecapsulation("back/s.js", kKey, -1, true));
  EXPECT_EQ(w.Read("back/s.js"), kSmallContent);
}

TEST_F(EncryptionHashContainer, TooShortForItsSizeFieldIsRefused) {
  Encapsulate("s.js", kSmallContent);
  const Bytes bytes = w.Read("img/ADV_OBJ/s.js");
  w.Write("img/ADV_OBJ/s.js", bytes.substr(0, 283 + 21 - 1));
  ToolRun run = Decapsulate("img/ADV_OBJ/s.js");
  EXPECT_EQ(run.out, kTooShort);
  EXPECT_FALSE(w.Exists("back/s.js"));
}

// A trailer that names more units than the body holds. With two extra entries (n = 5, total
// 1303) the single draw takes unit 2, the short unit, which matches when hashed over its own
// 240 bytes; with three (n = 6, total 1307) it takes unit 3, which lies outside the body.
TEST_F(EncryptionHashContainer, DrawOfTheShortUnitHashesItsOwnBytes) {
  Encapsulate("big.js", BigContent());
  w.Write("img/ADV_OBJ/big.js", w.Read("img/ADV_OBJ/big.js") + Bytes(8, '\0'));
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/big.js").out,
            EncryptionHashDecapsulation("back/big.js", kKey, 1, true));
}

TEST_F(EncryptionHashContainer, DrawOutsideTheBodyMismatches) {
  Encapsulate("big.js", BigContent());
  w.Write("img/ADV_OBJ/big.js", w.Read("img/ADV_OBJ/big.js") + Number(1) + Number(2) + Number(3));
  EXPECT_EQ(Decapsulate("img/ADV_OBJ/big.js").out,
            EncryptionHashDecapsulation("back/big.js", kKey, -1, true));
  EXPECT_TRUE(w.Read("back/big.js") == BigContent());
}

}  // namespace
}  // namespace velador::testing

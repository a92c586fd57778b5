// MAC containers (type code 0x02) through the built tool: round trips for persistent storage,
// the exact bytes of one container, and the three verdicts of damaged or renamed containers.

#include <gtest/gtest.h>

#include <string>

#include "e2e/type_reports.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

using namespace reports;

class MacRoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(MacRoundTrip, RestoresTheInputAndReportsExactly) {
  const std::size_t size = GetParam();
  Workspace w;
  w.Write("key.bin", kKey);
  const Bytes content = SampleContent(size, static_cast<std::uint32_t>(size) + 3);
  w.Write("src/menu.xml", content);
  w.MakeFolder("out");
  w.MakeFolder("back");

  ToolRun run = w.Run({"-e", "-p", "src/menu.xml", "out", "key.bin"});
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  const Bytes bytes = w.Read("out/menu.xml");
  ASSERT_EQ(bytes.size(), 299 + size);
  EXPECT_EQ(bytes.substr(0, 11), Header(0x02, 0x01, static_cast<std::uint32_t>(size)));
  EXPECT_EQ(bytes.substr(11, 272), NameBlock("menu.xml"));
  EXPECT_TRUE(bytes.substr(283, size) == content);
  // The report shows the 16 bytes that close the container.
  EXPECT_EQ(run.out, MacEncapsulation("out/menu.xml", bytes.substr(283 + size)));

  run = w.Run({"-d", "out/menu.xml", "back", "key.bin"});
  EXPECT_EQ(run.out, MacDecapsulation("back/menu.xml", true, true));
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.status, 0);
  EXPECT_TRUE(w.Read("back/menu.xml") == content);
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(MacSizes, MacRoundTrip,
                         ::testing::Values(0u, 1u, 15u, 16u, 17u, 21u, 272u, 1000u, 1048581u));

// m.xml holding "<a>x</a>\n" under kKey; the MAC was worked out with an independent AES-CMAC over
// the name block and the content.
const Bytes kSmallContent = "<a>x</a>\n";
const char* const kSmallMacHex = "a66b5d30c4ba1e442efb6c2b328aa879";

class MacContainer : public ::testing::Test {
 protected:
  void SetUp() override {
    w.Write("key.bin", kKey);
    w.Write("other.bin", kOtherKey);
    w.Write("src/m.xml", kSmallContent);
    w.MakeFolder("out");
    w.MakeFolder("back");
    ToolRun run = w.Run({"-e", "-p", "src/m.xml", "out", "key.bin"});
    ASSERT_EQ(run.out, MacEncapsulation("out/m.xml", FromHex(kSmallMacHex)));
  }

  ToolRun Decapsulate(const std::string& name, const Bytes& bytes,
                      const std::string& keyFile = "key.bin") {
    w.Write("out/" + name, bytes);
    return w.Run({"-d", "out/" + name, "back", keyFile});
  }

  Workspace w;
};

TEST_F(MacContainer, HoldsTheIndependentlyComputedBytes) {
  EXPECT_EQ(w.Read("out/m.xml"),
            Header(0x02, 0x01, 9) + NameBlock("m.xml") + kSmallContent + FromHex(kSmallMacHex));
}

struct VerdictCase {
  const char* label;
  const char* name;     // the container's name when it is decapsulated
  int changedOffset;    // from the end when negative; none when 0
  bool otherKey;
  bool macMatches;
  bool nameMatches;
};

class MacVerdicts : public MacContainer, public ::testing::WithParamInterface<VerdictCase> {};

TEST_P(MacVerdicts, PrintsTheVerdictsAndRestoresTheContent) {
  const VerdictCase c = GetParam();
  Bytes bytes = w.Read("out/m.xml");
  if (c.changedOffset != 0) {
    const std::size_t at = c.changedOffset > 0 ? static_cast<std::size_t>(c.changedOffset)
                                               : bytes.size() - static_cast<std::size_t>(-c.changedOffset);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  }
  ToolRun run = Decapsulate(c.name, bytes, c.otherKey ? "other.bin" : "key.bin");
  EXPECT_EQ(run.out, MacDecapsulation(std::string("back/") + c.name, c.macMatches, c.nameMatches));
  EXPECT_EQ(w.Read(std::string("back/") + c.name), bytes.substr(283, bytes.size() - 299));
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, MacVerdicts,
    ::testing::Values(VerdictCase{"Intact", "m.xml", 0, false, true, true},
                      VerdictCase{"OtherKey", "m.xml", 0, true, false, true},
                      VerdictCase{"Renamed", "n.xml", 0, false, true, false},
                      VerdictCase{"NameInOtherCase", "M.XML", 0, false, true, true},
                      VerdictCase{"ChangedContentByte", "m.xml", 283 + 4, false, false, true},
                      VerdictCase{"ChangedMacByte", "m.xml", -16, false, false, true},
                      VerdictCase{"ChangedLastMacByte", "m.xml", -1, false, false, true},
                      VerdictCase{"ChangedNameBlockByte", "m.xml", 12, false, false, false}),
    [](const ::testing::TestParamInfo<VerdictCase>& info) { return info.param.label; });

TEST_F(MacContainer, SizeFieldIsNotWhatLocatesTheMac) {
  Bytes bytes = w.Read("out/m.xml");
  bytes.replace(7, 4, Number(1000));
  ToolRun run = Decapsulate("m.xml", bytes);
  EXPECT_EQ(run.out, MacDecapsulation("back/m.xml", true, true));
  EXPECT_EQ(w.Read("back/m.xml"), kSmallContent);
}

TEST_F(MacContainer, TooShortContainerIsRefusedBeforeTheOperation) {
  ToolRun run = Decapsulate("short.xml", w.Read("out/m.xml").substr(0, 298));
  EXPECT_EQ(run.out, kTooShort);
  EXPECT_FALSE(w.Exists("back/short.xml"));
  ExpectNoLeftovers(w);
}

}  // namespace
}  // namespace velador::testing

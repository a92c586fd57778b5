// Non-Protected, Encryption and MAC containers through the built tool: round trips, the exact
// bytes of one container of each type, and the verdicts of damaged, renamed or rekeyed ones.

#include <string>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

enum Type : char { kNonProtected = 'N', kEncryption = 'E', kMac = 'M' };

std::string Encapsulation(Type type, const std::string& result, const Bytes& container) {
  if (type == kNonProtected) return NonProtectedEncapsulation(result, kKey);
  if (type == kEncryption) return EncryptionEncapsulation(result, kKey);
  return MacEncapsulation(result, container.substr(container.size() - 16));
}

struct RoundTripCase {
  Type type;
  std::size_t size;
  bool forDisc;
  std::string name;
};
std::string Label(const RoundTripCase& c) {
  return std::string(1, static_cast<char>(c.type)) + std::to_string(c.size) +
         (c.forDisc ? "Disc" : "Storage") + (c.name.size() > 100 ? "LongestName" : "");
}
void PrintTo(const RoundTripCase& c, std::ostream* os) { *os << Label(c); }

class RoundTrip : public ToolTestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, RestoresTheInputAndReportsExactly) {
  const RoundTripCase& c = GetParam();
  const Bytes content = SampleContent(c.size, static_cast<std::uint32_t>(c.size) + 7);
  w.Write("src/" + c.name, content);
  const std::string container = (c.forDisc ? "img/ADV_OBJ/" : "out/") + c.name;
  const std::string printed =
      Out({"-e", c.forDisc ? "-d" : "-p", "src/" + c.name, c.forDisc ? "img" : "out", "key"});
  const Bytes bytes = w.Read(container);
  EXPECT_EQ(printed, Encapsulation(c.type, container, bytes));
  ASSERT_EQ(bytes.size(), (c.type == kMac ? 299 : 283) + c.size);
  EXPECT_EQ(bytes.substr(0, 11), Header(c.type == kNonProtected ? 0x21
                                        : c.type == kMac        ? 2
                                                                : 1,
                                        static_cast<std::uint32_t>(c.size)));
  if (c.type == kEncryption) {
    const std::size_t clear = c.size % 16;  // the partial last block stays in clear
    EXPECT_EQ(bytes.substr(bytes.size() - clear), content.substr(c.size - clear));
    if (c.size >= 16) {
      EXPECT_NE(bytes.substr(283, 16), content.substr(0, 16));
    }
  } else {
    EXPECT_TRUE(bytes.substr(283, c.size) == content);
  }
  if (c.type == kMac) {
    EXPECT_EQ(bytes.substr(11, 272), NameBlock(c.name));
  }

  const std::string back = "back/" + c.name;
  const std::string out = Out({"-d", container, "back", "key"});
  if (c.type == kNonProtected) {
    EXPECT_EQ(out, NonProtectedDecapsulation(back, true));
  }
  if (c.type == kEncryption) {
    EXPECT_EQ(out, EncryptionDecapsulation(back, kKey, true));
  }
  if (c.type == kMac) {
    EXPECT_EQ(out, MacDecapsulation(back, true, true));
  }
  EXPECT_TRUE(w.Read(back) == content);
  ExpectNoLeftovers(w);
}

std::vector<RoundTripCase> RoundTripCases() {
  std::vector<RoundTripCase> cases;
  for (std::size_t size : {0, 1, 272, 100000})
    cases.push_back({kNonProtected, size, true, "a.bin"});
  // The longest name this file system takes: the name block holds 255 + 5 name bytes.
  cases.push_back({kNonProtected, 1, false, std::string(251, 'n') + ".txt"});
  for (std::size_t size : {0, 1, 15, 16, 17, 21, 272, 1000, 1048581}) {
    cases.push_back({kEncryption, size, true, "pic.png"});
    cases.push_back({kEncryption, size, false, "pic.png"});
    cases.push_back({kMac, size, false, "menu.xml"});
  }
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip, ::testing::ValuesIn(RoundTripCases()),
                         [](const auto& info) { return Label(info.param); });

// Containers worked out apart from the tool: AES-128-CBC from an all-zero IV without padding
// over the name block and the whole content blocks, AES-CMAC over name block and content.
class KnownContainer : public ToolTest {};

TEST_F(KnownContainer, NonProtected) {
  w.Write("k", "0123456789abcdef");
  w.Write("notes.txt", "hello");
  EXPECT_EQ(Out({"-e", "-p", "notes.txt", "out", "k"}),
            NonProtectedEncapsulation("out/notes.txt", "0123456789abcdef"));
  EXPECT_EQ(w.Read("out/notes.txt"),
            Header(0x21, 5) +
                FromHex("8c85517ceca523ec121265ae292ccfcd7188f3599efe0a1da61d4fe40826afd3"
                        "b408eb7df7e1be9b184f5267e5e36846fd137321002fd28f8eb5646dd74aeb82"
                        "81ffb156e8fd57fe3fb38a57593281fdfdec65fc060eb52a113c0af76151e5f5"
                        "f3cb98a869c7cb6895d5b743c2196d4170d86688e3131c07b17485e10660dfaf"
                        "7bb4aaf8780fc0636660ee12bafae0d64294dff8e20d8271c067f109ac69b76f"
                        "07a05b40e7aa4c159b601e68b6acf28b40065a9ddeb7ba6c440da0186898b6f1"
                        "9f01f9fb881f96a6d965c6477e0ced5d3ef00cdd0c6045d37d320332572a6c9a"
                        "25aeb850bade772ca06a3686275846895af0defe395b531f77df14d14e2a7071"
                        "877c8d6806b1709876499e1cb7dcdcd1") +
                "hello");
}

TEST_F(KnownContainer, Encryption) {
  w.Write("a.png", "Hello, velador!\nABCDE");
  EXPECT_EQ(Out({"-e", "-p", "a.png", "out", "key"}), EncryptionEncapsulation("out/a.png", kKey));
  EXPECT_EQ(w.Read("out/a.png"),
            FromHex("4141435301000100000015"
                    "e70305aba63510a482df2b71f4d0ec44ba9538390653248da4a446af6d8940f14a320e73f61ffe"
                    "55f52052a44b0f06c583811ce6d4c1004d5c44204db8c67132c313020f35a1dbc44b78c5fa8e6c"
                    "79d078fa54c94dc685a2344c0b64177b0910ec84f0190982c43d24874ded1174e36b63994d9beb"
                    "9fee0dd507f82140ab710f0678e241911186dc32ee7ae46c59f8577b1f3b02a8523c31cba09f95"
                    "3cec9dc0b22e5f3a4e141e61475f68a9344c08d2ca1b0fa5d7c424c32498a7ec9d0e4f9f678629"
                    "2ae71c9b91092edca445265068653d7c694af0e75f9dded9b3dd3170664bb5984f0baf2ac6a311"
                    "773dcd65f65f600c32cb1e61c59af3a5e0f5d47c83f3ab42b39f851b497477dae6a6dd953885c8"
                    "dbfb4a92044873694ae175a0f0ef58"
                    "4142434445"));
}

TEST_F(KnownContainer, Mac) {
  const Bytes mac = FromHex("a66b5d30c4ba1e442efb6c2b328aa879");
  w.Write("m.xml", "<a>x</a>\n");
  EXPECT_EQ(Out({"-e", "-p", "m.xml", "out", "key"}), MacEncapsulation("out/m.xml", mac));
  EXPECT_EQ(w.Read("out/m.xml"), Header(0x02, 9) + NameBlock("m.xml") + "<a>x</a>\n" + mac);
}

// A container made from `source`, then decapsulated as out/`name` after one change.
struct VerdictCase {
  Type type;
  const char* label;
  std::string name;
  long changeAt;  // from the end when negative; nothing changed when 0
  bool otherKey;
  bool first;   // the name verdict, or for MAC the MAC verdict
  bool second;  // for MAC the name verdict
};

class Verdict : public ToolTestWithParam<VerdictCase> {};

TEST_P(Verdict, PrintsTheVerdictAndRestoresTheContent) {
  const VerdictCase& c = GetParam();
  const std::string source = c.type == kNonProtected ? "caf\xE9.txt"  // Windows-1252 e-acute
                             : c.type == kEncryption ? "a.png"
                                                     : "m.xml";
  const Bytes content = "Hello, velador!\nABCDE";
  w.Write(source, content);
  Out({"-e", "-p", source, "out", "key"});
  Bytes bytes = w.Read("out/" + source);
  if (c.changeAt != 0) {
    const std::size_t at = c.changeAt > 0 ? static_cast<std::size_t>(c.changeAt)
                                          : bytes.size() - static_cast<std::size_t>(-c.changeAt);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
  }
  w.Write("out/" + c.name, bytes);
  const Bytes key = c.otherKey ? kOtherKey : kKey;
  const std::string out = Out({"-d", "out/" + c.name, "back", c.otherKey ? "other" : "key"});
  const std::string back = "back/" + c.name;
  const Bytes restored = w.Read(back);
  if (c.type == kNonProtected) {
    EXPECT_EQ(out, NonProtectedDecapsulation(back, c.first));
  }
  if (c.type == kEncryption) {
    EXPECT_EQ(out, EncryptionDecapsulation(back, key, c.first));
    EXPECT_EQ(restored.size(), content.size());
    EXPECT_EQ(restored.substr(16), bytes.substr(bytes.size() - 5));  // the clear tail
    if (c.otherKey || c.changeAt == 283 + 3) {
      EXPECT_NE(restored.substr(0, 16), content.substr(0, 16));
    }
  }
  if (c.type == kMac) {
    EXPECT_EQ(out, MacDecapsulation(back, c.first, c.second));
  }
  if (c.type != kEncryption) {
    EXPECT_EQ(restored, bytes.substr(283, content.size()));
  }
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, Verdict,
    ::testing::Values(VerdictCase{kNonProtected, "Intact", "caf\xE9.txt", 0, false, true, true},
                      VerdictCase{kNonProtected, "OtherKey", "caf\xE9.txt", 0, true, false, true},
                      VerdictCase{kNonProtected, "Renamed", "caf\xE9.tx", 0, false, false, true},
                      VerdictCase{kNonProtected, "CaseOnly", "CAF\xE9.TXT", 0, false, true, true},
                      VerdictCase{kNonProtected, "AccentCaseNotFolded", "CAF\xC9.TXT", 0, false,
                                  false, true},
                      VerdictCase{kEncryption, "Intact", "a.png", 0, false, true, true},
                      VerdictCase{kEncryption, "OtherKey", "a.png", 0, true, false, true},
                      VerdictCase{kEncryption, "Renamed", "b.png", 0, false, false, true},
                      VerdictCase{kEncryption, "CaseOnly", "A.PNG", 0, false, true, true},
                      VerdictCase{kEncryption, "ContentByte", "a.png", 283 + 3, false, true, true},
                      VerdictCase{kEncryption, "ClearTailByte", "a.png", -2, false, true, true},
                      VerdictCase{kEncryption, "NameBlockByte", "a.png", 11, false, false, true},
                      VerdictCase{kEncryption, "SizeField", "a.png", 10, false, true, true},
                      VerdictCase{kMac, "Intact", "m.xml", 0, false, true, true},
                      VerdictCase{kMac, "OtherKey", "m.xml", 0, true, false, true},
                      VerdictCase{kMac, "Renamed", "n.xml", 0, false, true, false},
                      VerdictCase{kMac, "CaseOnly", "M.XML", 0, false, true, true},
                      VerdictCase{kMac, "ContentByte", "m.xml", 283 + 4, false, false, true},
                      VerdictCase{kMac, "FirstMacByte", "m.xml", -16, false, false, true},
                      VerdictCase{kMac, "LastMacByte", "m.xml", -1, false, false, true},
                      VerdictCase{kMac, "NameBlockByte", "m.xml", 12, false, false, false},
                      VerdictCase{kMac, "SizeField", "m.xml", 10, false, true, true}),
    [](const auto& info) {
      return std::string(1, static_cast<char>(info.param.type)) + info.param.label;
    });

}  // namespace
}  // namespace velador::testing

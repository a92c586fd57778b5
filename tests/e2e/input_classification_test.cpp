#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace x = expected;

const Bytes kKey = "0123456789abcdef";

Bytes Header(unsigned char code, std::uint32_t size) {
  Bytes header = "AACS";
  header += static_cast<char>(code);
  header += '\0';
  header += code == 0x12 ? '\0' : '\x01';
  for (int shift = 24; shift >= 0; shift -= 8) header += static_cast<char>((size >> shift) & 0xFF);
  return header;
}

// The type the tool picks shows in the announcement that follows the result-path line.
struct ExtensionCase {
  const char* label;
  std::string name;
  bool forDisc;
  std::string announcement;
};

class ExtensionChoice : public ::testing::TestWithParam<ExtensionCase> {};

TEST_P(ExtensionChoice, AnnouncesTheExpectedType) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.Write("src/" + GetParam().name, "some content");
  ToolRun run = w.Run({"-e", GetParam().forDisc ? "-d" : "-p", "src/" + GetParam().name, "img",
                       "key"});
  std::string result = GetParam().forDisc ? "img/ADV_OBJ/" + GetParam().name
                                          : "img/" + GetParam().name;
  EXPECT_EQ(run.out.rfind(x::ResultPath(result) + GetParam().announcement, 0), 0u) << run.out;
  EXPECT_TRUE(w.Exists(result));
}

INSTANTIATE_TEST_SUITE_P(
    Classification, ExtensionChoice,
    ::testing::Values(
        ExtensionCase{"PngDisc", "picture.png", true, x::kAnnounceEncryption},
        ExtensionCase{"UpperPngStorage", "picture.PNG", false, x::kAnnounceEncryption},
        ExtensionCase{"TtcMixedCase", "font.TtC", true, x::kAnnounceEncryption},
        ExtensionCase{"JsDisc", "script.js", true, x::kAnnounceEncryptionHash},
        ExtensionCase{"UpperJsDisc", "script.JS", true, x::kAnnounceEncryptionHash},
        ExtensionCase{"JsStorage", "script.js", false, x::kAnnounceMac},
        ExtensionCase{"JsWithoutDot", "js", true, x::kAnnounceNonProtected},
        ExtensionCase{"EndsInJsWithoutDot", "scriptjs", true, x::kAnnounceNonProtected},
        ExtensionCase{"XmlDisc", "menu.xml", true, x::kAnnounceHash},
        ExtensionCase{"XmlStorage", "menu.xml", false, x::kAnnounceMac},
        ExtensionCase{"XmlWithoutDot", "menuxml", true, x::kAnnounceHash},
        ExtensionCase{"XmlWithoutDotStorage", "menuxml", false, x::kAnnounceMac},
        ExtensionCase{"UpperXulDisc", "a.XUL", true, x::kAnnounceHash},
        ExtensionCase{"Html", "page.html", true, x::kAnnounceNonProtected},
        ExtensionCase{"Gz", "archive.gz", false, x::kAnnounceNonProtected},
        ExtensionCase{"TwoCharacterName", "ab", false, x::kAnnounceNonProtected}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Classification, AlreadyAContainerIsRefusedWhateverTheExtension) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  for (std::string name : {"a.txt", "a.png", "a.xml"}) {
    w.Write(name, "AACS and anything");
    EXPECT_EQ(w.Run({"-e", "-p", name, "out", "key"}).out, x::kAlreadyContainer) << name;
    // The key-file step still runs after the refusal.
    EXPECT_EQ(w.Run({"-e", "-p", name, "out"}).out, x::kAlreadyContainer + x::kKeyFile) << name;
  }
  w.Write("four.txt", "AACS");
  EXPECT_EQ(w.Run({"-e", "-p", "four.txt", "out", "key"}).out, x::kAlreadyContainer);
  EXPECT_EQ(w.List(), (std::vector<std::string>{"a.png", "a.txt", "a.xml", "four.txt", "key",
                                                 "out"}));
}

TEST(Classification, AlmostAContainerIsEncapsulated) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  for (std::string content : {"AAC", "AACs", "aacs", "xAACS", ""}) {
    w.Write("a.txt", content);
    std::filesystem::remove(w.Path("out/a.txt"));
    ToolRun run = w.Run({"-e", "-p", "a.txt", "out", "key"});
    EXPECT_EQ(run.out.rfind(x::ResultPath("out/a.txt") + x::kAnnounceNonProtected, 0), 0u)
        << content;
  }
}

TEST(Classification, DecapsulatingANonContainerIsRefused) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  for (std::string content : {"", "A", "AAC", "AACs", "hello world, no container here"}) {
    w.Write("a.txt", content);
    EXPECT_EQ(w.Run({"-d", "a.txt", "out", "key"}).out, x::kNotContainer) << content;
    EXPECT_EQ(w.Run({"-d", "a.txt", "out"}).out, x::kNotContainer + x::kKeyFile) << content;
  }
  EXPECT_FALSE(w.Exists("out/a.txt"));
}

TEST(Classification, UnknownTypeCodeHasItsOwnFraming) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  for (unsigned char code : {0x00, 0x03, 0x10, 0x13, 0x20, 0x22, 0x41, 0xFF}) {
    Bytes content = Header(code, 0) + Bytes(300, '\0');
    w.Write("a.txt", content);
    EXPECT_EQ(w.Run({"-d", "a.txt", "out", "key"}).out, x::kUnknownType) << int{code};
    EXPECT_EQ(w.Run({"-d", "a.txt", "out"}).out, x::kUnknownType + x::kKeyFile) << int{code};
  }
  w.Write("four.txt", "AACS");  // the type code is missing altogether
  EXPECT_EQ(w.Run({"-d", "four.txt", "out", "key"}).out, x::kUnknownType);
  EXPECT_FALSE(w.Exists("out/a.txt"));
}

// Containers shorter than their fixed part: refused, and the key step still runs.
struct ShortCase {
  const char* label;
  unsigned char code;
  std::uint32_t sizeField;
  std::size_t minimum;  // the shortest accepted container
};

class ShortContainer : public ::testing::TestWithParam<ShortCase> {};

TEST_P(ShortContainer, IsRefusedOneByteBelowItsFixedPart) {
  Workspace w;
  MakeDiscImage(w, "img");
  w.Write("key", kKey);
  w.MakeFolder("out");
  const ShortCase& c = GetParam();
  Bytes header = Header(c.code, c.sizeField);
  for (std::size_t length : {std::size_t{5}, std::size_t{11}, c.minimum - 1}) {
    Bytes content = length <= header.size() ? header.substr(0, length)
                                            : header + Bytes(length - header.size(), '\x5A');
    w.Write("img/ADV_OBJ/a.bin", content);
    EXPECT_EQ(w.Run({"-d", "img/ADV_OBJ/a.bin", "out", "key"}).out, x::kTooShort) << length;
    EXPECT_EQ(w.Run({"-d", "img/ADV_OBJ/a.bin", "out"}).out, x::kTooShort + x::kKeyFile)
        << length;
    EXPECT_FALSE(w.Exists("out/a.bin"));
  }
  w.Write("img/ADV_OBJ/a.bin", header + Bytes(c.minimum - header.size(), '\x5A'));
  ToolRun run = w.Run({"-d", "img/ADV_OBJ/a.bin", "out", "key"});
  EXPECT_EQ(run.out.rfind(x::ResultPath("out/a.bin"), 0), 0u) << run.out;
  EXPECT_TRUE(w.Exists("out/a.bin"));
}

INSTANTIATE_TEST_SUITE_P(
    Classification, ShortContainer,
    ::testing::Values(ShortCase{"Encryption", 0x01, 0, 283},
                      ShortCase{"Mac", 0x02, 0, 299},
                      ShortCase{"Hash", 0x12, 0, 287},
                      ShortCase{"NonProtected", 0x21, 0, 283},
                      ShortCase{"EncryptionHashEmpty", 0x11, 0, 283},
                      ShortCase{"EncryptionHashSized", 0x11, 1000, 1283}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Classification, InputTooLargeToEncapsulate) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  w.Write("big.txt", "x");
  std::filesystem::resize_file(w.Path("big.txt"), 4294967296ull);  // sparse: costs nothing
  EXPECT_EQ(w.Run({"-e", "-p", "big.txt", "out", "key"}).out, x::kTooLarge);
  EXPECT_EQ(w.Run({"-e", "-p", "big.txt", "out"}).out, x::kTooLarge + x::kKeyFile);
  // The magic is looked at first.
  w.Write("bigc.txt", "AACS");
  std::filesystem::resize_file(w.Path("bigc.txt"), 4294967296ull);
  EXPECT_EQ(w.Run({"-e", "-p", "bigc.txt", "out", "key"}).out, x::kAlreadyContainer);
  EXPECT_EQ(w.List(), (std::vector<std::string>{"big.txt", "bigc.txt", "key", "out"}));
}

TEST(Classification, FolderAsInputIsNotFound) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  w.MakeFolder("folder.txt");
  EXPECT_EQ(w.Run({"-e", "-p", "folder.txt", "out", "key"}).out, x::kInputNotFound);
  EXPECT_EQ(w.Run({"-d", "folder.txt", "out", "key"}).out, x::kInputNotFound);
  EXPECT_EQ(w.Run({"-e", "-p", ".", "out", "key"}).out, x::kInputNotFound);
}

TEST(Classification, EmptyInputArgumentIsAnEmptyPath) {
  Workspace w;
  w.Write("key", kKey);
  w.Write("0", "a file named like the buffers' initial content");
  w.MakeFolder("out");
  EXPECT_EQ(w.Run({"-e", "-p", "", "out", "key"}).out, x::kInputNotFound);
  EXPECT_EQ(w.Run({"-d", "", "out", "key"}).out, x::kInputNotFound);
}

// Decapsulating a Hash container whose disc image has no table shows where the table was
// looked for: the container's path cut before its second-to-last separator.
struct TablePathCase {
  const char* label;
  std::string container;
  std::string table;
};

class DecapsulationTablePath : public ::testing::TestWithParam<TablePathCase> {};

TEST_P(DecapsulationTablePath, IsShownWhenTheTableIsMissing) {
  Workspace w;
  w.MakeFolder("out");
  Bytes container = Header(0x12, 3) + Bytes(272, '\0') + "abc" + Bytes(4, '\0');
  w.Write(GetParam().container, container);
  ToolRun run = w.Run({"-d", GetParam().container, "out"});
  std::string name = GetParam().container.substr(GetParam().container.find_last_of("/\\") + 1);
  std::string tail = "\n              ruta esperada: " + GetParam().table + "\n\n\n\n";
  EXPECT_EQ(run.out.rfind(x::ResultPath("out/" + name) + x::kAnnounceDecapsulateHash, 0), 0u)
      << run.out;
  ASSERT_GE(run.out.size(), tail.size());
  EXPECT_EQ(run.out.substr(run.out.size() - tail.size()), tail);
  EXPECT_EQ(w.Read("out/" + name), "abc");
}

INSTANTIATE_TEST_SUITE_P(
    Classification, DecapsulationTablePath,
    ::testing::Values(
        TablePathCase{"Slashes", "img/ADV_OBJ/menu.xml", "img/AACS/CONTENT_HASH_TABLE2.AACS"},
        TablePathCase{"Deeper", "a/b/img/ADV_OBJ/menu.xml",
                      "a/b/img/AACS/CONTENT_HASH_TABLE2.AACS"},
        // On this system a backslash is part of a file name, so this is one file in "d".
        TablePathCase{"Backslashes", "d/x\\img\\ADV_OBJ\\menu.xml",
                      "d/x\\img/AACS/CONTENT_HASH_TABLE2.AACS"},
        TablePathCase{"Mixed", "d/img\\ADV_OBJ/menu.xml", "d/img/AACS/CONTENT_HASH_TABLE2.AACS"},
        TablePathCase{"OneSeparator", "ADV_OBJ/menu.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"},
        TablePathCase{"NoSeparator", "menu.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(Classification, OverLongDecapsulationTablePathIsRefused) {
  Workspace w;
  w.Write("key", kKey);
  w.MakeFolder("out");
  // 245 + 30 = 275 bytes of table path for a 259-byte container path.
  std::string folder(245, 'd');
  Bytes hash = Header(0x12, 0) + Bytes(272, '\0') + Bytes(4, '\0');
  w.Write(folder + "/ADV_OBJ/m.xml", hash);
  EXPECT_EQ(w.Run({"-d", folder + "/ADV_OBJ/m.xml", "out", "key"}).out, x::kPathTooLong);
  // A refusal answers "refused", which is not Hash: the key file is then looked for.
  EXPECT_EQ(w.Run({"-d", folder + "/ADV_OBJ/m.xml", "out"}).out,
            x::kPathTooLong + x::kKeyFile);
  EXPECT_FALSE(w.Exists("out/m.xml"));
  // Kept part of 241 bytes: the table path is exactly 271 bytes and the run goes on.
  std::string fits(241, 'f');
  w.Write(fits + "/ADV_OBJ/m.xml", hash);
  ToolRun run = w.Run({"-d", fits + "/ADV_OBJ/m.xml", "out"});
  EXPECT_EQ(run.out.rfind(x::ResultPath("out/m.xml") + x::kAnnounceDecapsulateHash, 0), 0u)
      << run.out;
  // A type without a table does not care how long that path would be.
  Bytes clear = Header(0x21, 0) + Bytes(272, '\0');
  w.Write(folder + "/ADV_OBJ/n.txt", clear);
  run = w.Run({"-d", folder + "/ADV_OBJ/n.txt", "out", "key"});
  EXPECT_EQ(run.out, x::ResultPath("out/n.txt") + x::NonProtectedDecapsulated(false));
}

}  // namespace
}  // namespace velador::testing

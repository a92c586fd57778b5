// Input classification through the built tool: a few representative rows of the extension
// table (the whole table is checked in-process), refusals, short containers of every type,
// huge inputs, and the table path a Hash decapsulation derives.

#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

class Classification : public ToolTest {};

// The type the tool picks shows in the announcement that follows the result-path line.
struct ExtensionCase {
  std::string name;
  bool forDisc;
  std::string announcement;
};

class ExtensionChoice : public ToolTestWithParam<ExtensionCase> {};

TEST_P(ExtensionChoice, AnnouncesTheType) {
  const ExtensionCase& c = GetParam();
  w.Write("src/" + c.name, "some content");
  const std::string result = (c.forDisc ? "img/ADV_OBJ/" : "img/") + c.name;
  EXPECT_EQ(Out({"-e", c.forDisc ? "-d" : "-p", "src/" + c.name, "img", "key"})
                .rfind(Start(result, c.announcement), 0),
            0u);
  EXPECT_TRUE(w.Exists(result));
}

INSTANTIATE_TEST_SUITE_P(Representative, ExtensionChoice,
                         ::testing::Values(ExtensionCase{"a.PnG", false, "encryption"},
                                           ExtensionCase{"s.js", true, "encryption_hash"},
                                           ExtensionCase{"s.JS", false, "mac"},
                                           ExtensionCase{"menu.xml", true, "hash"},
                                           ExtensionCase{"menuxml", false, "mac"},
                                           ExtensionCase{"page.html", true, "non_protected"}),
                         [](const auto& info) {
                           std::string name =
                               info.param.name + (info.param.forDisc ? "Disc" : "Storage");
                           for (char& c : name)
                             c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

// A refusal leaves no type, so the key file is still looked for afterwards.
TEST_F(Classification, RefusalsAndTheKeyStepAfterThem) {
  w.Write("c.txt", "AACS and anything");
  w.Write("four.txt", "AACS");
  w.Write("plain.txt", "AACs, no container");
  w.MakeFolder("folder.txt");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-e", "-p", "c.txt", "out", "key"}, Refusal("already_container")},
      {{"-e", "-p", "c.txt", "out"}, Refusal("already_container") + Refusal("key_file")},
      {{"-e", "-p", "four.txt", "out", "key"}, Refusal("already_container")},
      {{"-d", "plain.txt", "out", "key"}, Refusal("not_container")},
      {{"-d", "plain.txt", "out"}, Refusal("not_container") + Refusal("key_file")},
      {{"-d", "four.txt", "out", "key"},
       Refusal("unknown_type")},  // the type code is missing altogether
      {{"-e", "-p", "folder.txt", "out", "key"}, Refusal("input_not_found")},
      {{"-d", "folder.txt", "out", "key"}, Refusal("input_not_found")},
      {{"-e", "-p", ".", "out", "key"}, Refusal("input_not_found")},
  };
  for (const auto& [arguments, out] : cases) ExpectRefusal(arguments, out);
  // Every other refusal of a container is in the malformed kit.
  w.Write("u.txt", Header(0x13, 0) + Bytes(300, '\0'));
  ExpectRefusal({"-d", "u.txt", "out"}, Refusal("unknown_type") + Refusal("key_file"));
}

TEST_F(Classification, AlmostAContainerIsEncapsulated) {
  for (std::string content : {"AACs", "xAACS", ""}) {
    w.Write("a.txt", content);
    EXPECT_EQ(Out({"-e", "-p", "a.txt", "out", "key"}),
              NonProtectedEncapsulation("out/a.txt", kKey));
  }
}

TEST_F(Classification, InputOverFourGibibytesIsRefused) {
  w.Write("big.txt", "x");
  std::filesystem::resize_file(w.Path("big.txt"), 4294967296ull);  // sparse: costs nothing
  ExpectRefusal({"-e", "-p", "big.txt", "out", "key"}, Refusal("too_large"));
  ExpectRefusal({"-e", "-p", "big.txt", "out"}, Refusal("too_large") + Refusal("key_file"));
  w.Write("bigc.txt", "AACS");  // the magic is looked at first
  std::filesystem::resize_file(w.Path("bigc.txt"), 4294967296ull);
  ExpectRefusal({"-e", "-p", "bigc.txt", "out", "key"}, Refusal("already_container"));
}

// Containers shorter than their fixed part are refused; one byte more gets past.
struct ShortCase {
  unsigned char code;
  std::uint32_t sizeField;
  std::size_t minimum;
};

class ShortContainer : public ToolTestWithParam<ShortCase> {};

TEST_P(ShortContainer, IsRefusedOneByteBelowItsFixedPart) {
  const ShortCase& c = GetParam();
  const Bytes header = Header(c.code, c.sizeField);
  for (std::size_t length : {std::size_t{5}, std::size_t{11}, c.minimum - 1}) {
    Bytes content = (header + Bytes(c.minimum, 'Z')).substr(0, length);
    w.Write("img/ADV_OBJ/a.bin", content);
    ExpectRefusal({"-d", "img/ADV_OBJ/a.bin", "out", "key"}, Refusal("too_short"));
    ExpectRefusal({"-d", "img/ADV_OBJ/a.bin", "out"}, Refusal("too_short") + Refusal("key_file"));
  }
  w.Write("img/ADV_OBJ/a.bin", header + Bytes(c.minimum - header.size(), 'Z'));
  EXPECT_EQ(Out({"-d", "img/ADV_OBJ/a.bin", "out", "key"}).rfind(ResultPath("out/a.bin"), 0), 0u);
  EXPECT_TRUE(w.Exists("out/a.bin"));
}

INSTANTIATE_TEST_SUITE_P(EveryType, ShortContainer,
                         ::testing::Values(ShortCase{0x01, 0, 283}, ShortCase{0x02, 0, 299},
                                           ShortCase{0x12, 0, 287}, ShortCase{0x21, 0, 283},
                                           ShortCase{0x11, 0, 283}, ShortCase{0x11, 1000, 1283}),
                         [](const auto& info) {
                           return "Code" + std::to_string(info.param.code) + "Size" +
                                  std::to_string(info.param.sizeField);
                         });

// A Hash decapsulation with no table shows where the table was looked for: the container's
// path cut before its second-to-last separator (every form is checked in-process).
TEST_F(Classification, MissingTablePathIsDerivedFromTheContainerPath) {
  const Bytes container = Header(0x12, 3) + Bytes(272, '\0') + "abc" + Bytes(4, '\0');
  const std::pair<std::string, std::string> cases[] = {
      {"a/b/im g/ADV_OBJ/m.xml", "a/b/im g/AACS/CONTENT_HASH_TABLE2.AACS"},
      {"m.xml", "/AACS/CONTENT_HASH_TABLE2.AACS"}};
  for (const auto& [path, table] : cases) {
    w.Write(path, container);
    EXPECT_EQ(Out({"-d", path, "out"}), HashDecapsulationWithoutTable("out/m.xml", table));
    EXPECT_EQ(w.Read("out/m.xml"), "abc");
  }
}

TEST_F(Classification, OverLongDerivedTablePathIsRefused) {
  // 245 + 30 = 275 bytes of table path for a 259-byte container path.
  const std::string folder(245, 'd');
  const Bytes hash = Header(0x12, 0) + Bytes(276, '\0');
  w.Write(folder + "/ADV_OBJ/m.xml", hash);
  ExpectRefusal({"-d", folder + "/ADV_OBJ/m.xml", "out", "key"}, Refusal("path_too_long"));
  ExpectRefusal({"-d", folder + "/ADV_OBJ/m.xml", "out"},
                Refusal("path_too_long") + Refusal("key_file"));
  // 241 + 30 = 271 bytes: the run goes on.
  const std::string fits(241, 'f');
  w.Write(fits + "/ADV_OBJ/m.xml", hash);
  EXPECT_EQ(Out({"-d", fits + "/ADV_OBJ/m.xml", "out"})
                .rfind(Start("out/m.xml", "hash_decapsulation"), 0),
            0u);
  // A type without a table does not care how long that path would be.
  w.Write(folder + "/ADV_OBJ/n.txt", Header(0x21, 0) + Bytes(272, '\0'));
  EXPECT_EQ(Out({"-d", folder + "/ADV_OBJ/n.txt", "out", "key"}),
            NonProtectedDecapsulation("out/n.txt", false));
}

}  // namespace
}  // namespace velador::testing

// Encapsulator driven in-process: the reports of the operations, what the command line cannot
// ask for (one name given two types), and operations run several times in one process.

#include "encapsulation/encapsulator.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "image/transaction.h"
#include "io/checked_file.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

const Key kKey = {0x00, 0x0f, 0x10, 0xab, 0x2b, 0x7e, 0x15, 0x16,
                  0x28, 0xae, 0xd2, 0xa6, 0xab, 0xf7, 0x15, 0x88};

// The name block of a.png (a.png.AACS and zero bytes) enciphered under kKey with AES-128-CBC
// from an all-zero IV, worked out independently.
const char* const kEncipheredNameBlockHex =
    "e70305aba63510a482df2b71f4d0ec44ba9538390653248da4a446af6d8940f14a320e73f61ffe55f52052a44b"
    "0f06c583811ce6d4c1004d5c44204db8c67132c313020f35a1dbc44b78c5fa8e6c79d078fa54c94dc685a2344c"
    "0b64177b0910ec84f0190982c43d24874ded1174e36b63994d9beb9fee0dd507f82140ab710f0678e241911186"
    "dc32ee7ae46c59f8577b1f3b02a8523c31cba09f953cec9dc0b22e5f3a4e141e61475f68a9344c08d2ca1b0fa5"
    "d7c424c32498a7ec9d0e4f9f6786292ae71c9b91092edca445265068653d7c694af0e75f9dded9b3dd3170664b"
    "b5984f0baf2ac6a311773dcd65f65f600c32cb1e61c59af3a5e0f5d47c83f3ab42b39f851b497477dae6a6dd95"
    "3885";

OperationReport Operate(const Workspace& w, const std::string& input, const std::string& result,
                        const std::string& name, ContainerType type, Direction direction) {
  Encapsulator encapsulator({w.Path(input).string(), w.Path(result).string(),
                             w.Path("img/AACS/CONTENT_HASH_TABLE2.AACS").string()},
                            name);
  encapsulator.AddEntriesThrough(
      EntriesOfTableAt(w.Path("img/AACS/CONTENT_HASH_TABLE2.AACS").string()));
  return encapsulator.Run(type, direction, kKey);
}

TEST(Encapsulator, NonProtectedAndEncryptionEncipherTheNameBlockAlike) {
  Workspace w;
  w.Write("src/a.png", SampleContent(1000, 2));
  w.MakeFolder("np");
  w.MakeFolder("enc");
  for (auto [folder, type] : {std::pair{"np/a.png", ContainerType::kNonProtected},
                              std::pair{"enc/a.png", ContainerType::kEncryption}}) {
    const OperationReport report =
        Operate(w, "src/a.png", folder, "a.png", type, Direction::kEncapsulate);
    EXPECT_TRUE(report.Completed());
    EXPECT_EQ(report.key, kKey);
    EXPECT_TRUE(report.tableEvents.empty());
  }
  const Bytes np = w.Read("np/a.png");
  const Bytes enc = w.Read("enc/a.png");
  ASSERT_EQ(np.size(), 1283u);
  ASSERT_EQ(enc.size(), 1283u);
  EXPECT_EQ(np.substr(11, 272), enc.substr(11, 272));
  EXPECT_EQ(np.substr(11, 272), FromHex(kEncipheredNameBlockHex));
  EXPECT_EQ(np.substr(0, 11), Header(0x21, 1000));
  EXPECT_EQ(enc.substr(0, 11), Header(0x01, 1000));
  EXPECT_TRUE(np.substr(283) == SampleContent(1000, 2));
}

// Each type's round trip, read from the reports: the verdicts under the right name, and under
// another name; a container that is not there is a read failure and writes nothing.
TEST(Encapsulator, ReportsOfEveryTypeInBothDirections) {
  for (const TypeFacts& facts : AllTypes()) {
    SCOPED_TRACE(facts.number);
    Workspace w;
    MakeDiscImage(w, "img");
    w.MakeFolder("back");
    w.Write("src/f.bin", SampleContent(3000, facts.number));
    const OperationReport made =
        Operate(w, "src/f.bin", "img/ADV_OBJ/f.bin", "f.bin", facts.type, Direction::kEncapsulate);
    ASSERT_TRUE(made.Completed());
    EXPECT_EQ(made.type, facts.type);
    EXPECT_EQ(made.direction, Direction::kEncapsulate);
    for (const char* name : {"f.bin", "F.BIN", "g.bin"}) {
      const OperationReport back =
          Operate(w, "img/ADV_OBJ/f.bin", "back/f.bin", name, facts.type, Direction::kDecapsulate);
      ASSERT_TRUE(back.Completed());
      const bool rightName = name[0] != 'g';
      EXPECT_EQ(back.nameMatches, rightName) << name;
      EXPECT_EQ(back.tableFound, facts.UsesTable());
      EXPECT_EQ(back.contentMatches, facts.trailer != Trailer::kNone) << name;
      EXPECT_EQ(back.PlayerAccepts(), rightName) << name;
      EXPECT_TRUE(w.Read("back/f.bin") == SampleContent(3000, facts.number));
    }
    const OperationReport missing =
        Operate(w, "img/ADV_OBJ/none", "back/none", "none", facts.type, Direction::kDecapsulate);
    EXPECT_EQ(missing.failure, Failure::kRead);
    EXPECT_FALSE(missing.PlayerAccepts());
    EXPECT_FALSE(w.Exists("back/none"));
  }
}

// HoldsInput compares every chunk of the body whatever the earlier ones gave: a byte changed
// in the first, a middle or the last chunk of a three-chunk file (a container holding another
// content), a byte of the stored body changed, another key or another name, is seen; the file
// the container was made from is held.
TEST(Encapsulator, HoldsInputSeesAChangeInAnyChunk) {
  const std::size_t length = 2 * kChunkLength + 1000;
  Workspace w;
  MakeDiscImage(w, "img");
  const Bytes content = SampleContent(length, 7);
  w.Write("src/f.bin", content);
  Key otherKey = kKey;
  otherKey[15] ^= 1;
  const std::pair<std::size_t, const char*> changes[] = {
      {0, "first chunk"}, {kChunkLength + 5, "middle chunk"}, {length - 1, "last byte"}};
  for (const TypeFacts& facts : AllTypes()) {
    SCOPED_TRACE(facts.number);
    w.Write("src/f.bin", content);
    ASSERT_TRUE(
        Operate(w, "src/f.bin", "img/ADV_OBJ/f.bin", "f.bin", facts.type, Direction::kEncapsulate)
            .Completed());
    const auto holds = [&](const Key& key, const std::string& name = "f.bin") {
      Encapsulator comparer({w.Path("src/f.bin").string(), "", ""}, name);
      return comparer.HoldsInput(w.Path("img/ADV_OBJ/f.bin").string(), facts.type, key);
    };
    EXPECT_TRUE(holds(kKey));
    EXPECT_FALSE(holds(kKey, "g.bin"));
    // The trailer is not compared: the bodies of MAC and Hash are the same under any key.
    EXPECT_EQ(holds(otherKey), facts.encipherment == Encipherment::kNothing);
    for (const auto& [at, where] : changes) {
      Bytes changed = content;
      changed[at] = static_cast<char>(changed[at] ^ 0x40);
      w.Write("src/f.bin", changed);
      EXPECT_FALSE(holds(kKey)) << where;
    }
    // The same, a byte of the stored body changed instead: in the name block, then the content.
    w.Write("src/f.bin", content);
    const Bytes container = w.Read("img/ADV_OBJ/f.bin");
    for (const std::size_t at : {std::size_t{11}, std::size_t{283 + kChunkLength + 5}}) {
      Bytes damaged = container;
      damaged[at] = static_cast<char>(damaged[at] ^ 1);
      w.Write("img/ADV_OBJ/f.bin", damaged);
      EXPECT_FALSE(holds(kKey)) << at;
    }
  }
}

TEST(Encapsulator, EveryDecapsulationDrawsFromAFreshGenerator) {
  // 50000 bytes: the draws of a fresh generator take units 2, 16, 44, 79 and 81. Unit 16 is
  // damaged; a generator carried over from the earlier run would draw other units.
  Workspace w;
  MakeDiscImage(w, "img");
  w.MakeFolder("back");
  w.Write("src/long.js", SampleContent(50000, 5));
  Operate(w, "src/long.js", "img/ADV_OBJ/long.js", "long.js", ContainerType::kEncryptionHash,
          Direction::kEncapsulate);
  Bytes bytes = w.Read("img/ADV_OBJ/long.js");
  ASSERT_EQ(bytes.size(), 50679u);
  const auto decapsulate = [&] {
    return Operate(w, "img/ADV_OBJ/long.js", "back/long.js", "long.js",
                   ContainerType::kEncryptionHash, Direction::kDecapsulate);
  };
  const OperationReport intact = decapsulate();
  EXPECT_TRUE(intact.contentMatches);
  EXPECT_EQ(intact.unitsChecked, 5u);
  bytes[11 + 512 * 16 + 300] = static_cast<char>(bytes[11 + 512 * 16 + 300] ^ 0x40);
  w.Write("img/ADV_OBJ/long.js", bytes);
  for (int run = 0; run < 2; ++run) {
    const OperationReport damaged = decapsulate();
    EXPECT_FALSE(damaged.contentMatches) << "run " << run;
    EXPECT_EQ(damaged.unitsChecked, 2u) << "run " << run;
  }
}

// The result path is a folder holding a file, so the rename into place fails after the entries
// were written: the table goes back to what it was, byte for byte, and no temporary file stays.
TEST(Encapsulator, RenameFailingAfterTheEntriesPutsTheTableBack) {
  for (ContainerType type : {ContainerType::kHash, ContainerType::kEncryptionHash}) {
    Workspace w;
    MakeDiscImage(w, "img");
    const std::string tablePath = "img/AACS/CONTENT_HASH_TABLE2.AACS";
    w.Write(tablePath, Bytes(40056, '\0') + Number(1) + "\x01\x02\x03\x04\x05\x06\x07\x08");
    w.Write("img/ADV_OBJ/f.js/keep", "x");
    w.Write("src/f.js", SampleContent(5000, 4));
    const std::vector<std::string> before = w.List();
    const Bytes table = w.Read(tablePath);
    const OperationReport report =
        Operate(w, "src/f.js", "img/ADV_OBJ/f.js", "f.js", type, Direction::kEncapsulate);
    EXPECT_EQ(report.failure, Failure::kWrite);
    EXPECT_TRUE(report.tableEvents.empty());
    EXPECT_TRUE(w.Read(tablePath) == table);
    EXPECT_EQ(w.List(), before);
  }
}

}  // namespace
}  // namespace velador::testing

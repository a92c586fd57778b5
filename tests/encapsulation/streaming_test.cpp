// Every operation on contents whose bodies end just before, on and just after the pipeline's
// chunk boundaries (and 0 and 1 byte): the containers equal ones built in one piece with the
// crypto calls alone, the table gets the same entries, and decapsulating gives the content back
// with every check passing. Contents longer than one chunk go through the threaded pipeline.
// Encryption-and-Hash runs again with the crypto kept off the SHA instructions, where it hashes
// its units on a thread of their own rather than in the pass that enciphers them.

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "crypto/aes_cipher.h"
#include "crypto/aes_mac.h"
#include "crypto/sha1_hasher.h"
#include "dispatch.h"
#include "encapsulation/encapsulator.h"
#include "image/transaction.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

constexpr std::size_t kMiB = 1048576;
constexpr std::size_t kNameBlock = 272;
const Key kKey = {7, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
const std::string kTable = "img/AACS/CONTENT_HASH_TABLE2.AACS";

Bytes Enciphered(Bytes body) {
  AesCipher cipher;
  cipher.MakeKey(kKey.data(), zeroChain, 16, 16);
  auto* data = reinterpret_cast<std::uint8_t*>(body.data());
  cipher.Encrypt(data, data, body.size(), CBC);
  return body;
}

Bytes DigestTail(const Bytes& bytes) {
  Sha1Hasher hasher;
  hasher.Update(Raw(bytes), bytes.size());
  hasher.Final();
  return Bytes(reinterpret_cast<const char*>(hasher.digest) + 12, 8);
}

// The container and the table entries that encapsulating `content` as `type` must give, on a
// fresh table.
struct Expected {
  Bytes container;
  Bytes entries;
};

Expected Build(ContainerType type, const Bytes& content) {
  const Bytes body = NameBlock("f.bin") + content;
  const auto size = static_cast<std::uint32_t>(content.size());
  switch (type) {
    case ContainerType::kNonProtected:
      return {Header(0x21, size) + Enciphered(body.substr(0, kNameBlock)) + content, ""};
    case ContainerType::kEncryption:
      return {Header(0x01, size) + Enciphered(body), ""};
    case ContainerType::kMac: {
      MacTag tag;
      AesMac().Compute(Raw(body), body.size(), kKey.data(), tag.data());
      return {Header(0x02, size) + body + Bytes(tag.begin(), tag.end()), ""};
    }
    case ContainerType::kHash:
      return {Header(0x12, size) + body + Number(1), DigestTail(body)};
    case ContainerType::kEncryptionHash: {
      const Bytes stored = Enciphered(body);
      Expected expected{Header(0x11, size) + stored, ""};
      std::uint32_t number = 0;
      for (std::size_t unit = 0; unit < body.size() - body.size() % 16; unit += 512) {
        expected.container += Number(++number);
        expected.entries += DigestTail(
            stored.substr(unit, std::min<std::size_t>(512, body.size() - body.size() % 16 - unit)));
      }
      return expected;
    }
  }
  return {};
}

struct BoundaryCase {
  ContainerType type;
  std::size_t size;
  // False: the crypto is kept off the SHA instructions, so that Encryption-and-Hash hashes its
  // units on a thread of their own instead of in the enciphering's pass.
  bool shaInstructions = true;
};
void PrintTo(const BoundaryCase& c, std::ostream* os) {
  *os << FactsOf(c.type).number << "_" << c.size << (c.shaInstructions ? "" : "_NoSha");
}

class Streaming : public ::testing::TestWithParam<BoundaryCase> {};

TEST_P(Streaming, ContainersAreBuiltAsInOnePieceAndComeBack) {
  const BoundaryCase& c = GetParam();
  std::optional<dispatch::PinnedFeatures> pin;
  if (!c.shaInstructions) pin.emplace(dispatch::Features{.aes = true, .vaes = true});
  Workspace w;
  MakeDiscImage(w, "img");
  w.MakeFolder("back");
  const Bytes content = SampleContent(c.size, static_cast<std::uint32_t>(c.size));
  w.Write("src/f.bin", content);
  const OperationPaths encapsulation{w.Path("src/f.bin").string(),
                                     w.Path("img/ADV_OBJ/f.bin").string(), w.Path(kTable).string()};
  Encapsulator encapsulator(encapsulation, "f.bin");
  encapsulator.AddEntriesThrough(EntriesOfTableAt(encapsulation.table));
  ASSERT_TRUE(encapsulator.Run(c.type, Direction::kEncapsulate, kKey).Completed());
  const Expected expected = Build(c.type, content);
  EXPECT_TRUE(w.Read("img/ADV_OBJ/f.bin") == expected.container);
  const Bytes table = w.Read(kTable);
  EXPECT_TRUE(table.substr(40060) == expected.entries);
  EXPECT_EQ(table.substr(40056, 4),
            Number(static_cast<std::uint32_t>(expected.entries.size() / 8)));

  const OperationPaths decapsulation{w.Path("img/ADV_OBJ/f.bin").string(),
                                     w.Path("back/f.bin").string(), w.Path(kTable).string()};
  const OperationReport back =
      Encapsulator(decapsulation, "f.bin").Run(c.type, Direction::kDecapsulate, kKey);
  ASSERT_TRUE(back.Completed());
  EXPECT_TRUE(back.PlayerAccepts());
  EXPECT_TRUE(w.Read("back/f.bin") == content);
  const std::vector<std::string> files = {
      "back",        "back/f.bin",        "img", "img/AACS", kTable,
      "img/ADV_OBJ", "img/ADV_OBJ/f.bin", "src", "src/f.bin"};
  EXPECT_EQ(w.List(), files);  // no temporary file beside the results
}

std::vector<BoundaryCase> BoundaryCases() {
  // Bodies of k MiB end on a chunk boundary; 512 more or less moves by one hash unit.
  const std::size_t sizes[] = {0,
                               1,
                               kMiB - kNameBlock - 1,
                               kMiB - kNameBlock,
                               kMiB - kNameBlock + 1,
                               kMiB,
                               2 * kMiB - kNameBlock - 512,
                               2 * kMiB - kNameBlock + 512 + 15,
                               3 * kMiB - kNameBlock};
  std::vector<BoundaryCase> cases;
  for (const TypeFacts& facts : AllTypes()) {
    for (std::size_t size : sizes) cases.push_back({facts.type, size});
  }
  for (std::size_t size : sizes) cases.push_back({ContainerType::kEncryptionHash, size, false});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(ChunkBoundaries, Streaming, ::testing::ValuesIn(BoundaryCases()),
                         [](const auto& info) {
                           return "Type" + std::to_string(FactsOf(info.param.type).number) +
                                  "Size" + std::to_string(info.param.size) +
                                  (info.param.shaInstructions ? "" : "NoSha");
                         });

}  // namespace
}  // namespace velador::testing

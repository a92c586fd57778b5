// Hashed encapsulations that fail part-way, made to fail by a file-size limit on the tool's
// process: whatever the point of failure, a run that reports a failure leaves the table byte
// for byte as it was, the earlier container in place and no temporary file; a table that cannot
// take its entries is put back and the container carries zeros.

#include <string>
#include <vector>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;

// Runs the tool in `w` with no file of the process allowed to grow past `limit` bytes: a
// write beyond it fails as on a full disk. Answers standard output.
Bytes RunWithFileSizeLimit(const Workspace& w, const std::vector<std::string>& arguments,
                           std::uint64_t limit) {
  const ToolRun run = w.Run(arguments, Program::kVelador, limit);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  return run.out;
}

// The header and body take 283 + size bytes, the trailer follows (4 bytes for Hash, one number
// per 512-byte unit for Encryption-and-Hash). Contents longer than a chunk go through the
// threaded pipeline.
struct FailureCase {
  const char* label;
  const char* name;
  const char* announcement;
  std::size_t size;
  std::uint64_t limit;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

constexpr std::size_t kLong = 3 * 1048576 + 5;

class FailedHashedEncapsulation : public ToolTestWithParam<FailureCase> {};

TEST_P(FailedHashedEncapsulation, LeavesTableAndEarlierContainerAsTheyWere) {
  const FailureCase& c = GetParam();
  const std::string container = std::string("img/ADV_OBJ/") + c.name;
  w.Write(kTablePath, Bytes(40056, '\0') + Number(2) + Bytes(16, '\x5a'));
  w.Write(container, "earlier");
  w.Write(std::string("src/") + c.name, SampleContent(c.size, 3));
  const Bytes table = Table();
  EXPECT_EQ(
      RunWithFileSizeLimit(w, {"-e", "-d", std::string("src/") + c.name, "img", "key"}, c.limit),
      Start(container, c.announcement) + Refusal("write_failure"));
  EXPECT_TRUE(Table() == table);
  EXPECT_EQ(w.Read(container), "earlier");
  ExpectNoLeftovers(w);
}

INSTANTIATE_TEST_SUITE_P(
    Limits, FailedHashedEncapsulation,
    ::testing::Values(FailureCase{"HashBody", "a.xml", "hash", 50000, 40000},
                      FailureCase{"HashTrailer", "a.xml", "hash", 50000, 50283},
                      FailureCase{"EncryptionHashBody", "a.js", "encryption_hash", 50000, 40000},
                      FailureCase{"EncryptionHashTrailer", "a.js", "encryption_hash", 50000, 50283},
                      FailureCase{"EncryptionHashTrailerHalfWritten", "a.js", "encryption_hash",
                                  50000, 50283 + 200},
                      FailureCase{"LongHashBody", "a.xml", "hash", kLong, 2 * 1048576 + 100},
                      FailureCase{"LongHashTrailer", "a.xml", "hash", kLong, 283 + kLong},
                      FailureCase{"LongEncryptionHashBody", "a.js", "encryption_hash", kLong,
                                  1048576 + 7},
                      FailureCase{"LongEncryptionHashTrailer", "a.js", "encryption_hash", kLong,
                                  283 + kLong + 4000}),
    [](const auto& info) { return std::string(info.param.label); });

// A table of 8192 entries that may not grow, beside containers that may: the entries cannot be
// written, so the table is put back, the event reported and every number in the trailer is 0.
TEST_F(ToolTest, TableThatCannotGrowIsPutBackAndTheTrailerHoldsZeros) {
  const Bytes table = Bytes(40056, '\0') + Number(8192) + Bytes(8 * 8192, '\x5a');
  w.Write(kTablePath, table);
  w.Write("src/h.xml", kMenuContent);
  w.Write("src/big.js", SampleContent(1000, 8));  // three units
  EXPECT_EQ(RunWithFileSizeLimit(w, {"-e", "-d", "src/h.xml", "img"}, table.size()),
            HashEncapsulation("img/ADV_OBJ/h.xml", kMenuTail, Refusal("unusable_table")));
  EXPECT_EQ(w.Read("img/ADV_OBJ/h.xml"),
            Header(0x12, 8) + NameBlock("h.xml") + kMenuContent + Number(0));
  const std::string out =
      RunWithFileSizeLimit(w, {"-e", "-d", "src/big.js", "img", "key"}, table.size());
  EXPECT_EQ(out.find(Refusal("unusable_table")), out.rfind(Refusal("unusable_table")));
  EXPECT_NE(out.find(Refusal("unusable_table")), std::string::npos);
  const Bytes container = w.Read("img/ADV_OBJ/big.js");
  ASSERT_EQ(container.size(), 283u + 1000u + 12u);
  EXPECT_EQ(container.substr(1283), Bytes(12, '\0'));
  EXPECT_TRUE(Table() == table);
  ExpectNoLeftovers(w);
}

}  // namespace
}  // namespace velador::testing

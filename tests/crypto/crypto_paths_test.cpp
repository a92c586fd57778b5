#include "crypto/crypto_paths.h"

#include <gtest/gtest.h>

#include "crypto/code_paths.h"

namespace velador {
namespace {

using test::CodePath;

// What each path, when pinned, is reported as; a path the processor lacks is not tried.
struct ReportedPath {
  CodePath path;
  CryptoPaths reported;
};
void PrintTo(const ReportedPath& c, std::ostream* os) { *os << c.path.name; }

#if VELADOR_CRYPTO_ARM64
const ReportedPath kReportedPaths[] = {
    {test::kPortable, {AesPath::kPortable, Sha1Path::kPortable}},
    {test::kAesInstructions, {AesPath::kArmv8, Sha1Path::kPortable}},
    {test::kShaInstructions, {AesPath::kPortable, Sha1Path::kArmv8}},
    {{"Both", {.aes = true, .sha = true}}, {AesPath::kArmv8, Sha1Path::kArmv8}},
};
#else
const ReportedPath kReportedPaths[] = {
    {test::kPortable, {AesPath::kPortable, Sha1Path::kPortable}},
    {test::kAesInstructions, {AesPath::kAesNi, Sha1Path::kPortable}},
#if !defined(_WIN32)  // the Windows build has no 256-bit engine: VAES still runs AES-NI there
    {test::kVaes, {AesPath::kVaes, Sha1Path::kPortable}},
#endif
    {test::kShaInstructions, {AesPath::kPortable, Sha1Path::kShaNi}},
};
#endif

class CryptoPathsReported : public testing::TestWithParam<ReportedPath> {};

// The report is what a cipher and a hasher set up now actually get.
TEST_P(CryptoPathsReported, NamesThePinnedPath) {
  const CodePath& path = GetParam().path;
  if (!test::Available(path)) GTEST_SKIP() << path.name << ": not on this processor";
  const test::PinnedPath pin(path);
  const CryptoPaths reported = ChosenCryptoPaths();
  EXPECT_EQ(reported.aes, GetParam().reported.aes);
  EXPECT_EQ(reported.sha1, GetParam().reported.sha1);
}

INSTANTIATE_TEST_SUITE_P(Paths, CryptoPathsReported, testing::ValuesIn(kReportedPaths),
                         [](const auto& info) { return std::string(info.param.path.name); });

}  // namespace
}  // namespace velador

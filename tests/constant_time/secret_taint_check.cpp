// The secret-tainting check: every container operation of the encapsulation library, on the
// portable crypto path, with the key, and for an encapsulation the content as well, marked as
// undefined to valgrind's memcheck. Memcheck follows undefinedness through every computation
// and reports each conditional jump, and each memory address, that depends on it: a clean run
// means no branch and no memory access of these operations depends on a secret, the portable
// AES, its key schedule, CMAC's subkeys and the comparisons of stored verdict data included.
//
// Only the final yes/no of each verdict is declared defined again, in DeclareVerdictsPublic,
// once per verdict. Nothing else is: the container, the restored file and the table entries
// leave the process through write(2) still undefined, which scripts/constant-time-check.sh
// allows for those system calls' buffers alone (constant_time.supp), since writing them out
// is what the operations are for.
//
// The content is marked as it enters the process: this program wraps pread(2) of the C
// library (a memcheck function wrapper), and every byte read from the input it handed to the
// library is marked undefined there. The run fails when an encapsulation reads less of it
// than the whole content, so that a way around the wrapper cannot pass unnoticed.
//
// Run it only under memcheck (scripts/constant-time-check.sh does): alone it says so and
// fails.

#include <unistd.h>
#include <valgrind/memcheck.h>
#include <valgrind/valgrind.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dispatch.h"
#include "encapsulation/container_types.h"
#include "encapsulation/encapsulator.h"
#include "image/transaction.h"
#include "io/checked_file.h"

namespace {

// The descriptor whose reads are the secret content, or -1; and how many bytes were read from
// it since the last reset.
std::atomic<int> secretDescriptor{-1};
std::atomic<long long> secretBytesRead{0};

ssize_t TaintIfSecret(int fd, void* buffer, ssize_t got) {
  if (got > 0 && fd == secretDescriptor.load()) {
    VALGRIND_MAKE_MEM_UNDEFINED(buffer, got);
    secretBytesRead += got;
  }
  return got;
}

}  // namespace

// The wrappers memcheck puts in front of the C library's pread and pread64.
extern "C" ssize_t I_WRAP_SONAME_FNNAME_ZU(libcZdsoZa, pread)(int fd, void* buffer, size_t count,
                                                              off_t offset) {
  OrigFn original;
  ssize_t got = 0;
  VALGRIND_GET_ORIG_FN(original);
  CALL_FN_W_WWWW(got, original, fd, buffer, count, offset);
  return TaintIfSecret(fd, buffer, got);
}

extern "C" ssize_t I_WRAP_SONAME_FNNAME_ZU(libcZdsoZa, pread64)(int fd, void* buffer, size_t count,
                                                                off_t offset) {
  OrigFn original;
  ssize_t got = 0;
  VALGRIND_GET_ORIG_FN(original);
  CALL_FN_W_WWWW(got, original, fd, buffer, count, offset);
  return TaintIfSecret(fd, buffer, got);
}

namespace velador {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kContentLength = 3000;  // five 512-byte units and a short one
constexpr const char* kName = "f.bin";

int failures = 0;

void Expect(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "secret-taint check: %s\n", what.c_str());
  ++failures;
}

// The key, marked undefined: every value computed from it is too, until declared otherwise.
Key SecretKey() {
  Key key;
  for (std::size_t i = 0; i < key.size(); ++i) key[i] = static_cast<std::uint8_t>(0x2b + 17 * i);
  VALGRIND_MAKE_MEM_UNDEFINED(key.data(), key.size());
  return key;
}

// The one place where the verdicts of a report become defined again: its two yes/no answers.
void DeclareVerdictsPublic(OperationReport& report) {
  VALGRIND_MAKE_MEM_DEFINED(&report.nameMatches, sizeof report.nameMatches);
  VALGRIND_MAKE_MEM_DEFINED(&report.contentMatches, sizeof report.contentMatches);
}

// The one place where the answer of HoldsInput becomes defined again.
void DeclareVerdictPublic(bool& holds) { VALGRIND_MAKE_MEM_DEFINED(&holds, sizeof holds); }

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct Image {
  fs::path root, advObj, table, source, back;
};

Image MakeImage(const fs::path& root, const std::string& content) {
  Image image{root, root / "img" / "ADV_OBJ", root / "img" / "AACS" / "CONTENT_HASH_TABLE2.AACS",
              root / "src" / kName, root / "back"};
  for (const fs::path& folder :
       {image.advObj, image.table.parent_path(), image.source.parent_path(), image.back}) {
    fs::create_directories(folder);
  }
  std::ofstream(image.table, std::ios::binary) << std::string(40060, '\0');
  std::ofstream(image.source, std::ios::binary) << content;
  return image;
}

// Hands the source to `encapsulator` as the content whose reads are tainted.
void ReadSecretSource(Encapsulator& encapsulator, const Image& image) {
  UniqueFile input = OpenRegularFile(image.source.string());
  secretDescriptor = fileno(input.get());
  secretBytesRead = 0;
  encapsulator.ReadInputFrom(std::move(input));
}

void Encapsulate(const Image& image, const TypeFacts& facts, const std::string& label) {
  const fs::path container = image.advObj / kName;
  Encapsulator encapsulator({image.source.string(), container.string(), image.table.string()},
                            kName);
  encapsulator.AddEntriesThrough(EntriesOfTableAt(image.table.string()));
  ReadSecretSource(encapsulator, image);
  const Key key = SecretKey();
  const OperationReport report = encapsulator.Run(facts.type, Direction::kEncapsulate, key);
  secretDescriptor = -1;
  Expect(report.Completed(), label + ": encapsulation failed");
  // Non-Protected copies the content inside the system where it can: it may never be read.
  if (facts.type != ContainerType::kNonProtected) {
    Expect(secretBytesRead >= static_cast<long long>(kContentLength),
           label + ": the content did not all go through the tainting reads");
  }
}

// Whether the container is what encapsulating the source gives: the question velador-image
// build asks of every file, with the key and the content secret.
void CompareWithSource(const Image& image, const TypeFacts& facts, const std::string& label) {
  Encapsulator comparer({image.source.string(), "", image.table.string()}, kName);
  ReadSecretSource(comparer, image);
  const Key key = SecretKey();
  bool holds = comparer.HoldsInput((image.advObj / kName).string(), facts.type, key);
  secretDescriptor = -1;
  DeclareVerdictPublic(holds);
  Expect(holds, label + ": the container does not hold the source");
  Expect(secretBytesRead >= static_cast<long long>(kContentLength),
         label + ": the comparison did not read the content through the tainting reads");
}

void Decapsulate(const Image& image, const TypeFacts& facts, const std::string& content,
                 const std::string& label) {
  const fs::path container = image.advObj / kName, restored = image.back / kName;
  Encapsulator decapsulator({container.string(), restored.string(), image.table.string()}, kName);
  const Key key = SecretKey();
  OperationReport report = decapsulator.Run(facts.type, Direction::kDecapsulate, key);
  DeclareVerdictsPublic(report);
  Expect(report.Completed() && report.PlayerAccepts(), label + ": restored file not accepted");
  Expect(Slurp(restored) == content, label + ": restored content differs");

  const Key checkKey = SecretKey();
  ContainerCheck check = CheckContainer(container.string(), kName, &checkKey, image.table.string(),
                                        UnitCheck::kEvery, nullptr);
  DeclareVerdictsPublic(check.report);
  Expect(check.problem == CheckProblem::kNone && check.report.PlayerAccepts(),
         label + ": checked container not accepted");
}

int Run() {
  if (RUNNING_ON_VALGRIND == 0) {
    std::fprintf(stderr, "secret-taint check: run it under valgrind's memcheck\n");
    return 2;
  }
  const dispatch::PinnedFeatures portable({});
  std::string content(kContentLength, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 131 + 7);

  char pattern[] = "/tmp/velador-taint-XXXXXX";
  const char* made = mkdtemp(pattern);
  if (made == nullptr) return 2;
  const fs::path root(made);
  for (const TypeFacts& facts : AllTypes()) {
    const std::string label = "type " + std::to_string(facts.number);
    const Image image = MakeImage(root / std::to_string(facts.number), content);
    Encapsulate(image, facts, label);
    CompareWithSource(image, facts, label);
    Decapsulate(image, facts, content, label);
    std::printf("secret-taint check: type %d encapsulated, compared, restored and checked\n",
                facts.number);
  }
  fs::remove_all(root);
  return failures == 0 ? 0 : 1;
}

}  // namespace
}  // namespace velador

int main() { return velador::Run(); }

// Writes the seed corpora of recovery_record_fuzzer and compact_trailer_fuzzer into
// <folder>/recovery_record and <folder>/compact_trailer: records made by the library's own
// writers (so that the fuzzer starts from the real format, and follows it when it changes),
// records no writer makes, with a good digest, and images with odd trailers. The names are
// those of the image in image_sandbox.h. Usage: make_seeds tests/fuzz/corpus
//
// A seed's first byte is the target's choice byte (see each target).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/sha1_hasher.h"
#include "image/transaction.h"
#include "image_sandbox.h"
#include "records.h"

namespace {

namespace fs = std::filesystem;
using velador::fuzz::kStagedName;

fs::path folder;

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(folder / target);
  std::ofstream(folder / target / name, std::ios::binary | std::ios::trunc) << bytes;
}

std::string Number(std::uint64_t value, int length) {
  std::string bytes;
  for (int shift = 8 * (length - 1); shift >= 0; shift -= 8) {
    bytes += static_cast<char>(value >> shift & 0xff);
  }
  return bytes;
}

std::string Name(const std::string& name) { return Number(name.size(), 2) + name; }

// A record as the writers lay it out: magic, seal byte, fields, then the SHA-1 of all that with
// the seal byte taken as 0.
std::string Sealed(std::string bytes) {
  std::string hashed = bytes;
  hashed[8] = 0;
  velador::Sha1Hasher hasher;
  hasher.Update(reinterpret_cast<const std::uint8_t*>(hashed.data()), hashed.size());
  hasher.Final();
  std::uint8_t digest[20];
  hasher.GetHash(digest);
  return bytes + std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

const std::string kScratch = "seed-record";

// Each record twice: whole, as written, and without its digest, which the target then appends
// (choice bit 4), so that mutations of the fields keep a digest that holds.
void RecordSeed(const std::string& name, char choice, const std::string& record) {
  Seed("recovery_record", name, choice + record);
  if (record.size() >= 20) {
    Seed("recovery_record", name + "-digested",
         static_cast<char>(choice | 16) + record.substr(0, record.size() - 20));
  }
}

void JournalSeed(const std::string& name, const velador::TableJournal& journal, char choice = 0) {
  if (!velador::WriteJournal(kScratch, journal)) std::abort();
  RecordSeed(name, choice, ReadWhole(kScratch));
}

void ChangesSeed(const std::string& name, const velador::ImageChanges& changes, bool sealed,
                 char choice = 1) {
  if (!velador::WriteChanges(kScratch, changes) ||
      (sealed && !velador::SealRecord(kScratch, true))) {
    std::abort();
  }
  RecordSeed(name, choice, ReadWhole(kScratch));
}

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

// The table from its counter on with `counter` and `entries` entries of `fill`.
std::vector<std::uint8_t> Tail(std::uint32_t counter, std::size_t entries, char fill = '\x5a') {
  return Bytes(Number(counter, 4) + std::string(8 * entries, fill));
}

void RecordSeeds() {
  const std::string staged = kStagedName;
  // Journals: the table before the transaction, then the container's temporary and own name.
  JournalSeed("journal-open-same-length", {false, 40300, 30, staged, "n.js"});
  JournalSeed("journal-open-undo-one", {false, 40292, 29, staged, "e.js"});
  JournalSeed("journal-sealed-over", {true, 40292, 29, staged, "e.js"});
  JournalSeed("journal-sealed-new", {true, 40300, 30, staged, "n.js"});
  JournalSeed("journal-sealed-staged-folder", {true, 40300, 30, staged, "n.js"}, 4);
  JournalSeed("journal-sealed-sparse", {true, 40300, 30, staged, "n.js"}, 2);
  JournalSeed("journal-open-longer-table", {false, 40300, 30, staged, "n.js"}, 8);
  JournalSeed("journal-climbs-out", {true, 40300, 30, staged, "../../outside/sentinel.txt"});
  JournalSeed("journal-through-link", {true, 40300, 30, staged, "up/sentinel.txt"});
  JournalSeed("journal-not-temporary", {true, 40300, 30, "m.xml", "n.js"});
  JournalSeed("journal-onto-temporary", {true, 40300, 30, staged, ".velador-0000beef.tmp"});
  JournalSeed("journal-breaks-rule", {false, 40100, 30, staged, "n.js"});
  JournalSeed("journal-shortens-table", {false, 40060, 0, staged, "n.js"});
  JournalSeed("journal-longer-than-table", {false, 40308, 31, staged, "n.js"});

  // Records of changes. s.js holds content of 1500 bytes: its trailer is 4 numbers at 1783.
  velador::ImageChanges compaction;
  compaction.rewrites.push_back(
      {"s.js", 1783, Bytes(Number(1, 4) + Number(2, 4) + Number(3, 4) + Number(4, 4))});
  compaction.tableTail = Tail(4, 4);
  ChangesSeed("changes-compaction-open", compaction, false);
  ChangesSeed("changes-compaction-sealed", compaction, true);
  velador::ImageChanges build;
  build.removals = {"a.txt", "up"};
  build.renames = {{staged, "n.js"}};
  ChangesSeed("changes-remove-rename-sealed", build, true);
  ChangesSeed("changes-remove-rename-open", build, false);
  ChangesSeed("changes-rename-staged-folder", build, true, 5);
  velador::ImageChanges removal;
  removal.removals = {"m.xml"};
  removal.rewrites.push_back({"e.js", 283, Bytes(Number(0, 4))});
  removal.tableTail = Tail(0, 0);
  ChangesSeed("changes-removal-sealed", removal, true);
  ChangesSeed("changes-removal-sparse", removal, true, 3);

  velador::ImageChanges gone;
  gone.removals = {"e.js"};
  gone.rewrites.push_back({"e.js", 283, Bytes(Number(1, 4))});
  ChangesSeed("changes-remove-then-rewrite", gone, true);

  velador::ImageChanges hostile = compaction;
  hostile.rewrites[0].name = "link.js";
  ChangesSeed("changes-rewrite-through-link", hostile, true);
  hostile.rewrites[0] = {"s.js", 0, Bytes("AACS")};
  ChangesSeed("changes-rewrite-header", hostile, true);
  hostile.rewrites[0] = {"s.js", 1795, Bytes(Number(9, 4) + Number(9, 4))};
  ChangesSeed("changes-rewrite-past-end", hostile, true);
  hostile.rewrites[0] = {"p.png", 900, Bytes(Number(9, 4))};
  ChangesSeed("changes-rewrite-no-table", hostile, true);
  hostile.rewrites[0] = {"sub/inner.js", 283, Bytes(Number(9, 4))};
  ChangesSeed("changes-rewrite-in-folder", hostile, true);
  velador::ImageChanges names;
  names.removals = {"../../outside/sentinel.txt"};
  ChangesSeed("changes-remove-outside", names, true);
  names.removals = {"sub"};
  ChangesSeed("changes-remove-folder", names, true);
  names.removals = {};
  names.renames = {{"m.xml", "n.js"}};
  ChangesSeed("changes-rename-not-temporary", names, true);
  names.renames = {{staged, "sub"}};
  ChangesSeed("changes-rename-onto-folder", names, true);
  velador::ImageChanges tails;
  tails.tableTail = Tail(7, 6);
  ChangesSeed("changes-tail-counter-disagrees", tails, true);
  tails.tableTail = Tail(5000, 5000);
  ChangesSeed("changes-tail-too-long", tails, true);
  tails.tableTail = Bytes(Number(1, 4) + "1234567");
  ChangesSeed("changes-tail-not-whole", tails, true);

  // By hand: counts larger than the record holds, a bad seal byte, a cut digest.
  const std::string magic = "VLDRCHG1";
  RecordSeed("changes-count-too-large", 1,
             Sealed(magic + "S" + Number(~std::uint64_t{0}, 8) + Name("a.txt")));
  RecordSeed("changes-rewrite-span-too-large", 1,
             Sealed(magic + "S" + Number(0, 8) + Number(1, 8) + Name("s.js") + Number(1783, 8) +
                    Number(~std::uint64_t{0} >> 1, 8) + "1234"));
  RecordSeed("changes-bad-seal", 1,
             Sealed(magic + "X" + Number(0, 8) + Number(0, 8) + Number(0, 8) + Number(0, 8)));
  const std::string torn = Sealed(magic + "S" + Number(1, 8) + Name("a.txt") + Number(0, 8) +
                                  Number(0, 8) + Number(0, 8));
  Seed("recovery_record", "changes-torn", "\x01" + torn.substr(0, torn.size() - 3));
  RecordSeed("journal-bad-seal", 0,
             Sealed("VLDRJRN1?" + Number(40300, 8) + Number(30, 4) + Name(staged) + Name("n.js")));
}

// compact_trailer input: flags, removal mask, then per container code, size field, body
// length, trailer length and trailer; the rest is the table's tail.
std::string Container(std::uint8_t code, std::uint32_t sizeField, std::uint16_t body,
                      const std::string& trailer) {
  return std::string(1, static_cast<char>(code)) + Number(sizeField, 4) + Number(body, 2) +
         Number(trailer.size(), 2) + trailer;
}

void TrailerSeeds() {
  const auto seed = [](const std::string& name, std::uint8_t flags, std::uint8_t removing,
                       const std::string& rest) {
    Seed("compact_trailer", name,
         std::string(1, static_cast<char>(flags)) + static_cast<char>(removing) + rest);
  };
  // An Encryption-and-Hash container of empty content names entry 30 as e.js does.
  seed("shares-an-entry", 2, 0, Container(0x11, 0, 272, Number(30, 4)));
  // Content of 1000 bytes: 2 units; a Hash container naming entry 2; both removed.
  seed("two-containers", 3, 3,
       Container(0x11, 1000, 1272, Number(31, 4) + Number(0, 4)) +
           Container(0x12, 7, 279, Number(2, 4)));
  seed("size-field-past-end", 2, 0, Container(0x11, 5000, 272, Number(3, 4)));
  seed("extra-bytes-after-trailer", 2, 0, Container(0x11, 0, 272, Number(3, 4) + "\x01\x02\x03"));
  seed("size-field-short", 2, 0, Container(0x11, 0, 300, Number(3, 4)));
  seed("full-counter", 0, 0,
       Container(0x11, 0, 272, Number(0xFFFFFFFFu, 4)) + Number(0xFFFFFFFFu, 4) +
           std::string(16, '\x42'));
  seed("table-cut-short", 0, 0, Container(0x12, 0, 272, Number(1, 4)) + Number(5, 4) + "abc");
  seed("no-tail", 0, 1, Container(0x12, 0, 272, Number(1, 4)));
  seed("remove-what-is-no-file", 2, 0xf8, Container(0x11, 0, 272, Number(30, 4)));
  seed("remove-committed", 2, 0x84, Container(0x21, 0, 272, ""));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
    return 2;
  }
  folder = argv[1];
  RecordSeeds();
  TrailerSeeds();
  fs::remove(kScratch);
  return 0;
}

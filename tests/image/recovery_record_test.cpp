// The records beside the table, checked against the image they lie in before anything they say
// is done: each row a record, written by the library's writers or by hand where they would not
// write it, and the status it must get. Then what a locked table does with a refused record
// (leaves it and the image alone) and with valid ones (replays them).

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>

#include "crypto/sha1_hasher.h"
#include "image/transaction.h"
#include "records.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace fs = std::filesystem;

const std::string kTable = "img/AACS/CONTENT_HASH_TABLE2.AACS";
const std::string kStaged = ".velador-0000000a.tmp";

// The image every case runs against. e.js: Encryption and Hash, 1000 bytes of content, its
// trailer of 12 bytes at 1283; m.xml: Hash, its trailer of 4 bytes at 290; p.png: Encryption
// (no trailer a record may touch); notes.txt: no container; a staged container; the folder sub
// and a folder under a temporary name. The table: counter 3, 3 entries, 40084 bytes.
const Bytes kEncryptionHash = Header(0x11, 1000) + NameBlock("e.js") + SampleContent(1000, 2) +
                              Number(1) + Number(2) + Number(3);
const Bytes kHashed = Header(0x12, 7) + NameBlock("m.xml") + "<menu/>" + Number(3);
const Bytes kEncrypted = Header(0x01, 16) + NameBlock("p.png") + Bytes(16, 'p');
const Bytes kStagedBytes = Header(0x11, 0) + NameBlock("n.js") + Number(4);
const Bytes kTableBytes = SampleContent(40056, 5) + Number(3) + Bytes(24, '\x5a');
// The bytes of ADV_OBJ's files: a table may hold at most a quarter as many entries.
const std::uint64_t kFolderBytes =
    kEncryptionHash.size() + kHashed.size() + kEncrypted.size() + 5 + kStagedBytes.size();
const std::uint64_t kMostEntries = kFolderBytes / 4;

void MakeImage(const Workspace& w) {
  w.Write(kTable, kTableBytes);
  w.Write("img/ADV_OBJ/e.js", kEncryptionHash);
  w.Write("img/ADV_OBJ/m.xml", kHashed);
  w.Write("img/ADV_OBJ/p.png", kEncrypted);
  w.Write("img/ADV_OBJ/notes.txt", "notes");
  w.Write("img/ADV_OBJ/" + kStaged, kStagedBytes);
  w.MakeFolder("img/ADV_OBJ/sub");
  w.MakeFolder("img/ADV_OBJ/.velador-0000000f.tmp");
}

// Files by their full path: a record lies beside the table, outside the workspace's helpers.
void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void FlipByte(const std::string& path, std::size_t offset) {
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekg(static_cast<std::streamoff>(offset));
  const char byte = static_cast<char>(file.get() ^ 1);
  file.seekp(static_cast<std::streamoff>(offset));
  file.put(byte);
}

// ---- Records laid out by hand (integers big-endian): magic, seal byte, fields, then the SHA-1
// of all that with the seal byte taken as 0.

Bytes Be(std::uint64_t value, int length) {
  Bytes bytes;
  for (int shift = 8 * (length - 1); shift >= 0; shift -= 8) {
    bytes += static_cast<char>(value >> shift & 0xff);
  }
  return bytes;
}

Bytes Field(const std::string& name) { return Be(name.size(), 2) + name; }

Bytes Digested(const Bytes& body) {
  Bytes hashed = body;
  hashed[8] = '\0';
  Sha1Hasher hasher;
  hasher.Update(Raw(hashed), hashed.size());
  hasher.Final();
  Bytes digest(20, '\0');
  hasher.GetHash(reinterpret_cast<std::uint8_t*>(digest.data()));
  return body + digest;
}

Bytes JournalBody(char seal, std::uint64_t length, std::uint32_t counter,
                  const std::string& temporary, const std::string& result) {
  return "VLDRJRN1" + Bytes(1, seal) + Be(length, 8) + Be(counter, 4) + Field(temporary) +
         Field(result);
}

// A record of changes as the first version wrote it (no table to put back) with nothing in it,
// as far as its fields go: `fields` follow the seal.
Bytes ChangesBody(char seal, const Bytes& fields) { return "VLDRCHG1" + Bytes(1, seal) + fields; }
// The same as this version writes it: `before` is the table to put back (a flag byte, then the
// length and counter when it is 1).
Bytes ChangesBody2(char seal, const Bytes& before, const Bytes& fields) {
  return "VLDRCHG2" + Bytes(1, seal) + before + fields;
}
const Bytes kNoChanges = Be(0, 8) + Be(0, 8) + Be(0, 8) + Be(0, 8);

// ---- The cases.

enum class Kind { kJournal, kChanges };

std::string RecordPath(const Workspace& w, Kind kind) {
  const std::string table = w.Path(kTable).string();
  return kind == Kind::kJournal ? JournalPathOf(table) : ChangesPathOf(table);
}

// Puts the record at `path`; false when it could not.
using Maker = std::function<bool(const std::string& path)>;

Maker Written(const TableJournal& journal) {
  return [journal](const std::string& path) { return WriteJournal(path, journal); };
}

Maker Written(const ImageChanges& changes, bool sealed = true) {
  return [changes, sealed](const std::string& path) {
    return WriteChanges(path, changes) && (!sealed || SealRecord(path, true));
  };
}

Maker ByHand(const Bytes& bytes) {
  return [bytes](const std::string& path) {
    fs::remove(path);
    WriteFile(path, bytes);
    return true;
  };
}

// `make`, then the record rewritten as the first version of the format lays it out: its own
// magic, no table to put back (the record must have none), its digest made again.
Maker InTheFirstVersion(const Maker& make) {
  return [make](const std::string& path) {
    if (!make(path)) return false;
    Bytes bytes = ReadFile(path);
    if (bytes.compare(0, 8, "VLDRCHG2") != 0 || bytes[9] != '\0') return false;
    bytes = "VLDRCHG1" + bytes.substr(8, 1) + bytes.substr(10, bytes.size() - 10 - 20);
    return ByHand(Digested(bytes))(path);
  };
}

// `make`, then the record lengthened by a hole to `length` bytes.
Maker Stretched(const Maker& make, std::uint64_t length) {
  return [make, length](const std::string& path) {
    if (!make(path)) return false;
    fs::resize_file(path, length);
    return true;
  };
}

// `make`, then the byte at `offset` (from the end when negative) flipped.
Maker Flipped(const Maker& make, std::int64_t offset) {
  return [make, offset](const std::string& path) {
    if (!make(path)) return false;
    const auto size = static_cast<std::int64_t>(fs::file_size(path));
    FlipByte(path, static_cast<std::size_t>(offset < 0 ? size + offset : offset));
    return true;
  };
}

TableJournal Journal(bool sealed, std::uint64_t length, std::uint32_t counter,
                     const std::string& temporary, const std::string& result) {
  return {sealed, length, counter, temporary, result};
}

// A sealed journal that undoes nothing (the table as it stands) and puts the staged file in
// place as `result`.
TableJournal PutsInPlace(const std::string& result, const std::string& temporary = kStaged) {
  return Journal(true, 40084, 3, temporary, result);
}

ImageChanges Removes(const std::string& name) { return {{name}, {}, {}, {}, {}}; }

ImageChanges Rewrites(const std::string& name, std::uint64_t offset, std::size_t length) {
  return {{}, {{name, offset, std::vector<std::uint8_t>(length, 0x07)}}, {}, {}, {}};
}

ImageChanges Renames(const std::string& from, const std::string& to) {
  return {{}, {}, {{from, to}}, {}, {}};
}

// A table from its counter on: `counter`, then `entries` entries.
ImageChanges Tail(std::uint32_t counter, std::uint64_t entries) {
  const Bytes tail = Number(counter) + Bytes(static_cast<std::size_t>(8 * entries), '\x33');
  return {{}, {}, {}, std::vector<std::uint8_t>(tail.begin(), tail.end()), {}};
}

// A single container's entries, written before the seal: the staged file goes in place as
// `result`; not sealed, the table goes back to `length` and `counter`.
ImageChanges PutsBack(std::uint64_t length, std::uint32_t counter, const std::string& result,
                      const std::string& temporary = kStaged) {
  ImageChanges changes = Renames(temporary, result);
  changes.tableBefore = TableState{length, counter};
  return changes;
}

ImageChanges TailOfLength(std::size_t length) {
  ImageChanges changes;
  changes.tableTail = std::vector<std::uint8_t>(length, 0);
  return changes;
}

struct RecordCase {
  const char* label;
  Kind kind;
  Maker make;
  RecordStatus status;
};

class RecordValidation : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordValidation, GivesTheStatusAndRefusedRecordOfAgrees) {
  const RecordCase& c = GetParam();
  Workspace w;
  MakeImage(w);
  const std::string table = w.Path(kTable).string();
  const std::string path = RecordPath(w, c.kind);
  ASSERT_TRUE(c.make(path));
  if (c.kind == Kind::kJournal) {
    TableJournal journal;
    const RecordStatus read = ReadJournal(path, journal);
    const bool fits =
        read != RecordStatus::kValid || JournalFitsImage(journal, table, kTableBytes.size());
    EXPECT_EQ(fits ? read : RecordStatus::kRefused, c.status);
  } else {
    EXPECT_EQ(ChangesRecord(path, table).Status(), c.status);
  }
  EXPECT_EQ(RefusedRecordOf(table), c.status == RecordStatus::kRefused ? path : "");
}

const std::string kLongName(268, 'n');
const std::string kLongestName(267, 'n');

INSTANTIATE_TEST_SUITE_P(
    Records, RecordValidation,
    ::testing::Values(
        // Journals: the table before the transaction, the staged file and its own name.
        RecordCase{"JournalSealed", Kind::kJournal, Written(PutsInPlace("n.js")),
                   RecordStatus::kValid},
        RecordCase{"JournalOpen", Kind::kJournal,
                   Written(Journal(false, 40068, 1, kStaged, "e.js")), RecordStatus::kValid},
        // Not sealed, it would cut the table back to a length the table never had.
        RecordCase{"JournalOpenLongerThanTheTable", Kind::kJournal,
                   Written(Journal(false, 40092, 4, kStaged, "e.js")), RecordStatus::kRefused},
        RecordCase{"JournalLongestName", Kind::kJournal, Written(PutsInPlace(kLongestName)),
                   RecordStatus::kValid},
        RecordCase{"JournalResultWithSlash", Kind::kJournal, Written(PutsInPlace("sub/n.js")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultWithBackslash", Kind::kJournal,
                   Written(PutsInPlace("..\\outside.js")), RecordStatus::kRefused},
        RecordCase{"JournalResultDotDot", Kind::kJournal, Written(PutsInPlace("..")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultDot", Kind::kJournal, Written(PutsInPlace(".")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultWithColon", Kind::kJournal, Written(PutsInPlace("c:n.js")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultWithControlByte", Kind::kJournal, Written(PutsInPlace("n\x1b.js")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultWithDelete", Kind::kJournal, Written(PutsInPlace("n\x7f.js")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultEmpty", Kind::kJournal, Written(PutsInPlace("")),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultOf268Bytes", Kind::kJournal, Written(PutsInPlace(kLongName)),
                   RecordStatus::kRefused},
        RecordCase{"JournalResultIsTemporary", Kind::kJournal,
                   Written(PutsInPlace(".velador-0000000b.tmp")), RecordStatus::kRefused},
        RecordCase{"JournalSourceNotTemporary", Kind::kJournal,
                   Written(PutsInPlace("n.js", "e.js")), RecordStatus::kRefused},
        RecordCase{"JournalSourceUpperCaseHex", Kind::kJournal,
                   Written(PutsInPlace("n.js", ".velador-0000000A.tmp")), RecordStatus::kRefused},
        RecordCase{"JournalSourceSevenDigits", Kind::kJournal,
                   Written(PutsInPlace("n.js", ".velador-000000a.tmp")), RecordStatus::kRefused},
        RecordCase{"JournalSourceClimbsOut", Kind::kJournal,
                   Written(PutsInPlace("n.js", "../.velador-0000000a.tmp")),
                   RecordStatus::kRefused},
        // An open journal puts the table back to its length and counter: they must keep the
        // table rule.
        RecordCase{"JournalLengthBreaksTheRule", Kind::kJournal,
                   Written(Journal(false, 40085, 3, kStaged, "n.js")), RecordStatus::kRefused},
        RecordCase{"JournalCounterBreaksTheRule", Kind::kJournal,
                   Written(Journal(false, 40084, 2, kStaged, "n.js")), RecordStatus::kRefused},
        RecordCase{
            "JournalFullCounter", Kind::kJournal,
            Written(Journal(false, 40060 + 8ull * 0xFFFFFFFFu, 0xFFFFFFFFu, kStaged, "n.js")),
            RecordStatus::kRefused},
        RecordCase{"JournalBadSealByte", Kind::kJournal,
                   ByHand(Digested(JournalBody('X', 40084, 3, kStaged, "n.js"))),
                   RecordStatus::kRefused},
        RecordCase{"JournalNameLongerThanTheRecord", Kind::kJournal,
                   ByHand(Digested("VLDRJRN1S" + Be(40084, 8) + Be(3, 4) + Be(4000, 2) + kStaged)),
                   RecordStatus::kRefused},
        RecordCase{"JournalBytesAfterItsFields", Kind::kJournal,
                   ByHand(Digested(JournalBody('S', 40084, 3, kStaged, "n.js") + "x")),
                   RecordStatus::kRefused},
        RecordCase{"JournalOverItsBound", Kind::kJournal,
                   Stretched(Written(PutsInPlace("n.js")), 64 * 1024 + 1), RecordStatus::kRefused},
        RecordCase{"JournalSparseGigabyte", Kind::kJournal,
                   Stretched(Written(PutsInPlace("n.js")), std::uint64_t{1} << 30),
                   RecordStatus::kRefused},
        RecordCase{"JournalDigestDoesNotHold", Kind::kJournal,
                   Flipped(Written(PutsInPlace("n.js")), 12), RecordStatus::kTorn},
        RecordCase{"JournalDigestCut", Kind::kJournal, Stretched(Written(PutsInPlace("n.js")), 40),
                   RecordStatus::kTorn},
        RecordCase{"JournalWrongMagic", Kind::kJournal, Flipped(Written(PutsInPlace("n.js")), 0),
                   RecordStatus::kTorn},
        RecordCase{"JournalEmpty", Kind::kJournal, ByHand(""), RecordStatus::kTorn},

        // Records of changes: names.
        RecordCase{"RemovalOfAFile", Kind::kChanges, Written(Removes("notes.txt")),
                   RecordStatus::kValid},
        RecordCase{"RemovalOfNothing", Kind::kChanges, Written(Removes(kLongestName)),
                   RecordStatus::kValid},
        // No change removes a staged file: a rename of the same change may need it.
        RecordCase{"RemovalOfTheStaged", Kind::kChanges, Written(Removes(kStaged)),
                   RecordStatus::kRefused},
        // Made in its order, the removal would leave the rewrite nothing to patch.
        RecordCase{"RemovalAndRewriteOfOneFile", Kind::kChanges,
                   Written(ImageChanges{{"E.JS"}, Rewrites("e.js", 1283, 4).rewrites, {}, {}, {}}),
                   RecordStatus::kRefused},
        RecordCase{"RemovalWithSlash", Kind::kChanges, Written(Removes("sub/x")),
                   RecordStatus::kRefused},
        RecordCase{"RemovalWithBackslash", Kind::kChanges, Written(Removes("sub\\x")),
                   RecordStatus::kRefused},
        RecordCase{"RemovalDotDot", Kind::kChanges, Written(Removes("..")), RecordStatus::kRefused},
        RecordCase{"RemovalDot", Kind::kChanges, Written(Removes(".")), RecordStatus::kRefused},
        RecordCase{"RemovalWithColon", Kind::kChanges, Written(Removes("C:notes.txt")),
                   RecordStatus::kRefused},
        RecordCase{"RemovalWithControlByte", Kind::kChanges, Written(Removes("notes\n.txt")),
                   RecordStatus::kRefused},
        RecordCase{"RemovalOf268Bytes", Kind::kChanges, Written(Removes(kLongName)),
                   RecordStatus::kRefused},
        RecordCase{"RemovalOfAFolder", Kind::kChanges, Written(Removes("sub")),
                   RecordStatus::kRefused},
        RecordCase{"RenameOfTheStaged", Kind::kChanges, Written(Renames(kStaged, "n.js")),
                   RecordStatus::kValid},
        RecordCase{"RenameOfAGoneStaged", Kind::kChanges,
                   Written(Renames(".velador-0000000c.tmp", "e.js")), RecordStatus::kValid},
        RecordCase{"RenameSourceNotTemporary", Kind::kChanges, Written(Renames("e.js", "n.js")),
                   RecordStatus::kRefused},
        RecordCase{"RenameTargetTemporary", Kind::kChanges,
                   Written(Renames(kStaged, ".velador-0000000b.tmp")), RecordStatus::kRefused},
        RecordCase{"RenameSourceIsAFolder", Kind::kChanges,
                   Written(Renames(".velador-0000000f.tmp", "n.js")), RecordStatus::kRefused},
        RecordCase{"RenameOntoAFolder", Kind::kChanges, Written(Renames(kStaged, "sub")),
                   RecordStatus::kRefused},
        RecordCase{"RenameTargetWithSlash", Kind::kChanges, Written(Renames(kStaged, "sub/n.js")),
                   RecordStatus::kRefused},
        RecordCase{"RenameTargetDotDot", Kind::kChanges, Written(Renames(kStaged, "..")),
                   RecordStatus::kRefused},
        // Rewrites: only bytes inside the trailer of a hashed container.
        RecordCase{"RewriteOfTheWholeTrailer", Kind::kChanges, Written(Rewrites("e.js", 1283, 12)),
                   RecordStatus::kValid},
        RecordCase{"RewriteOfTheLastNumber", Kind::kChanges, Written(Rewrites("e.js", 1291, 4)),
                   RecordStatus::kValid},
        RecordCase{"RewriteOfAHashContainer", Kind::kChanges, Written(Rewrites("m.xml", 290, 4)),
                   RecordStatus::kValid},
        RecordCase{"RewriteAtTheHeader", Kind::kChanges, Written(Rewrites("e.js", 0, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteOfTheSizeField", Kind::kChanges, Written(Rewrites("e.js", 7, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteFromTheContent", Kind::kChanges, Written(Rewrites("e.js", 1282, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteOverlappingTheEnd", Kind::kChanges, Written(Rewrites("e.js", 1291, 8)),
                   RecordStatus::kRefused},
        RecordCase{"RewritePastTheEnd", Kind::kChanges, Written(Rewrites("e.js", 1299, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteFarPastTheEnd", Kind::kChanges,
                   Written(Rewrites("e.js", ~std::uint64_t{0} - 1, 4)), RecordStatus::kRefused},
        RecordCase{"RewriteOfAHashContainerBody", Kind::kChanges,
                   Written(Rewrites("m.xml", 286, 8)), RecordStatus::kRefused},
        RecordCase{"RewriteOfAnEncryptedContainer", Kind::kChanges,
                   Written(Rewrites("p.png", 295, 4)), RecordStatus::kRefused},
        RecordCase{"RewriteOfNoContainer", Kind::kChanges, Written(Rewrites("notes.txt", 1, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteOfNothing", Kind::kChanges, Written(Rewrites("gone.js", 1283, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteOfAFolder", Kind::kChanges, Written(Rewrites("sub", 0, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteOfTheStaged", Kind::kChanges, Written(Rewrites(kStaged, 283, 4)),
                   RecordStatus::kRefused},
        RecordCase{"RewriteThroughAName", Kind::kChanges,
                   Written(Rewrites("../ADV_OBJ/e.js", 1283, 4)), RecordStatus::kRefused},
        // The table's tail: 4 + 8n bytes, its counter n, n no more than the containers name.
        RecordCase{"TailNone", Kind::kChanges, Written(TailOfLength(0)), RecordStatus::kValid},
        RecordCase{"TailCounterOnly", Kind::kChanges, Written(Tail(0, 0)), RecordStatus::kValid},
        RecordCase{"TailAsLongAsTheContainersCanName", Kind::kChanges,
                   Written(Tail(static_cast<std::uint32_t>(kMostEntries), kMostEntries)),
                   RecordStatus::kValid},
        RecordCase{"TailOneEntryLonger", Kind::kChanges,
                   Written(Tail(static_cast<std::uint32_t>(kMostEntries + 1), kMostEntries + 1)),
                   RecordStatus::kRefused},
        RecordCase{"TailOfThreeBytes", Kind::kChanges, Written(TailOfLength(3)),
                   RecordStatus::kRefused},
        RecordCase{"TailPartEntry", Kind::kChanges, Written(TailOfLength(4 + 8 + 5)),
                   RecordStatus::kRefused},
        RecordCase{"TailCounterAboveItsEntries", Kind::kChanges, Written(Tail(3, 2)),
                   RecordStatus::kRefused},
        RecordCase{"TailCounterBelowItsEntries", Kind::kChanges, Written(Tail(1, 2)),
                   RecordStatus::kRefused},
        // A table to put back: one that kept the table rule, no longer than the table, and
        // nothing but the container's rename beside it.
        RecordCase{"PutBackOpen", Kind::kChanges, Written(PutsBack(40068, 1, "n.js"), false),
                   RecordStatus::kValid},
        RecordCase{"PutBackSealed", Kind::kChanges, Written(PutsBack(40084, 3, "n.js")),
                   RecordStatus::kValid},
        RecordCase{"PutBackOpenLongerThanTheTable", Kind::kChanges,
                   Written(PutsBack(40092, 4, "n.js"), false), RecordStatus::kRefused},
        RecordCase{"PutBackBreaksTheRule", Kind::kChanges,
                   Written(PutsBack(40085, 3, "n.js"), false), RecordStatus::kRefused},
        RecordCase{"PutBackFullCounter", Kind::kChanges,
                   Written(PutsBack(40060 + 8ull * 0xFFFFFFFFu, 0xFFFFFFFFu, "n.js")),
                   RecordStatus::kRefused},
        RecordCase{"PutBackOfAFileNotStaged", Kind::kChanges,
                   Written(PutsBack(40084, 3, "n.js", "e.js")), RecordStatus::kRefused},
        RecordCase{"PutBackWithARemoval", Kind::kChanges,
                   ByHand(Digested(ChangesBody2('S', "\x01" + Be(40084, 8) + Be(3, 4),
                                                Be(1, 8) + Field("notes.txt") + Be(0, 8) +
                                                    Be(0, 8) + Be(0, 8)))),
                   RecordStatus::kRefused},
        RecordCase{
            "PutBackWithATail", Kind::kChanges,
            ByHand(Digested(ChangesBody2('S', "\x01" + Be(40084, 8) + Be(3, 4),
                                         Be(0, 8) + Be(0, 8) + Be(0, 8) + Be(4, 8) + Number(0)))),
            RecordStatus::kRefused},
        RecordCase{"PutBackFlagNeitherNoneNorOne", Kind::kChanges,
                   ByHand(Digested(ChangesBody2('S', "\x02", kNoChanges))), RecordStatus::kRefused},
        RecordCase{"ChangesWithNothingToPutBack", Kind::kChanges,
                   ByHand(Digested(ChangesBody2('S', Bytes(1, '\0'), kNoChanges))),
                   RecordStatus::kValid},
        RecordCase{"ChangesOfTheFirstVersion", Kind::kChanges,
                   InTheFirstVersion(Written(Renames(kStaged, "n.js"))), RecordStatus::kValid},
        // Seal, digest, counts and length.
        RecordCase{"ChangesOpen", Kind::kChanges, Written(Removes("notes.txt"), false),
                   RecordStatus::kValid},
        RecordCase{"ChangesBadSealByte", Kind::kChanges,
                   ByHand(Digested(ChangesBody('x', kNoChanges))), RecordStatus::kRefused},
        RecordCase{"ChangesDigestDoesNotHold", Kind::kChanges,
                   Flipped(Written(Removes("notes.txt")), 20), RecordStatus::kTorn},
        RecordCase{"ChangesDigestCut", Kind::kChanges, Stretched(Written(Removes("notes.txt")), 50),
                   RecordStatus::kTorn},
        RecordCase{"ChangesWrongMagic", Kind::kChanges, Flipped(Written(Removes("notes.txt")), 3),
                   RecordStatus::kTorn},
        RecordCase{"ChangesShorterThanADigest", Kind::kChanges, ByHand("VLDRCHG1S"),
                   RecordStatus::kTorn},
        RecordCase{"ChangesSparseGigabyte", Kind::kChanges,
                   Stretched(Written(Removes("notes.txt")), std::uint64_t{1} << 30),
                   RecordStatus::kRefused},
        RecordCase{
            "ChangesRemovalCountTooLarge", Kind::kChanges,
            ByHand(Digested(ChangesBody('S', Be(~std::uint64_t{0}, 8) + Field("notes.txt")))),
            RecordStatus::kRefused},
        RecordCase{
            "ChangesRenameCountTooLarge", Kind::kChanges,
            ByHand(Digested(ChangesBody('S', Be(0, 8) + Be(0, 8) + Be(2, 8) + Field(kStaged) +
                                                 Field("n.js") + Be(0, 8)))),
            RecordStatus::kRefused},
        RecordCase{"ChangesRewriteLongerThanTheRecord", Kind::kChanges,
                   ByHand(Digested(ChangesBody('S', Be(0, 8) + Be(1, 8) + Field("e.js") +
                                                        Be(1283, 8) + Be(~std::uint64_t{0}, 8) +
                                                        Bytes(4, '\0') + Be(0, 8)))),
                   RecordStatus::kRefused},
        RecordCase{"ChangesTailLongerThanTheRecord", Kind::kChanges,
                   ByHand(Digested(ChangesBody('S', Be(0, 8) + Be(0, 8) + Be(0, 8) + Be(12, 8) +
                                                        Number(1)))),
                   RecordStatus::kRefused},
        RecordCase{"ChangesNameLongerThanTheRecord", Kind::kChanges,
                   ByHand(Digested(ChangesBody('S', Be(1, 8) + Be(300, 2) + "notes.txt"))),
                   RecordStatus::kRefused},
        RecordCase{"ChangesBytesAfterItsFields", Kind::kChanges,
                   ByHand(Digested(ChangesBody('S', kNoChanges + "x"))), RecordStatus::kRefused},
        RecordCase{"ChangesFieldsMissing", Kind::kChanges,
                   ByHand(Digested(ChangesBody('S', Be(0, 8) + Be(0, 8)))),
                   RecordStatus::kRefused}),
    [](const auto& info) { return std::string(info.param.label); });

// A record whose place holds a folder is no record a run wrote.
TEST(RecordValidation, AFolderAtTheRecordsPlaceIsRefused) {
  for (const Kind kind : {Kind::kJournal, Kind::kChanges}) {
    Workspace w;
    MakeImage(w);
    const std::string path = RecordPath(w, kind);
    fs::create_directory(path);
    EXPECT_EQ(RefusedRecordOf(w.Path(kTable).string()), path);
  }
}

// A journal is whole and sound on its own, but its staged file is a folder: nothing a run of
// this tool leaves, so the table refuses it as a whole.
TEST(RecordValidation, AJournalWhoseStagedFileIsAFolderIsRefusedByTheTable) {
  Workspace w;
  MakeImage(w);
  const std::string table = w.Path(kTable).string();
  const std::string path = JournalPathOf(table);
  ASSERT_TRUE(WriteJournal(path, PutsInPlace("n.js", ".velador-0000000f.tmp")));
  TableJournal journal;
  EXPECT_EQ(ReadJournal(path, journal), RecordStatus::kValid);
  EXPECT_EQ(RefusedRecordOf(table), path);
  const LockedHashTable locked(table);
  EXPECT_EQ(locked.RefusedRecord(), path);
  EXPECT_FALSE(locked.Usable());
  EXPECT_TRUE(w.Exists(kTable + ".velador-journal"));
  EXPECT_TRUE(fs::is_directory(w.Path("img/ADV_OBJ/.velador-0000000f.tmp")));
}

// A refused record is left for a person: the record, the table and every file of ADV_OBJ stay
// as they are (the staged file too, which the sweep would otherwise take), and the table takes
// no entry.
TEST(LockedHashTable, LeavesARefusedRecordAndTheImageAsTheyAre) {
  const std::pair<Kind, Maker> refused[] = {
      {Kind::kJournal, Written(PutsInPlace("../n.js"))},
      {Kind::kChanges, Written(Removes("../../outside.txt"))},
      {Kind::kChanges, Written(Rewrites("e.js", 0, 4))},
      {Kind::kChanges,
       Written(Tail(static_cast<std::uint32_t>(kMostEntries + 1), kMostEntries + 1))},
  };
  for (const auto& [kind, make] : refused) {
    Workspace w;
    MakeImage(w);
    const std::string table = w.Path(kTable).string();
    const std::string path = RecordPath(w, kind);
    ASSERT_TRUE(make(path));
    const Bytes record = ReadFile(path);
    const std::vector<std::string> before = w.List();
    {
      LockedHashTable locked(table);
      EXPECT_EQ(locked.RefusedRecord(), path);
      EXPECT_FALSE(locked.Usable());
      HashTableWriter writer(locked);
      std::uint32_t number = 0;
      EXPECT_EQ(writer.Add(false, number), HashTableWriter::Outcome::kUnusable);
    }
    EXPECT_EQ(ReadFile(path), record);
    EXPECT_EQ(w.List(), before);
    EXPECT_EQ(w.Read(kTable), kTableBytes);
    EXPECT_EQ(w.Read("img/ADV_OBJ/e.js"), kEncryptionHash);
    EXPECT_EQ(w.Read("img/ADV_OBJ/" + kStaged), kStagedBytes);
  }
}

// A single container's record, as this version writes it or as the journal an earlier one
// kept: sealed (true) or not, over a table that was `length` bytes long at counter `counter`.
using SingleRecordMaker =
    std::function<std::pair<Kind, Maker>(bool sealed, std::uint64_t length, std::uint32_t counter)>;
const std::pair<const char*, SingleRecordMaker> kSingleRecords[] = {
    {"record of changes",
     [](bool sealed, std::uint64_t length, std::uint32_t counter) {
       return std::pair{Kind::kChanges, Written(PutsBack(length, counter, "n.js"), sealed)};
     }},
    {"journal of an earlier version",
     [](bool sealed, std::uint64_t length, std::uint32_t counter) {
       return std::pair{Kind::kJournal, Written(Journal(sealed, length, counter, kStaged, "n.js"))};
     }},
};

// A valid record is replayed when the table is locked, and goes.
TEST(LockedHashTable, ReplaysASealedSingleContainerRecordByPuttingTheStagedFileInPlace) {
  for (const auto& [label, single] : kSingleRecords) {
    SCOPED_TRACE(label);
    Workspace w;
    MakeImage(w);
    const std::string table = w.Path(kTable).string();
    const auto [kind, make] = single(true, 40076, 2);
    ASSERT_TRUE(make(RecordPath(w, kind)));
    {
      const LockedHashTable locked(table);
      EXPECT_TRUE(locked.Usable());
      EXPECT_EQ(locked.RefusedRecord(), "");
      EXPECT_EQ(locked.Counter(), 3u);
    }
    EXPECT_EQ(w.Read("img/ADV_OBJ/n.js"), kStagedBytes);
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/" + kStaged));
    EXPECT_EQ(w.Read(kTable), kTableBytes) << "the entries of a sealed transaction stay";
    EXPECT_FALSE(fs::exists(RecordPath(w, kind)));
  }
}

TEST(LockedHashTable, ReplaysAnOpenSingleContainerRecordByUndoingItsEntries) {
  for (const auto& [label, single] : kSingleRecords) {
    SCOPED_TRACE(label);
    Workspace w;
    MakeImage(w);
    const std::string table = w.Path(kTable).string();
    const auto [kind, make] = single(false, 40068, 1);
    ASSERT_TRUE(make(RecordPath(w, kind)));
    {
      const LockedHashTable locked(table);
      EXPECT_TRUE(locked.Usable());
      EXPECT_EQ(locked.Counter(), 1u);
      EXPECT_EQ(locked.Length(), 40068u);
    }
    EXPECT_EQ(w.Read(kTable), kTableBytes.substr(0, 40056) + Number(1) + Bytes(8, '\x5a'));
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/" + kStaged));
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/n.js"));
    EXPECT_FALSE(fs::exists(RecordPath(w, kind)));
  }
}

ImageChanges AWholeChange() {
  ImageChanges changes;
  changes.removals = {"notes.txt"};
  const Bytes numbers = Number(3) + Number(2) + Number(1);
  changes.rewrites = {{"e.js", 1283, std::vector<std::uint8_t>(numbers.begin(), numbers.end())}};
  changes.renames = {{kStaged, "n.js"}};
  const Bytes tail = Number(1) + "ABCDEFGH";
  changes.tableTail = std::vector<std::uint8_t>(tail.begin(), tail.end());
  return changes;
}

// In this version's layout and in the first one's, which a run stopped before an upgrade left.
TEST(LockedHashTable, ReplaysASealedRecordOfChangesInFull) {
  for (const bool firstVersion : {false, true}) {
    SCOPED_TRACE(firstVersion ? "first version" : "this version");
    Workspace w;
    MakeImage(w);
    const std::string table = w.Path(kTable).string();
    const Maker written = Written(AWholeChange());
    ASSERT_TRUE((firstVersion ? InTheFirstVersion(written) : written)(ChangesPathOf(table)));
    {
      const LockedHashTable locked(table);
      EXPECT_TRUE(locked.Usable());
      EXPECT_EQ(locked.Counter(), 1u);
    }
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/notes.txt"));
    EXPECT_EQ(w.Read("img/ADV_OBJ/e.js"),
              kEncryptionHash.substr(0, 1283) + Number(3) + Number(2) + Number(1));
    EXPECT_EQ(w.Read("img/ADV_OBJ/n.js"), kStagedBytes);
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/" + kStaged));
    EXPECT_EQ(w.Read(kTable), kTableBytes.substr(0, 40056) + Number(1) + "ABCDEFGH");
    EXPECT_FALSE(w.Exists(kTable + ".velador-changes"));
  }
}

// Not sealed, a record changed nothing yet but staging its files: those go, the rest stays.
TEST(LockedHashTable, DropsAnOpenRecordOfChangesAndItsStagedFiles) {
  Workspace w;
  MakeImage(w);
  const std::string table = w.Path(kTable).string();
  ASSERT_TRUE(Written(AWholeChange(), false)(ChangesPathOf(table)));
  {
    const LockedHashTable locked(table);
    EXPECT_TRUE(locked.Usable());
    EXPECT_EQ(locked.Counter(), 3u);
  }
  EXPECT_TRUE(w.Exists("img/ADV_OBJ/notes.txt"));
  EXPECT_EQ(w.Read("img/ADV_OBJ/e.js"), kEncryptionHash);
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/n.js"));
  EXPECT_FALSE(w.Exists("img/ADV_OBJ/" + kStaged));
  EXPECT_EQ(w.Read(kTable), kTableBytes);
  EXPECT_FALSE(w.Exists(kTable + ".velador-changes"));
}

// Bytes made while the record is written (a compaction's tail, its trailers) count only when
// they are exactly as many as announced: fewer, more, or a maker that fails leave no record, no
// staged file and nothing changed; as many, the change is made as from held bytes.
TEST(LockedHashTable, MakesAChangeFromMadeBytesOnlyWhenTheyAreAsManyAsAnnounced) {
  const Bytes tail = Number(1) + "ABCDEFGH";
  for (const int extra : {-1, 1, 0}) {
    for (const bool fails : {true, false}) {
      if (fails && extra != 0) continue;
      SCOPED_TRACE(std::to_string(extra) + (fails ? " failing" : ""));
      Workspace w;
      MakeImage(w);
      const std::string table = w.Path(kTable).string();
      ImageChanges changes = AWholeChange();
      changes.tableTail = ChangeBytes(tail.size(), [&](const ChangeBytes::Sink& sink) {
        // Two pieces, so that the count is the sum of them.
        const Bytes made = extra < 0 ? tail.substr(1) : extra > 0 ? tail + "Z" : tail;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(made.data());
        return sink(bytes, 3) && sink(bytes + 3, made.size() - 3) && !fails;
      });
      const bool whole = extra == 0 && !fails;
      {
        LockedHashTable locked(table);
        // Staged under the lock: locking swept what an earlier run left.
        w.Write("img/ADV_OBJ/" + kStaged, kStagedBytes);
        EXPECT_EQ(locked.Apply(changes),
                  whole ? LockedHashTable::Change::kMade : LockedHashTable::Change::kNotMade);
      }
      EXPECT_EQ(w.Read(kTable), whole ? kTableBytes.substr(0, 40056) + tail : kTableBytes);
      EXPECT_EQ(w.Exists("img/ADV_OBJ/notes.txt"), !whole);
      EXPECT_EQ(w.Exists("img/ADV_OBJ/n.js"), whole);
      EXPECT_FALSE(w.Exists("img/ADV_OBJ/" + kStaged));
      EXPECT_FALSE(w.Exists(kTable + ".velador-changes"));
    }
  }
}

// A torn record was cut short before anything was done: it goes, and nothing else changes.
TEST(LockedHashTable, DropsATornRecordAndChangesNothing) {
  for (const Kind kind : {Kind::kJournal, Kind::kChanges}) {
    Workspace w;
    MakeImage(w);
    const std::string table = w.Path(kTable).string();
    const std::string path = RecordPath(w, kind);
    const Maker whole = kind == Kind::kJournal ? Written(Journal(false, 40060, 0, kStaged, "n.js"))
                                               : Written(AWholeChange());
    ASSERT_TRUE(Flipped(whole, -1)(path));
    {
      const LockedHashTable locked(table);
      EXPECT_TRUE(locked.Usable());
      EXPECT_EQ(locked.Counter(), 3u);
    }
    EXPECT_FALSE(fs::exists(path));
    EXPECT_EQ(w.Read(kTable), kTableBytes);
    EXPECT_EQ(w.Read("img/ADV_OBJ/e.js"), kEncryptionHash);
    EXPECT_TRUE(w.Exists("img/ADV_OBJ/notes.txt"));
    EXPECT_FALSE(w.Exists("img/ADV_OBJ/n.js"));
  }
}

}  // namespace
}  // namespace velador::testing

// Arbitrary recovery records beside the table of a small disc image (see image_sandbox.h), then
// the table locked, as every run that reads or changes an image first locks it: the record is
// checked against the image and, when it passes, replayed.
//
// The first byte of the input chooses: bit 0 a record of changes (else a journal), bit 1 a
// record stretched by a hole to 1 GiB past its bytes, bit 2 a folder where the image's staged
// temporary file stands, bit 3 a table one entry longer than its counter says, bit 4 a record
// whose digest the target appends, so that mutations of its fields reach the checks behind the
// digest rather than tearing it. The rest is the record. Whatever it holds:
//   - nothing outside img/ changes, and img/ (the record aside) grows to no more than 16 MiB;
//   - the table refuses the record exactly when RefusedRecordOf said it would, and then leaves
//     the whole image, record included, as it was and is not usable;
//   - a torn record, or a record of changes not sealed, leaves the table as it was;
//   - once the table is usable, no record is left beside it, and a record that is not refused
//     is completed, so the table is usable, whenever the table kept its length rule before.

#include <cstdint>
#include <filesystem>
#include <string>

#include "crypto/sha1_hasher.h"
#include "image/transaction.h"
#include "image_sandbox.h"
#include "records.h"

namespace {

using velador::fuzz::Finding;
using velador::fuzz::ImageSandbox;
using velador::fuzz::kTableOfImage;

constexpr std::uint64_t kMostImageBytes = 16 << 20;

const ImageSandbox& TheSandbox() {
  static const ImageSandbox sandbox;
  return sandbox;
}

// What the record says before anything acts on it: torn, and for a record of changes whether
// it is sealed.
struct Reading {
  velador::RecordStatus status = velador::RecordStatus::kNone;
  bool sealed = false;
};

// The record's bytes followed by their digest, computed as a run computes it: the SHA-1 of all
// of them, the seal byte after the 8-byte magic taken as 0.
std::string Digested(std::string record) {
  std::string hashed = record;
  if (hashed.size() > 8) hashed[8] = 0;
  velador::Sha1Hasher hasher;
  hasher.Update(reinterpret_cast<const std::uint8_t*>(hashed.data()), hashed.size());
  hasher.Final();
  std::uint8_t digest[20];
  hasher.GetHash(digest);
  return record + std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

Reading ReadRecord(const std::string& record, const std::string& table, bool changes) {
  if (changes) {
    const velador::ChangesRecord read(record, table);
    return {read.Status(), read.Sealed()};
  }
  velador::TableJournal journal;
  const velador::RecordStatus status = velador::ReadJournal(record, journal);
  return {status, journal.sealed};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const ImageSandbox& sandbox = TheSandbox();
  const std::uint8_t choice = data[0];
  const bool changes = (choice & 1) != 0;
  sandbox.MakeImage();
  const std::string staged = std::string("img/ADV_OBJ/") + velador::fuzz::kStagedName;
  if (choice & 4) {
    std::filesystem::remove(sandbox.Path(staged));
    std::filesystem::create_directory(sandbox.Path(staged));
    sandbox.Write(staged + "/inner.js", "kept");
  }
  if (choice & 8) sandbox.Write(kTableOfImage, sandbox.Table() + std::string(8, '\x5a'));

  const std::string table = sandbox.Path(kTableOfImage);
  const std::string record =
      changes ? velador::ChangesPathOf(table) : velador::JournalPathOf(table);
  const std::string recordName = changes ? ".velador-changes" : ".velador-journal";
  std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (choice & 16) bytes = Digested(bytes);
  sandbox.Write(std::string(kTableOfImage) + recordName, bytes);
  if (choice & 2) std::filesystem::resize_file(record, bytes.size() + (std::uint64_t{1} << 30));

  const std::string tableBefore = sandbox.Read(kTableOfImage);
  const auto imageBefore = sandbox.Snapshot("img");
  const std::string refused = velador::RefusedRecordOf(table);
  if (!refused.empty() && refused != record) Finding("refused a record that is not there");
  const Reading reading = ReadRecord(record, table, changes);
  {
    const velador::LockedHashTable locked(table);
    if (locked.RefusedRecord() != refused) {
      Finding("the table refused \"" + locked.RefusedRecord() + "\", RefusedRecordOf said \"" +
              refused + "\"");
    }
    if (!refused.empty()) {
      if (locked.Usable()) Finding("usable beside a refused record");
      if (sandbox.Snapshot("img") != imageBefore) Finding("a refused record changed the image");
    }
    if (locked.Usable() && std::filesystem::exists(std::filesystem::symlink_status(record))) {
      Finding("usable with its record still beside it");
    }
    // A record the table does not refuse is acted on in full: on a table that kept its length
    // rule, nothing is left half done for a later run that could not do better.
    if (refused.empty() && (choice & 8) == 0 && !locked.Usable()) {
      Finding("a record neither refused nor completed");
    }
  }
  const bool tableKept =
      reading.status == velador::RecordStatus::kTorn ||
      (changes && reading.status == velador::RecordStatus::kValid && !reading.sealed);
  if (tableKept && sandbox.Read(kTableOfImage) != tableBefore) {
    Finding("a record that changed nothing yet changed the table");
  }
  sandbox.ExpectOutsideUnchanged();
  if (sandbox.ImageBytes(recordName) > kMostImageBytes) Finding("the image grew past 16 MiB");
  return 0;
}

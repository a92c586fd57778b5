#pragma once

// The write-ahead record of a change to an image (internal to this library), and its replay.
// One format for every change, at one place beside the table ("….velador-changes"):
//
//   magic "VLDRCHG2", seal byte ('O' open, 'S' sealed), the table to put back (a flag byte, then
//   its length, 8 bytes, and counter, 4 bytes, when the flag is 1), the removals, the trailer
//   rewrites, the renames (each list a count of 8 bytes, then its items: names as a 2-byte
//   length and the bytes, byte spans as an 8-byte length and the bytes), the table's new tail
//   (a byte span, empty when the table does not change that way), and the SHA-1 of all of it
//   with the seal byte taken as 0. Numbers are big-endian.
//
// A change of a whole image (LockedHashTable::Apply) writes its record in full, seals it, then
// makes the changes from that record. A single container's entries (HashTableWriter) are
// written to the table before the seal: their record holds the container's rename and the table
// to put back. A run killed or cut off by a power failure anywhere in between leaves the record
// behind, and the next run that locks the table reads what to do: sealed, every change is made
// (again; each step can be); not sealed, the table is put back and the staged files go.
//
// Records an earlier version wrote are still finished or undone: its records of changes
// ("VLDRCHG1": no table to put back), and the journal it kept for a single container
// ("….velador-journal", TableJournal), which this version no longer writes but for tests.
//
// A record lies in the image, and an image may come from anyone: nothing a record says is done
// before the whole record was checked against the image it lies in. It may name only plain
// files of the image's own ADV_OBJ (no separator of either kind, no "..", no drive, no control
// byte, within the name limit), only this tool's temporary files as what is renamed or dropped,
// only bytes inside a container's trailer as what is patched, and a table no longer than the
// containers of the image could name; it is read in bounded memory, and its size is bounded by
// what such a change can need. A record that fails is refused and left where it is: nothing of
// it is done, and the run says so.

#include <cstdint>
#include <optional>
#include <string>

#include "image/transaction.h"
#include "io/locked_file.h"

namespace velador {

struct TableJournal {
  bool sealed = false;        // the entries are complete: the container goes in place
  std::uint64_t length = 0;   // of the table before the transaction
  std::uint32_t counter = 0;  // of the table before the transaction
  std::string temporaryName;  // the container's temporary file, in the image's ADV_OBJ
  std::string resultName;     // the container's own name there
};

// What stands at a record's place.
enum class RecordStatus : std::uint8_t {
  kNone,     // no record
  kTorn,     // cut short or damaged before it was whole: it changed nothing yet, and goes
  kRefused,  // whole, but it asks for what no run of this tool would: left for a person
  kValid,    // whole and checked against the image
};

// Where the records of the table at `tablePath` lie: beside it.
std::string JournalPathOf(const std::string& tablePath);
std::string ChangesPathOf(const std::string& tablePath);

// Where the containers of the image whose table is at `tablePath` lie ("img/AACS/T" gives
// "img/ADV_OBJ/").
std::string DiscFolderOfTable(const std::string& tablePath);

// Whether `name` may name a file of an image's ADV_OBJ in a record: a plain name, neither "."
// nor "..", with no "/", "\", ":" nor control byte, of 1 to 267 bytes.
bool IsPlainImageName(std::string_view name);

// Writes the journal an earlier version kept for a single container, in full, and puts it, and
// its folder's record of it, on the disk. False, with nothing left behind, when any step failed.
// Only tests write one now: records that an earlier version left must still be put right.
bool WriteJournal(const std::string& path, const TableJournal& journal);

// Marks the record (of either kind) at `path` sealed (or, with `sealed` false, not sealed) on
// the disk: one byte, which the disk writes whole or not at all. False when the system refused.
bool SealRecord(const std::string& path, bool sealed);

// The journal at `path`, checked: its names, and its length and counter against the table rule.
RecordStatus ReadJournal(const std::string& path, TableJournal& journal);

// Whether a valid journal can be acted on in the image whose table, at `tablePath`, is
// `tableLength` bytes long (none: unknown): its temporary file, if any, a regular file, and,
// not sealed, a table at least as long as it was before the transaction. Otherwise the journal
// is refused like one that is not valid.
bool JournalFitsImage(const TableJournal& journal, const std::string& tablePath,
                      std::optional<std::uint64_t> tableLength);

// Removes the record and puts its folder's record of that on the disk, so that it cannot come
// back after a power failure and undo a later transaction. False when the system refused.
bool RemoveRecord(const std::string& path);

// Writes the record of `changes` whole (not sealed) and puts it on the disk.
bool WriteChanges(const std::string& path, const ImageChanges& changes);

// A record of changes of the image whose table is at `tablePath`, read and checked once, then
// replayed from the file itself in bounded memory.
class ChangesRecord {
 public:
  ChangesRecord(std::string path, const std::string& tablePath);

  RecordStatus Status() const { return status_; }
  bool Sealed() const { return sealed_; }

  // Makes every change the (valid, sealed) record holds, the table's through `table`; each
  // step can be made again without harm. False when a step failed.
  bool Make(LockedFile& table) const;

  // Removes the temporary files a (valid) record not sealed was to rename into place.
  void DropRenamed() const;

  // Undoes what a (valid) record not sealed may have changed: the table back to the length and
  // counter it holds, if any, then DropRenamed. False when the table could not be put back.
  bool Undo(LockedFile& table) const;

 private:
  bool Check();

  // The table's length as it stands, 0 when it cannot be read.
  std::uint64_t LengthOfTable() const;

  const std::string path_;
  const std::string tablePath_;
  const std::string discFolder_;
  std::uint64_t size_ = 0;  // of the record, digest excluded
  RecordStatus status_ = RecordStatus::kNone;
  bool sealed_ = false;
  bool firstVersion_ = false;              // written by an earlier version: no table to put back
  std::optional<TableState> tableBefore_;  // the table to put back, not sealed
};

}  // namespace velador

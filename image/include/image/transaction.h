#pragma once

// The one transaction engine of a disc image. Every change to an image is made here, under the
// exclusive lock of its content hash table: a single container's entries (HashTableWriter) and
// a change of the whole image (LockedHashTable::Apply). A record of the change is put on the
// disk beside the table before anything it names changes; a run killed, interrupted or cut off
// by a power failure at any point leaves that record, and the next run that locks the table (or
// a reader's TableReadLock) finishes or undoes the change from it, so that the image is always
// found as it was before or as it is after. Readers hold the table's shared lock while they read.
//
// The paths of an image's own files (the table, its records, the ADV_OBJ beside it) are worked
// out here too, and nowhere below this layer.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "encapsulation/content_hash_table.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"
#include "io/locked_file.h"

namespace velador {

// Bytes a change writes into a file of the image: held, or, where there may be too many to hold
// (a table's tail, the trailers of a compaction), made piece by piece, in order, while the
// change's record is written, from a length known beforehand.
class ChangeBytes {
 public:
  using Sink = std::function<bool(const std::uint8_t* data, std::size_t count)>;
  // Hands every byte to the sink, in order; false when it could not, or the sink refused.
  using Maker = std::function<bool(const Sink& sink)>;

  ChangeBytes() = default;
  ChangeBytes(std::vector<std::uint8_t> bytes);  // NOLINT(google-explicit-constructor)
  // `length` bytes that `maker` makes each time they are written.
  ChangeBytes(std::uint64_t length, Maker maker);

  std::uint64_t Length() const { return length_; }
  bool Empty() const { return length_ == 0; }

  // Hands the bytes to `sink` in order, in pieces of bounded size. False when the maker failed,
  // the sink refused, or the maker made more or fewer than Length() bytes.
  bool WriteTo(const Sink& sink) const;

 private:
  std::vector<std::uint8_t> held_;
  std::uint64_t length_ = 0;
  Maker maker_;
};

// A change of a whole image, made as one transaction under the table's lock (see
// LockedHashTable::Apply): containers of ADV_OBJ removed, trailers of others rewritten in place,
// and the table from its counter on replaced. Names are those of files in ADV_OBJ.
struct TrailerRewrite {
  std::string name;
  std::uint64_t offset = 0;  // of the trailer in the container
  ChangeBytes bytes;         // the new trailer, as long as the old one
};
struct Rename {
  std::string from;  // a complete temporary file of ADV_OBJ
  std::string to;    // its name there
};
// The table's length and counter at a moment.
struct TableState {
  std::uint64_t length = 0;
  std::uint32_t counter = 0;
};
struct ImageChanges {
  std::vector<std::string> removals;
  std::vector<TrailerRewrite> rewrites;
  std::vector<Rename> renames;  // made after the removals, so that a name removed and
                                // given again (another case of its letters) ends as given
  ChangeBytes tableTail;        // counter and entries, from offset 40056 on
  // Set only by a change that adds entries to the table before its seal (a single container's,
  // see HashTableWriter), which then holds renames alone: a run stopped before the seal puts the
  // table back to this length and counter.
  std::optional<TableState> tableBefore;

  bool Empty() const {
    return removals.empty() && rewrites.empty() && renames.empty() && tableTail.Empty();
  }
};

struct TableJournal;

// One table file opened for updating, under an exclusive lock held until the object is
// destroyed, so that two runs adding at the same time never hand out one number twice. The
// length and counter are read once, under the lock; they change only through the transactions
// (HashTableWriter) that use the table, one at a time. A batch of encapsulations shares one
// such table, so that the lock is taken once for all of its files.
//
// Taking the lock first finishes what a run killed in the middle of a transaction left: its
// write-ahead record beside the table says whether its container was put in place; if it was,
// its entries stay, if not, the table goes back to its length and counter from before and the
// container's temporary file goes. Then the temporary files that dead runs left in the image's
// ADV_OBJ go too.
class LockedHashTable {
 public:
  // With `wait` false the table is locked (and put right) only if no other run holds it now;
  // otherwise nothing is done, and the table is not usable.
  explicit LockedHashTable(const std::string& path, bool wait = true);
  LockedHashTable(const LockedHashTable&) = delete;
  LockedHashTable& operator=(const LockedHashTable&) = delete;

  // The table opened, was locked and keeps the length rule (a full table keeps it whatever its
  // length); false also once a transaction could not put the file back after a failure, since
  // its length and counter are then unknown.
  bool Usable() const { return usable_; }

  // A record beside the table that was refused (see RefusedRecordOf): its path; the table is
  // then not usable, and the record stays for a person to look at. Empty otherwise.
  const std::string& RefusedRecord() const { return refusedRecord_; }

  // The counter as it stands now.
  std::uint32_t Counter() const { return counter_; }

  // The length of the file as it stands now.
  std::uint64_t Length() const { return length_; }

  // Reads `count` bytes from `offset` of the table, under the lock; false when they are not
  // all there or cannot be read.
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count);

  // Makes `changes` as one transaction: a record of all of them is put on the disk and sealed
  // first, then the trailers are rewritten and put on the disk, the files removed, the
  // temporary files renamed into place, the table replaced from its counter on, and the record
  // dropped. Before the seal, a failure removes the temporary files to be renamed. When a step
  // fails before the seal nothing has changed; after it, the record stays and the next run that
  // locks the table completes the change. On any failure the table takes no entry in this run.
  enum class Change : std::uint8_t {
    kMade,
    kNotMade,       // failed before the seal: nothing changed, the files to rename are gone
    kLeftToFinish,  // failed after the seal: the next run that locks the table completes it
  };
  // Once the change is sealed (made, or left to finish), `sealed` is called while interrupts
  // still wait, so that what it records is true whenever an interrupt ends the run: it must be
  // quick and never block.
  Change Apply(const ImageChanges& changes, const std::function<void()>& sealed = {});

 private:
  friend class HashTableWriter;

  // Completes or undoes what the records beside the table say was left half done. False when
  // the table could not be put right: it then takes no entry.
  bool Recover();

  // Removes the temporary files a change that will not be made was to rename into place.
  void DropRenamed(const ImageChanges& changes) const;

  // Completes or undoes what the journal of a single container's transaction says.
  bool RecoverJournal(const TableJournal& journal);

  // Reads the table's length and counter, and whether it keeps the length rule.
  void ReadState();

  const std::string path_;
  LockedFile file_;
  std::string refusedRecord_;
  bool usable_ = false;
  std::uint64_t length_ = 0;
  std::uint32_t counter_ = 0;
};

// Adds entries to a table as one transaction. Add hands out numbers without touching the file;
// Commit writes the entries at the end of the file, then the counter, then puts both on the
// disk. Unless Keep is called, the destructor puts the file back to its earlier length and
// counter, so that a run that fails after Commit leaves the table as it found it. From Commit
// until the destructor, interrupts wait, so that Ctrl-C cannot leave entries that no container
// names; the writer is destroyed on the thread that called Commit.
class HashTableWriter final : public EntryTransaction {
 public:
  // A transaction on a table of its own: the file at `path` is opened and locked here, and the
  // lock is released when the writer is destroyed.
  explicit HashTableWriter(const std::string& path);
  // A transaction on `table`, which stays locked after it; the numbers continue from whatever
  // the transactions kept before.
  explicit HashTableWriter(LockedHashTable& table);
  ~HashTableWriter();
  HashTableWriter(const HashTableWriter&) = delete;
  HashTableWriter& operator=(const HashTableWriter&) = delete;

  // Hands out the next number unless `alreadyFull` is set; on kAdded, `number` holds it.
  Outcome Add(bool alreadyFull, std::uint32_t& number) override;

  // Writes the record of the transaction beside the table (the container is `temporaryPath` until
  // it is renamed to `resultPath`, both in the image's ADV_OBJ), then the entries handed out, their
  // tails taken from `tails` in batches of bounded size, then the new counter, and puts them on the
  // disk. On a failed write it puts the file back and answers false: none of the numbers handed
  // out is then valid. When `tails` throws, the exception passes through and the destructor puts
  // the file back.
  bool Commit(const TailSource& tails, const std::string& temporaryPath,
              const std::string& resultPath) override;

  // True once Commit wrote a record: Seal then needs the container whole and its temporary
  // name on the disk, since the run that completes the rename may be the one after a power cut.
  bool Journaled() const override { return journaled_; }

  // The entries are complete, on the disk, and the container is about to be renamed into
  // place: from now on a run killed midway completes the rename instead of undoing the entries.
  // False when the record could not be marked: the container must not be put in place.
  bool Seal() override;

  // The container that names the entries stands in place: the destructor leaves them, and drops
  // the record, which is then done with.
  void Keep() override;

  // After Keep: the record stays behind for the next run that locks the table, which completes
  // the rename again if it was lost.
  void KeepRecord() override { journaled_ = false; }

 private:
  // Earlier length and counter back, on the disk; false when the system refused.
  bool Restore();

  std::unique_ptr<LockedHashTable> own_;
  LockedHashTable& table_;
  std::optional<InterruptsHeld> held_;
  const std::uint64_t length_;   // as found
  const std::uint32_t counter_;  // as found
  std::uint32_t handedOut_ = 0;
  bool touched_ = false;
  bool kept_ = false;
  bool journaled_ = false;
  bool sealed_ = false;
};

// The table of the image whose ADV_OBJ `folder` is ("img/ADV_OBJ/" gives
// "img/AACS/CONTENT_HASH_TABLE2.AACS"): empty unless the folder is named ADV_OBJ (letters in
// either case) and something stands at the table's place beside it.
std::string TableOfDiscFolder(const std::string& folder);

// Removes the temporary files that runs no longer alive left in `folder` (as FolderOf gives it).
// When `folder` is the ADV_OBJ of an image with a table, that is done under the table's lock,
// after what a run stopped midway left half done was completed or undone, so that no file a
// change still needs is taken for a leftover; while another run holds the lock, nothing is done
// (that run, or the next to lock the table, sweeps the folder).
void RemoveAbandonedTemporariesIn(const std::string& folder);

// While it lives, no run changes the image whose table is at `tablePath`: a reader (a check, a
// decapsulation) holds this so that it never sees an image halfway through a change. It waits
// for a change in progress to end, and first puts right what a run stopped midway left (taking
// the table's lock for that moment), so that what it reads is the image as before or as after.
// Nothing is held when the table does not open. Not to be taken by a run that holds the table's
// lock itself: it would wait for itself.
class TableReadLock {
 public:
  explicit TableReadLock(const std::string& tablePath);
  ~TableReadLock();
  TableReadLock(const TableReadLock&) = delete;
  TableReadLock& operator=(const TableReadLock&) = delete;

  // A record beside the table that was refused: nothing is held then, and what the image
  // holds may be halfway through a change. Empty otherwise.
  const std::string& RefusedRecord() const { return refusedRecord_; }

  // A record of a change that could not be finished (a read-only medium, a file-size limit): its
  // path, and nothing is held; the image is halfway through that change and gets no verdict
  // until a run that can write to it finishes it. Empty otherwise.
  const std::string& UnfinishedRecord() const { return unfinishedRecord_; }

 private:
  UniqueFile file_;
  std::string refusedRecord_;
  std::string unfinishedRecord_;
  bool locked_ = false;
};

// The records a run stopped midway leaves beside the table at `tablePath` come from whoever
// made the image, and every run that locks the table checks one before it acts on it: a record
// that names anything but files of the image's own ADV_OBJ, patches bytes outside a
// container's trailer, or asks for a longer table than the image's containers could name is
// refused and left where it is. This checks them without acting on them: the path of the first
// record that would be refused, empty when none would (or when there is none). Judged under the
// table's shared lock, so that it waits for a change in progress, whose record is its own, to
// end; not for a run that holds the table's lock itself.
std::string RefusedRecordOf(const std::string& tablePath);

// The source of table transactions for an encapsulation outside a batch: each opens and locks
// the table at `tablePath` on its first entry, and releases it when done.
EntryTransactionSource EntriesOfTableAt(const std::string& tablePath);

// The same for the files of a batch, on `table`, which the batch keeps locked.
EntryTransactionSource EntriesOf(LockedHashTable& table);

}  // namespace velador

#pragma once

// Encapsulator: wraps one file into a container or restores one from a container, and answers
// what it did and whether a player would accept the result.
//
// Every operation reads its input, writes its result under a temporary name, renames it into
// place when it is complete and returns its report. When a read or a write fails the report
// names the failure, and any earlier file at the result path is left untouched. Operations
// print nothing. A decapsulation without a result path only checks the container: it reads it,
// gives the same verdicts and writes nothing anywhere.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"
#include "encapsulation/report.h"
#include "io/checked_file.h"

namespace velador {

class ByteCounter;
class ResultFile;
class SpooledBytes;

struct OperationPaths {
  std::string input;   // the file to encapsulate, or the container to decapsulate
  std::string result;  // the file to write; empty: a decapsulation only checks
  std::string table;   // the disc image's content hash table (hashed types only)
  // How many last components of the input's and of the result's path must be no link (see
  // platform::OpenFile): platform::kImageFile for a file of a disc image, whose folders come
  // from whoever made the image. The table is always opened so.
  int inputLinkFree = 0;
  int resultLinkFree = 0;
  // Where the input and the table are read from; none: the system's files. It must outlive the
  // operation.
  const FilesToRead* readFrom = nullptr;
};

// How many units of an Encryption-and-Hash container a decapsulation compares with their
// entries.
enum class UnitCheck : std::uint8_t {
  kDrawn,  // about one in twenty, drawn the same way in every run (every unit of a short one)
  kEvery,  // every unit of the enciphered body, and every number the trailer holds
};

// Told every entry number a check looks up, with the unit it belongs to (0 for a Hash
// container) and whether the entry holds that unit's digest tail. A unit the body does not
// hold, or a number that names no entry of the table (0 among them), never matches. Called on
// one thread at a time, in the order of the units.
class EntryVisitor {
 public:
  virtual ~EntryVisitor() = default;
  virtual void Visit(std::uint64_t unit, std::uint32_t number, bool matched) = 0;
};

// Runs the step that completes an encapsulation: the one that adds the table entries, writes
// the trailer's numbers and puts the result in place. Run returns once `step` has run; what
// `step` throws passes through to the caller. The step may be run on another thread than the
// caller's, but only one step runs at a time.
class FinishingTurn {
 public:
  virtual ~FinishingTurn() = default;
  virtual void Run(const std::function<void()>& step) = 0;
};

// The table transaction that gives a hashed container its entries: it hands out numbers,
// writes the entries once the container's body is on the disk, and keeps them only when the
// container is put in place. The disc image's layer provides it (the encapsulation owns no file
// of the image); destroying it without Keep puts the table back as it was.
class EntryTransaction {
 public:
  enum class Outcome {
    // Checked in this order, so that a full or unusable table is reported on every attempt:
    kUnusable,  // the table did not open for updating, or breaks the length rule: nothing added
    kFull,      // the counter stands at its maximum: nothing added
    kRefused,   // the caller's full flag was already set: nothing added
    kAdded,     // the entry got the number returned through Add
  };

  // Fills `count` bytes (whole entries) with the digest tails of the next entries handed out,
  // in the order of their numbers.
  using TailSource = std::function<void(std::uint8_t* tails, std::size_t count)>;

  virtual ~EntryTransaction() = default;

  // Hands out the next number unless `alreadyFull` is set; on kAdded, `number` holds it.
  virtual Outcome Add(bool alreadyFull, std::uint32_t& number) = 0;

  // Writes the entries handed out, their tails taken from `tails`, with a record saying that
  // the container at `temporaryPath` is to be renamed to `resultPath`. False when they could
  // not be written: the table is then as before and none of the numbers is valid.
  virtual bool Commit(const TailSource& tails, const std::string& temporaryPath,
                      const std::string& resultPath) = 0;

  // True once Commit wrote a record: the container's temporary name must then be on the disk
  // before Seal.
  virtual bool Journaled() const = 0;

  // The container is about to be renamed into place: from now on a stopped run completes the
  // rename instead of undoing the entries. False: the container must not be put in place.
  virtual bool Seal() = 0;

  // The container stands in place: the entries stay.
  virtual void Keep() = 0;

  // After Keep, when the rename could not be put on the disk: the record stays for the next run.
  virtual void KeepRecord() = 0;
};

// Opens one transaction for an encapsulation, when its first entry is asked for.
using EntryTransactionSource = std::function<std::unique_ptr<EntryTransaction>()>;

class Encapsulator {
 public:
  // `fileName` (at most 267 bytes) is the name the name block carries: the input's own name
  // when encapsulating, the container's own name when decapsulating.
  Encapsulator(OperationPaths paths, std::string_view fileName);
  virtual ~Encapsulator();

  Encapsulator(const Encapsulator&) = delete;
  Encapsulator& operator=(const Encapsulator&) = delete;

  OperationReport EncapsulateNonProtected(const Key& key);
  OperationReport DecapsulateNonProtected(const Key& key);
  OperationReport EncapsulateEncryption(const Key& key);
  OperationReport DecapsulateEncryption(const Key& key);
  OperationReport EncapsulateMac(const Key& key);
  OperationReport DecapsulateMac(const Key& key);
  OperationReport EncapsulateHash();
  OperationReport DecapsulateHash();
  OperationReport EncapsulateEncryptionHash(const Key& key);
  OperationReport DecapsulateEncryptionHash(const Key& key);

  // The operation of `type` in `direction`.
  OperationReport Run(ContainerType type, Direction direction, const Key& key);

  // Decapsulating Encryption-and-Hash, compare `policy`'s units (kDrawn unless set); every
  // entry number looked up, of either hashed type, is told to `visitor` when there is one.
  void SetUnitCheck(UnitCheck policy, EntryVisitor* visitor);

  // The operation reads `input`, already open, instead of opening the input path: whatever
  // checked the file before the run, and the run itself, then read one and the same file, even
  // if the path has come to name another one meanwhile.
  void ReadInputFrom(UniqueFile input);

  // Encapsulating a hashed type, a file that does not get every entry it needs (the table is
  // full or cannot be updated) is not put in place: the operation fails with kWrite, its table
  // events saying why, and the table is left as it was. Without this, such a file is put in
  // place carrying the number 0 where an entry is missing.
  void RequireEveryEntry() { everyEntry = true; }

  // Whether the container at `containerPath` is exactly what encapsulating the input as `type`
  // under `key` writes, trailer aside: restored, it would give the input's bytes under this
  // name and key. Reads both once, in full whenever their sizes and headers agree, writes
  // nothing; false also when either cannot be read. Constant-time past the sizes and headers:
  // where the bodies first differ does not show in the time taken. The container is one of a
  // disc image's, opened without following links there.
  bool HoldsInput(const std::string& containerPath, ContainerType type, const Key& key);

  // Encapsulating, the result is neither put in place nor given entries: it is left complete
  // at its temporary path (StagedPath), a trailer of zeros where its entry numbers go, and the
  // digest tails of its units are handed to `tails`, in order. For a caller that puts many
  // files in place at once, in a transaction of its own: it is written to the system but not
  // yet waited for on the disk, which that caller does for all of its files together (see
  // SyncFilesToDisk) before anything relies on them.
  void StageOnly(std::vector<DigestTail>& tails);
  const std::string& StagedPath() const { return stagedPath; }

  // Every byte the operation reads from its input and from the table is added to `counter`
  // (none: nothing is counted), which must outlive the operation.
  void CountReadsIn(ByteCounter* counter);

  // Encapsulating a hashed type, the entries go through a transaction from `source`. Without
  // one, the table counts as one that cannot be updated: the container gets no entry.
  void AddEntriesThrough(EntryTransactionSource source);

  // Encapsulating as one of a batch: the completing step runs through `turn`, which must
  // outlive the operation.
  void JoinBatch(FinishingTurn& turn);

 private:
  // Whether the body `container` stores (as `regions` place it), deciphered under `key`, is the
  // name block and then the bytes of `input`. Throws InputFailure when either cannot be read.
  bool StoredBodyDeciphersTo(InputFile& container, const layout::Regions& regions, InputFile& input,
                             const Key& key);

  // Runs `work` with the input open and a new result file, then, through the finishing turn,
  // `finish` and the renaming of the result into place. Answers the failure, if any. The table,
  // if entries were added to it, keeps them only when the result was put in place; either way
  // the transaction ends inside the finishing step, after that. The result goes to the disk
  // before that step when `finish` takes the table's lock (`bodyFirst`), so that the lock is
  // held only for the short rest, and in a batch, so that the steps taken one at a time only
  // have the trailer, the table and the rename to sync.
  template <class Work, class Finish>
  Failure Produce(Work&& work, Finish&& finish, bool bodyFirst = true);
  template <class Work>
  Failure Produce(Work&& work);

  // For decapsulations: as Produce without a finishing turn when there is a result path;
  // without one, `work` gets a null result and nothing is written.
  template <class Work>
  Failure Restore(Work&& work);

  // The input: the file handed over by ReadInputFrom, or the one at the input path.
  std::unique_ptr<InputFile> OpenInputFile();

  OperationReport StartReport(ContainerType type, Direction direction, const Key& key) const;

  // Hands out the number of the next entry of the content hash table, or 0 when the table is
  // full or cannot be updated; the first such refusal is noted in `report` and sets `full`, and
  // while `full` is set nothing more is handed out. From the first call until the run ends the
  // table stays locked.
  std::uint32_t AddHashTableEntry(bool& full, OperationReport& report);

  // Registers the units whose digest tails `unitTails` holds in order (`fullUnits` whole ones, then
  // a short one when `shortLastUnit`) as far as the table takes them: writes the trailer to
  // `result` (one number per unit tried, 0 for a unit that got no entry) and puts it on the disk,
  // then adds the entries to the table. The body must be on the disk already. When the entries
  // cannot be written, the table is put back, the event is noted and the trailer holds zeros. The
  // report keeps the tail of the last unit tried.
  // Staging: a trailer of `units` zeros, and the units' tails handed to the caller.
  void StageUnits(ResultFile& result, SpooledBytes& unitTails, std::uint64_t units,
                  OperationReport& report);

  void RegisterUnits(ResultFile& result, SpooledBytes& unitTails, std::uint64_t fullUnits,
                     bool shortLastUnit, OperationReport& report);

  const OperationPaths paths;
  const layout::NameBlock nameBlock;  // in clear, as the name of the file it belongs to
  EntryTransactionSource entrySource;
  std::unique_ptr<EntryTransaction> tableWriter;
  FinishingTurn* turn = nullptr;  // none: the step runs at once
  UnitCheck unitCheck = UnitCheck::kDrawn;
  EntryVisitor* entryVisitor = nullptr;
  UniqueFile openedInput;
  bool everyEntry = false;
  std::vector<DigestTail>* stagedTails = nullptr;
  std::string stagedPath;
  ByteCounter* readCounter = nullptr;
};

// The header fields of `file`, read as far as it holds a header (a shorter file decodes as the
// bytes it has); throws InputFailure when they cannot be read.
layout::HeaderFields ReadHeader(InputFile& file);

// Whether `key` deciphers `stored`, the name block of a container whose type enciphers it (as it
// lies after the header), to a name: the test of a key that reads no content. Under another key
// than the one that made it the block deciphers to noise, which is almost never so shaped.
bool KeyDeciphersName(const layout::NameBlock& stored, const Key& key);

// What stops a check before any verdict: the file is no container of a type it can check.
enum class CheckProblem : std::uint8_t {
  kNone,
  kUnreadable,    // the file did not open, or its first bytes could not be read
  kNotContainer,  // it does not start with "AACS"
  kUnknownType,   // byte 4 names no type
  kTooShort,      // too short for its type's fixed part
  kNameTooLong,   // its name is longer than a name block holds
  kNoKey,         // its type needs a key and none was given
};

struct ContainerCheck {
  CheckProblem problem = CheckProblem::kNone;
  std::optional<ContainerType> type;  // as soon as the header names one
  std::uint64_t size = 0;             // of the file
  layout::Regions regions;            // where its parts lie, when problem is kNone
  OperationReport report;             // the verdicts, when problem is kNone
};

// Checks the container at `path` as a decapsulation would, in memory, writing nothing: `name`
// is the container's own name (what its name block must hold), `key` may be null for a file
// that needs none, `tablePath` is the disc image's table (opened only for the hashed types).
// The verdicts are those of the report: PlayerAccepts tells whether a player would take it.
// Every byte read is added to `counter` when one is given. `linkFree` as in platform::OpenFile,
// for the container. The container and the table are read through `files` when it is given.
ContainerCheck CheckContainer(const std::string& path, std::string_view name, const Key* key,
                              const std::string& tablePath, UnitCheck policy, EntryVisitor* visitor,
                              ByteCounter* counter = nullptr, int linkFree = 0,
                              const FilesToRead* files = nullptr);

// As CheckContainer, with the same verdicts, but once the header is known and no problem stops
// the check, `resultFor` is asked, with the container's type, where the restored file goes:
// a path, and the content is restored there exactly as a decapsulation with that result path
// restores it (under a temporary name, renamed into place only when complete, an earlier file
// there untouched otherwise); an empty path, and the container is only checked, in memory.
ContainerCheck RestoreContainer(const std::string& path, std::string_view name, const Key* key,
                                const std::string& tablePath,
                                const std::function<std::string(ContainerType)>& resultFor,
                                UnitCheck policy, EntryVisitor* visitor,
                                ByteCounter* counter = nullptr, int linkFree = 0,
                                const FilesToRead* files = nullptr);

}  // namespace velador

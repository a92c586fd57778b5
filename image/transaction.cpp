#include "image/transaction.h"

#include <algorithm>
#include <vector>

#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"
#include "image/paths.h"
#include "io/fault_injection.h"
#include "platform/platform.h"
#include "records.h"

namespace velador {

ChangeBytes::ChangeBytes(std::vector<std::uint8_t> bytes)
    : held_(std::move(bytes)), length_(held_.size()) {}

ChangeBytes::ChangeBytes(std::uint64_t length, Maker maker)
    : length_(length), maker_(std::move(maker)) {}

bool ChangeBytes::WriteTo(const Sink& sink) const {
  if (!maker_) return held_.empty() || sink(held_.data(), held_.size());
  std::uint64_t made = 0;
  const bool fine = maker_([&](const std::uint8_t* data, std::size_t count) {
    // Never past the length announced: the record says it before the bytes.
    if (count > length_ - made) return false;
    made += count;
    return count == 0 || sink(data, count);
  });
  return fine && made == length_;
}

LockedHashTable::LockedHashTable(const std::string& path, bool wait)
    : path_(path), file_(path, wait, platform::kImageFile, true) {
  if (!file_.IsLocked() || !Recover()) return;
  ReadState();
}

void LockedHashTable::ReadState() {
  usable_ = false;
  // The length and counter are read under the lock, so they stay true until a transaction
  // changes them.
  auto length = file_.Size();
  std::uint8_t counter[4];
  if (!length || *length < table::kFirstEntryOffset ||
      !file_.ReadAt(table::kCounterOffset, counter, sizeof counter)) {
    return;
  }
  length_ = *length;
  counter_ = layout::DecodeNumber(counter);
  // A full table is full whatever its length; any other must keep the length rule.
  usable_ = counter_ == table::kFullCounter || length_ == table::LengthFor(counter_);
}

bool LockedHashTable::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  return file_.ReadAt(offset, data, count);
}

void LockedHashTable::DropRenamed(const ImageChanges& changes) const {
  const std::string discFolder = DiscFolderOfTable(path_);
  for (const Rename& rename : changes.renames) {
    if (!IsTemporaryName(rename.from)) continue;
    (void)platform::RemoveFile((discFolder + rename.from).c_str(), platform::kImageFile);
  }
}

namespace {

// Readies every file `changes` touches before the seal, where a failure still leaves the change
// unmade: no other program holds one open in a way that would make its step fail (a viewer on
// Windows), and every container whose trailer is rewritten has a name of its own (see
// ReplaceWithOwnCopy), so that the rewrite in place changes no snapshot made with hard links.
bool ReadyEveryFileTouched(const std::string& discFolder, const ImageChanges& changes) {
  using platform::ChangeAccess;
  const auto mayChange = [&](const std::string& name, ChangeAccess access) {
    return platform::MayChange((discFolder + name).c_str(), access);
  };
  for (const std::string& name : changes.removals) {
    if (!mayChange(name, ChangeAccess::kRemove)) return false;
  }
  for (const Rename& rename : changes.renames) {
    if (!mayChange(rename.from, ChangeAccess::kRemove) ||
        !mayChange(rename.to, ChangeAccess::kRemove)) {
      return false;
    }
  }
  for (const TrailerRewrite& rewrite : changes.rewrites) {
    const std::string path = discFolder + rewrite.name;
    if (!mayChange(rewrite.name, ChangeAccess::kWrite)) return false;
    UniqueFile container(platform::OpenFile(path.c_str(), "rb", platform::kImageFile));
    if (!container) return false;
    if (!ReplaceWithOwnCopy(path, container.get(), platform::kImageFile)) return false;
  }
  return true;
}

}  // namespace

LockedHashTable::Change LockedHashTable::Apply(const ImageChanges& changes,
                                               const std::function<void()>& sealed) {
  using fault_injection::Fails;
  using fault_injection::Point;
  if (!file_.IsLocked() || length_ < table::kFirstEntryOffset) {
    DropRenamed(changes);
    return Change::kNotMade;
  }
  const InterruptsHeld held;
  if (changes.Empty()) {
    if (sealed) sealed();
    return Change::kMade;
  }
  const std::string record = ChangesPathOf(path_);
  // Whichever run makes the change, maybe the one after a power failure, must find the staged
  // files under their names: those names go on the disk before the seal.
  const bool staged = ReadyEveryFileTouched(DiscFolderOfTable(path_), changes) &&
                      (changes.renames.empty() ||
                       (!Fails(Point::kFolderSync) && SyncFolderToDisk(DiscFolderOfTable(path_))));
  // The change is made from its record, as a run after a stop would make it: one way, checked
  // alike, whoever makes it.
  const bool written = staged && WriteChanges(record, changes);
  const ChangesRecord recorded(record, path_);
  if (!written || recorded.Status() != RecordStatus::kValid || !SealRecord(record, true)) {
    (void)RemoveRecord(record);
    DropRenamed(changes);
    return Change::kNotMade;
  }
  // Sealed: from here on the change is made, by this run or, should it stop, by the next one.
  const bool made = recorded.Make(file_) && RemoveRecord(record);
  if (sealed) sealed();
  usable_ = false;
  if (!made) return Change::kLeftToFinish;
  ReadState();
  return Change::kMade;
}

bool LockedHashTable::Recover() {
  // Nothing a record says is done through a link where the image's folders should stand.
  std::string discFolder = DiscFolderOfTable(path_);
  discFolder.pop_back();
  const platform::EntryKind folderKind = platform::KindOf(discFolder.c_str());
  if (folderKind != platform::EntryKind::kFolder && folderKind != platform::EntryKind::kNone) {
    return false;
  }
  const std::string changesPath = ChangesPathOf(path_);
  const ChangesRecord changes(changesPath, path_);
  switch (changes.Status()) {
    case RecordStatus::kRefused:
      refusedRecord_ = changesPath;
      return false;
    case RecordStatus::kValid:
      if (changes.Sealed() ? !changes.Make(file_) : !changes.Undo(file_)) return false;
      [[fallthrough]];
    case RecordStatus::kTorn:
      if (!RemoveRecord(changesPath)) return false;
      break;
    case RecordStatus::kNone:
      break;
  }
  const std::string journalPath = JournalPathOf(path_);
  TableJournal journal;
  const RecordStatus status = ReadJournal(journalPath, journal);
  if (status == RecordStatus::kRefused) {
    refusedRecord_ = journalPath;
    return false;
  }
  if (status == RecordStatus::kValid && !RecoverJournal(journal)) return false;
  // A torn record was cut short before the table was touched.
  if (status != RecordStatus::kNone && !RemoveRecord(journalPath)) return false;
  if (folderKind == platform::EntryKind::kFolder) RemoveAbandonedTemporaries(discFolder + '/');
  // The table's own copies (see LockedFile) are made beside it.
  RemoveAbandonedTemporaries(FolderOf(path_));
  return true;
}

bool LockedHashTable::RecoverJournal(const TableJournal& journal) {
  using platform::EntryKind;
  const std::string discFolder = DiscFolderOfTable(path_);
  const std::string temporary = discFolder + journal.temporaryName;
  const std::optional<std::uint64_t> length = file_.Size();
  if (!JournalFitsImage(journal, path_, length)) {
    refusedRecord_ = JournalPathOf(path_);
    return false;
  }
  const EntryKind kind = platform::KindOf(temporary.c_str());
  if (journal.sealed) {
    // The entries are complete and the container was on its way into place: it goes there,
    // unless it got there already.
    return kind == EntryKind::kNone ||
           (platform::MoveIntoPlace(temporary.c_str(), (discFolder + journal.resultName).c_str(),
                                    platform::kImageFile) &&
            SyncFolderToDisk(discFolder));
  }
  // The container never took its place: its entries name nothing and go.
  std::uint8_t counter[4];
  layout::EncodeNumber(journal.counter, counter);
  if (!file_.WriteAt(table::kCounterOffset, counter, sizeof counter) ||
      !file_.Truncate(journal.length) || !file_.Sync()) {
    return false;
  }
  (void)platform::RemoveFile(temporary.c_str(), platform::kImageFile);
  return true;
}

HashTableWriter::HashTableWriter(const std::string& path)
    : own_(std::make_unique<LockedHashTable>(path)),
      table_(*own_),
      length_(table_.length_),
      counter_(table_.counter_) {}

HashTableWriter::HashTableWriter(LockedHashTable& table)
    : table_(table), length_(table.length_), counter_(table.counter_) {}

HashTableWriter::~HashTableWriter() {
  if (touched_ && !kept_) {
    (void)Restore();
  } else if (journaled_) {
    (void)RemoveRecord(ChangesPathOf(table_.path_));
  }
  held_.reset();
}

void HashTableWriter::Keep() {
  kept_ = true;
  if (!touched_) return;
  table_.length_ = length_ + std::uint64_t{handedOut_} * table::kEntryLength;
  table_.counter_ = counter_ + handedOut_;
}

HashTableWriter::Outcome HashTableWriter::Add(bool alreadyFull, std::uint32_t& number) {
  if (!table_.usable_) return Outcome::kUnusable;
  if (counter_ + handedOut_ == table::kFullCounter) return Outcome::kFull;
  if (alreadyFull) return Outcome::kRefused;
  ++handedOut_;
  number = counter_ + handedOut_;
  return Outcome::kAdded;
}

bool HashTableWriter::Commit(const TailSource& tails, const std::string& temporaryPath,
                             const std::string& resultPath) {
  if (handedOut_ == 0) return true;
  // Bounded batches keep the memory small however many units a file has.
  constexpr std::size_t kBatchEntries = 8192;
  std::vector<std::uint8_t> batch(
      static_cast<std::size_t>(std::min<std::uint64_t>(handedOut_, kBatchEntries)) *
      table::kEntryLength);
  held_.emplace();
  const auto nameOf = [](const std::string& path) {
    return path.substr(path.find_last_of("/\\") + 1);
  };
  ImageChanges record;
  record.renames.push_back({nameOf(temporaryPath), nameOf(resultPath)});
  record.tableBefore = TableState{length_, counter_};
  if (!WriteChanges(ChangesPathOf(table_.path_), record)) return false;
  journaled_ = true;
  touched_ = true;
  bool written = true;
  for (std::uint64_t entry = 0; entry < handedOut_ && written; entry += kBatchEntries) {
    const std::size_t count = static_cast<std::size_t>(
        std::min<std::uint64_t>(handedOut_ - entry, kBatchEntries) * table::kEntryLength);
    tails(batch.data(), count);
    written = table_.file_.WriteAt(length_ + entry * table::kEntryLength, batch.data(), count);
  }
  std::uint8_t counter[4];
  layout::EncodeNumber(counter_ + handedOut_, counter);
  written = written && table_.file_.WriteAt(table::kCounterOffset, counter, sizeof counter) &&
            table_.file_.Sync();
  if (written) return true;
  (void)Restore();
  touched_ = false;
  return false;
}

bool HashTableWriter::Seal() {
  if (!journaled_) return true;
  sealed_ = SealRecord(ChangesPathOf(table_.path_), true);
  return sealed_;
}

bool HashTableWriter::Restore() {
  // Unsealed first: from here on, a run killed midway is undone, not completed.
  if (sealed_ && !SealRecord(ChangesPathOf(table_.path_), false)) {
    table_.usable_ = false;
    return false;
  }
  sealed_ = false;
  // The counter may or may not have reached the file; the old one goes back, and the appended
  // bytes are cut off, so the length rule holds again.
  std::uint8_t counter[4];
  layout::EncodeNumber(counter_, counter);
  const bool restored = table_.file_.WriteAt(table::kCounterOffset, counter, sizeof counter) &&
                        table_.file_.Truncate(length_) && table_.file_.Sync();
  // Left in an unknown state, the table takes no further entry, and the record stays for the
  // next run to undo what this one could not.
  if (!restored) {
    table_.usable_ = false;
    return false;
  }
  if (journaled_ && RemoveRecord(ChangesPathOf(table_.path_))) journaled_ = false;
  return true;
}

std::string TableOfDiscFolder(const std::string& folder) {
  std::string discFolder = folder.empty() ? std::string("./") : folder;
  while (discFolder.size() > 1 && (discFolder.back() == '/' || discFolder.back() == '\\')) {
    discFolder.pop_back();
  }
  const std::string_view name = std::string_view(discFolder).substr(FolderOf(discFolder).size());
  if (!FoldAlike(name, kDiscFolderName)) return {};
  const std::string table = FolderOf(discFolder) + std::string(kTablePathInImage);
  return platform::KindOf(table.c_str()) == platform::EntryKind::kNone ? std::string() : table;
}

void RemoveAbandonedTemporariesIn(const std::string& folder) {
  // An image's ADV_OBJ is swept only under its table's lock, after what a half-done change
  // needs was put right: a change in progress keeps its files there until it ends.
  if (const std::string table = TableOfDiscFolder(folder); !table.empty()) {
    const LockedHashTable locked(table, false);
    return;
  }
  RemoveAbandonedTemporaries(folder);
}

TableReadLock::TableReadLock(const std::string& tablePath) {
  const std::string records[] = {ChangesPathOf(tablePath), JournalPathOf(tablePath)};
  const auto left = [&]() -> std::string {
    for (const std::string& record : records) {
      if (platform::KindOf(record.c_str()) != platform::EntryKind::kNone) return record;
    }
    return {};
  };
  // Under the shared lock no run is changing the image, so a record found then is one a run left
  // (while this one waited, or that the recovery could not finish): put right and looked at
  // again, a few times, before it is reported.
  for (int attempt = 0; attempt < 8; ++attempt) {
    if (!left().empty()) {
      const LockedHashTable recovered(tablePath);
      refusedRecord_ = recovered.RefusedRecord();
      if (!refusedRecord_.empty()) return;
    }
    file_ = OpenRegularFile(tablePath, platform::kImageFile);
    locked_ = file_ && platform::LockShared(file_.get());
    if (!locked_) return;
    // A writer may have given the name a copy of the table (see LockedFile) while this waited.
    if (platform::NamesOpenFile(tablePath.c_str(), file_.get()) && left().empty()) return;
    platform::Unlock(file_.get());
    locked_ = false;
    file_.reset();
  }
  unfinishedRecord_ = left();
}

TableReadLock::~TableReadLock() {
  if (locked_) platform::Unlock(file_.get());
}

EntryTransactionSource EntriesOfTableAt(const std::string& tablePath) {
  return [tablePath] { return std::make_unique<HashTableWriter>(tablePath); };
}

EntryTransactionSource EntriesOf(LockedHashTable& table) {
  return [&table] { return std::make_unique<HashTableWriter>(table); };
}

}  // namespace velador

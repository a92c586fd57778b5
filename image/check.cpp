#include "image/check.h"

// The check and the extract share one pool: a file is judged alike whether or not it is also
// restored.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>

#include "encapsulation/container_layout.h"
#include "encapsulation/encapsulator.h"
#include "image/encapsulation_checks.h"
#include "image/extract.h"
#include "image/image_reader.h"
#include "image/key_file.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// More entries than this and the counts alone would take half a gibibyte.
constexpr std::uint64_t kMaxTrackedEntries = std::uint64_t{1} << 31;

// How often each entry from 1 to a bound is named: 0, 1, or 2 for "more than once", two bits
// an entry, safe to count from several threads at once.
class EntryCounts {
 public:
  explicit EntryCounts(std::uint64_t entries)
      : entries_(entries), words_(static_cast<std::size_t>((entries + 31) / 32)) {}

  std::uint64_t Entries() const { return entries_; }

  // Counts `number` once, when it lies between 1 and the bound.
  void Count(std::uint32_t number) {
    if (number == 0 || number > entries_) return;
    std::atomic<std::uint64_t>& word = words_[(number - 1) / 32];
    const unsigned shift = 2 * ((number - 1) % 32);
    std::uint64_t old = word.load(std::memory_order_relaxed);
    while (((old >> shift) & 3) < 2 &&
           !word.compare_exchange_weak(old, old + (std::uint64_t{1} << shift),
                                       std::memory_order_relaxed)) {
    }
  }

  unsigned Of(std::uint32_t number) const {
    const std::uint64_t word = words_[(number - 1) / 32].load(std::memory_order_relaxed);
    return static_cast<unsigned>((word >> (2 * ((number - 1) % 32))) & 3);
  }

 private:
  const std::uint64_t entries_;
  std::vector<std::atomic<std::uint64_t>> words_;
};

// Gathers the ranges of the numbers it is given in increasing order: how many, and the first
// few ranges.
class RangeList {
 public:
  void Add(std::uint32_t number) {
    ++count_;
    if (!ranges_.empty() && ranges_.back().last + 1 == number) {
      ranges_.back().last = number;
    } else if (ranges_.size() < TableFindings::kRangesKept) {
      ranges_.push_back({number, number});
    }
  }
  std::uint64_t Count() const { return count_; }
  std::vector<EntryRange> Ranges() const { return ranges_; }

 private:
  std::uint64_t count_ = 0;
  std::vector<EntryRange> ranges_;
};

// The numbers one container names, as its check looks them up.
class FileEntries : public EntryVisitor {
 public:
  FileEntries(EntryCounts& counts, std::uint32_t counter, CheckedFile& file)
      : counts_(counts), counter_(counter), file_(file) {}

  void Visit(std::uint64_t unit, std::uint32_t number, bool matched) override {
    Count(number);
    if (matched) return;
    ++file_.mismatchedUnits;
    if (!mismatch_) mismatch_ = {unit, number};
  }

  // A number of the trailer whose unit goes unchecked: it counts for the table alone.
  void Count(std::uint32_t number) {
    counts_.Count(number);
    if (number == 0) ++file_.zeroNumbers;
    if (number > counter_) ++file_.pastCounterNumbers;
  }

  struct Mismatch {
    std::uint64_t unit;
    std::uint32_t number;
  };
  const std::optional<Mismatch>& FirstMismatch() const { return mismatch_; }

 private:
  EntryCounts& counts_;
  const std::uint32_t counter_;
  CheckedFile& file_;
  std::optional<Mismatch> mismatch_;
};

FileReason ReasonOf(CheckProblem problem) {
  switch (problem) {
    case CheckProblem::kUnreadable:
      return FileReason::kUnreadable;
    case CheckProblem::kNotContainer:
      return FileReason::kNotContainer;
    case CheckProblem::kUnknownType:
      return FileReason::kUnknownType;
    case CheckProblem::kTooShort:
      return FileReason::kTooShort;
    case CheckProblem::kNameTooLong:
      return FileReason::kNameTooLong;
    case CheckProblem::kNoKey:
      return FileReason::kNoKey;
    case CheckProblem::kNone:
      break;
  }
  return FileReason::kNone;
}

// The reason a hashed container's entries do not match, from the first unit that did not.
void EntryReason(const FileEntries& entries, const layout::Regions& regions, std::uint32_t counter,
                 CheckedFile& file) {
  const auto& mismatch = entries.FirstMismatch();
  if (!mismatch) {
    file.reason = FileReason::kNoNumbers;
    return;
  }
  file.unit = mismatch->unit;
  file.number = mismatch->number;
  const bool perUnit = file.type == ContainerType::kEncryptionHash;
  if (mismatch->number == 0) {
    file.reason = FileReason::kNoEntry;
  } else if (mismatch->number > counter) {
    file.reason = FileReason::kPastCounter;
  } else if (perUnit && mismatch->unit >= layout::UnitCount(regions.encipheredLength)) {
    file.reason = FileReason::kOutsideBody;
  } else {
    file.reason = FileReason::kEntryDiffers;
  }
}

// The verdict and first reason of a checked container.
void Judge(const ContainerCheck& check, const FileEntries& entries, std::uint32_t counter,
           CheckedFile& file) {
  file.type = check.type;
  file.size = check.size;
  file.verdict = FileVerdict::kRefused;
  file.reason = ReasonOf(check.problem);
  if (check.problem == CheckProblem::kUnreadable || check.problem == CheckProblem::kNoKey) {
    file.verdict = FileVerdict::kNotChecked;
  }
  if (check.problem != CheckProblem::kNone) return;
  const OperationReport& report = check.report;
  const TypeFacts& facts = FactsOf(*check.type);
  // The whole body of a Hash container is its one unit.
  file.unitsChecked = file.type == ContainerType::kHash ? report.tableFound : report.unitsChecked;
  if (report.failure == Failure::kRead) {
    file.reason = FileReason::kCutShort;
  } else if (!report.Completed()) {
    file.verdict = FileVerdict::kNotChecked;
    file.reason = FileReason::kUnreadable;
  } else if (!report.nameMatches && facts.encipherment != Encipherment::kNothing &&
             !layout::NameInBlock(report.storedName)) {
    // Deciphered under its own key, a changed name is still a name; noise means another key.
    file.reason = FileReason::kWrongKey;
  } else if (facts.UsesTable() && !report.tableFound) {
    file.reason = FileReason::kNoTable;
  } else if (!report.nameMatches) {
    file.reason = FileReason::kNameDiffers;
    file.storedName = layout::NameInBlock(report.storedName);
  } else if (facts.trailer == Trailer::kMac && !report.contentMatches) {
    file.reason = FileReason::kMacDiffers;
  } else if (facts.UsesTable() && !report.contentMatches) {
    EntryReason(entries, check.regions, counter, file);
  } else if (report.PlayerAccepts()) {
    file.verdict = FileVerdict::kAccepted;
  }
}

// An entry of the folder, as listed before the check.
struct ListedFile {
  std::string name;
  std::string path;
  // kNone for a regular file; otherwise why the entry is listed but not opened (opening a
  // device or a pipe could wait forever).
  FileReason notRegular = FileReason::kNone;
  // How much of `path` must be no link when it is opened (see platform::OpenFile).
  int linkFree = 0;
  // Where it is read from: the image's folder or the image file holding it.
  const ImageReader* reader = nullptr;
};

// Every entry of `folder`, sorted by name byte for byte: a sub-folder or another entry that is
// no regular file is listed too, so that the report says it was not checked rather than leave
// it out unseen. None when the folder cannot be listed.
// An image's ADV_OBJ (`disc`) is opened as a folder of the image: neither it nor any file in it
// is followed if it is a link, which is listed as no regular file.
std::optional<std::vector<ListedFile>> ListFiles(const ImageReader& reader,
                                                 const std::string& folder, bool disc,
                                                 std::uint64_t& leftovers) {
  auto names = reader.Entries(folder, disc ? platform::kImageFolder : 0);
  if (!names) return std::nullopt;
  std::sort(names->begin(), names->end());
  std::vector<ListedFile> files;
  const int linkFree = disc ? platform::kImageFile : 1;
  for (std::string& name : *names) {
    if (disc && IsReservedName(name)) {
      ++leftovers;
      continue;
    }
    std::string path = JoinPath(folder, name);
    FileReason notRegular = FileReason::kNone;
    const ImageEntryKind kind = reader.KindOf(path);
    if (kind != ImageEntryKind::kFile) {
      notRegular = kind == ImageEntryKind::kFolder ? FileReason::kFolder : FileReason::kNotRegular;
    }
    files.push_back({std::move(name), std::move(path), notRegular, linkFree, &reader});
  }
  return files;
}

// About how many bytes a check of the file reads (`toRead`), and how many it holds: all of it
// for the types whose trailer is checked against the content, the header and name block for the
// others. A restore reads all of every container, and an Encryption-and-Hash one twice
// (restored, then every unit compared).
struct ReadEstimate {
  std::uint64_t toRead = 0;
  std::uint64_t size = 0;
};
ReadEstimate BytesToRead(const ListedFile& listed, bool restoring) {
  if (listed.notRegular != FileReason::kNone) return {};
  std::uint64_t length = 0;
  layout::HeaderFields fields;
  try {
    const std::unique_ptr<InputFile> file =
        listed.reader->Open(listed.path, nullptr, listed.linkFree);
    length = file->Size();
    fields = ReadHeader(*file);
  } catch (const InputFailure&) {
    return {};
  }
  std::optional<ContainerType> type;
  if (fields.hasMagic && fields.typeCode) type = TypeOfCode(*fields.typeCode);
  if (restoring && type) {
    return {length * (type == ContainerType::kEncryptionHash ? 2 : 1), length};
  }
  if (!type || FactsOf(*type).trailer == Trailer::kNone) {
    return {std::min<std::uint64_t>(length, layout::kContentOffset), length};
  }
  return {length, length};
}

// The entries from 1 to the counter that the file still holds: those a container can name.
std::uint64_t TrackedEntries(const TableFindings& table) {
  if (!table.present) return 0;
  return std::min<std::uint64_t>(table.counter, table::EntriesHeldIn(table.length));
}

// What the table holds before any file is checked.
ImageCheckError ReadTable(const ImageReader& reader, TableFindings& table) {
  if (reader.KindOf(table.path) == ImageEntryKind::kNone) return ImageCheckError::kNone;
  std::uint8_t counter[4];
  try {
    const std::unique_ptr<InputFile> file = reader.Open(table.path, nullptr, platform::kImageFile);
    table.length = file->Size();
    if (table.length < table::kFirstEntryOffset) return ImageCheckError::kUnreadableTable;
    file->ReadAt(table::kCounterOffset, counter, sizeof counter);
  } catch (const InputFailure&) {
    return ImageCheckError::kUnreadableTable;
  }
  table.present = true;
  table.counter = layout::DecodeNumber(counter);
  table.lengthMatches = table.length == table::LengthFor(table.counter);
  if (TrackedEntries(table) > kMaxTrackedEntries) return ImageCheckError::kTableTooLarge;
  return ImageCheckError::kNone;
}

// Calls `visit` with every number the trailer of a hashed container holds; the bytes read go to
// `read` when given.
template <class Visit>
void ForEachTrailerNumber(const ListedFile& listed, const layout::Regions& regions,
                          ByteCounter* read, Visit&& visit) {
  try {
    const std::unique_ptr<InputFile> file = listed.reader->Open(listed.path, read, listed.linkFree);
    std::vector<std::uint8_t> block;
    constexpr std::uint64_t kBlockLength = 64 * 1024;
    const std::uint64_t length = regions.EntryCount() * layout::kEntryNumberLength;
    for (std::uint64_t at = 0; at < length; at += kBlockLength) {
      block.resize(static_cast<std::size_t>(std::min(kBlockLength, length - at)));
      file->ReadAt(regions.trailerOffset + at, block.data(), block.size());
      for (std::size_t i = 0; i < block.size(); i += layout::kEntryNumberLength) {
        visit(layout::DecodeNumber(block.data() + i));
      }
    }
  } catch (const InputFailure&) {
    // A trailer that cannot be read again names nothing more here; its check said so.
  }
}

// Where an extract restores the files, and what it keeps.
struct Restoring {
  std::string output;
  std::optional<std::string> keyPath;
  bool force = false;
  // Per listed file: an earlier one's name folds alike (letters A to Z in either case), so that
  // both would be one file where letters fold: only the first is restored, and no file this run
  // writes is replaced by another of the same run.
  std::vector<char> nameTaken;
};

std::vector<char> NamesTaken(const std::vector<ListedFile>& listed) {
  std::vector<char> taken(listed.size(), 0);
  for (std::size_t i = 0; i < listed.size(); ++i) {
    for (std::size_t earlier = 0; earlier < i && !taken[i]; ++earlier) {
      taken[i] = SameNameText(listed[earlier].name, listed[i].name) ? 1 : 0;
    }
  }
  return taken;
}

// What became of one file's restore.
struct RestoreOutcome {
  bool restored = false;
  ExtractReason reason = ExtractReason::kNone;
  std::string result;
};

ExtractReason ExtractReasonOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::kResultExists:
      return ExtractReason::kExists;
    case Refusal::kPathTooLong:
      return ExtractReason::kPathTooLong;
    case Refusal::kSameFile:
      return ExtractReason::kSameFile;
    case Refusal::kNone:
      return ExtractReason::kNone;
    default:
      return ExtractReason::kCannotCreate;
  }
}

// Passes on what a check looks up only while `on` is set.
class SwitchedVisitor : public EntryVisitor {
 public:
  explicit SwitchedVisitor(EntryVisitor& to) : to_(to) {}
  void Visit(std::uint64_t unit, std::uint32_t number, bool matched) override {
    if (on) to_.Visit(unit, number, matched);
  }
  bool on = true;

 private:
  EntryVisitor& to_;
};

// Checks the files two at a time, restoring each one too when `restoring` is given, and hands
// the index of each one to `done` in order.
class FileChecks {
 public:
  FileChecks(const std::vector<ListedFile>& listed, const std::optional<Key>& key,
             const TableFindings& table, EntryCounts& counts, ImageCheck& check, ByteCounter* read,
             const Restoring* restoring = nullptr)
      : listed_(listed),
        key_(key),
        table_(table),
        counts_(counts),
        check_(check),
        regions_(listed.size()),
        done_(listed.size(), false),
        read_(read),
        restoring_(restoring),
        outcomes_(listed.size()) {}

  // `working` is told of each file as its work begins, on the thread that does it.
  void Run(const std::function<void(const std::string&)>& working,
           const std::function<void(std::size_t)>& done) {
    working_ = &working;
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) workers.emplace_back([this] { Work(); });
    for (std::size_t i = 0; i < listed_.size(); ++i) {
      std::unique_lock<std::mutex> lock(mutex_);
      finished_.wait(lock, [&] { return done_[i]; });
      lock.unlock();
      if (done) done(i);
    }
    for (std::thread& worker : workers) worker.join();
  }

  // Where the parts of each container lie; a default for a file that is none.
  const std::vector<layout::Regions>& Regions() const { return regions_; }

  // What became of each file's restore, when restoring.
  const std::vector<RestoreOutcome>& Outcomes() const { return outcomes_; }

 private:
  void Work() {
    platform::KeepInterruptsOffThisThread();
    for (std::size_t i = next_++; i < listed_.size(); i = next_++) {
      if (*working_) (*working_)(listed_[i].name);
      CheckOne(i);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[i] = true;
      }
      finished_.notify_all();
    }
  }

  void CheckOne(std::size_t i) {
    CheckedFile& file = check_.files[i];
    if (listed_[i].notRegular != FileReason::kNone) {
      file.verdict = FileVerdict::kNotChecked;
      file.reason = listed_[i].notRegular;
      return;
    }
    try {
      FileEntries entries(counts_, table_.counter, file);
      const ContainerCheck result =
          restoring_ != nullptr
              ? RestoreOne(i, entries)
              : CheckContainer(listed_[i].path, listed_[i].name, key_ ? &*key_ : nullptr,
                               table_.path, UnitCheck::kEvery, &entries, read_, listed_[i].linkFree,
                               listed_[i].reader);
      regions_[i] = result.regions;
      Judge(result, entries, table_.counter, file);
      // Without the key the units go unchecked, but the numbers the trailer holds, which need
      // no key, still count for the table.
      if (result.problem == CheckProblem::kNoKey && FactsOf(*result.type).UsesTable()) {
        ForEachTrailerNumber(listed_[i], result.regions, read_,
                             [&](std::uint32_t number) { entries.Count(number); });
      }
    } catch (const std::exception&) {
      file.verdict = FileVerdict::kNotChecked;  // out of memory, say
      file.reason = FileReason::kUnreadable;
    }
  }

  // Where the restored file of a container of `type` goes, when the destination checks let it
  // be written there; empty otherwise, the reason noted.
  std::string ResultFor(std::size_t i, ContainerType type) {
    if (restoring_->nameTaken[i]) {
      outcomes_[i].reason = ExtractReason::kNameTaken;
      return {};
    }
    // A file enciphered under another key is only checked: restored, it would be noise. Its
    // verdict says why.
    if (key_) {
      const std::optional<bool> deciphers =
          KeyDeciphersNameOf(listed_[i].path, *key_, listed_[i].reader);
      if (deciphers && !*deciphers) {
        outcomes_[i].reason = ExtractReason::kNotRestored;
        return {};
      }
    }
    DestinationRules rules;
    rules.direction = Direction::kDecapsulate;
    if (FactsOf(type).needsKey) rules.keyPath = restoring_->keyPath;
    rules.tableRead = table_.path;
    if (listed_[i].reader->InFile()) rules.imageFile = check_.folder;
    rules.keepExisting = !restoring_->force;
    Destination destination;
    const Refusal refusal =
        CheckDestination(listed_[i].path, restoring_->output, type, rules, destination);
    RestoreOutcome& outcome = outcomes_[i];
    outcome.result = destination.result;
    outcome.reason = ExtractReasonOf(refusal);
    return refusal == Refusal::kNone ? destination.result : std::string();
  }

  // Restores file `i` as velador's decapsulation does and answers the check that judges it:
  // the restore's own, but for Encryption-and-Hash, whose restore compares only drawn units, a
  // second pass in memory that compares every one.
  ContainerCheck RestoreOne(std::size_t i, FileEntries& entries) {
    const ListedFile& listed = listed_[i];
    const Key* key = key_ ? &*key_ : nullptr;
    RestoreOutcome& outcome = outcomes_[i];
    SwitchedVisitor visitor(entries);
    bool asked = false;
    ContainerCheck restored = RestoreContainer(
        listed.path, listed.name, key, table_.path,
        [&](ContainerType type) {
          asked = true;
          std::string result = ResultFor(i, type);
          // Only checked, in memory, it compares every unit itself.
          visitor.on = type != ContainerType::kEncryptionHash || result.empty();
          return result;
        },
        UnitCheck::kEvery, &visitor, read_, listed.linkFree, listed.reader);
    if (!asked) {
      outcome.reason = ExtractReason::kNotRestored;
      return restored;
    }
    if (outcome.reason != ExtractReason::kNone) {
      return restored;  // not written: checked in memory above
    } else if (restored.report.failure == Failure::kWrite) {
      outcome.reason = ExtractReason::kWriteFailure;
      check_.files[i] = CheckedFile{};
      check_.files[i].name = listed.name;
    } else if (restored.report.failure == Failure::kRead) {
      outcome.reason = ExtractReason::kNotRestored;  // cut short: the check's reason says so
      return restored;
    } else {
      outcome.restored = true;
      if (visitor.on) return restored;
    }
    // A restore that failed to write looked up what it looked up for the same file: its first
    // mismatch is the one found again, and the counts start afresh with the file above.
    return CheckContainer(listed.path, listed.name, key, table_.path, UnitCheck::kEvery, &entries,
                          read_, listed.linkFree, listed.reader);
  }

  const std::vector<ListedFile>& listed_;
  const std::optional<Key>& key_;
  const TableFindings& table_;
  EntryCounts& counts_;
  ImageCheck& check_;
  std::vector<layout::Regions> regions_;
  std::atomic<std::size_t> next_{0};
  std::mutex mutex_;
  std::condition_variable finished_;
  std::vector<bool> done_;
  ByteCounter* const read_;
  const std::function<void(const std::string&)>* working_ = nullptr;
  const Restoring* const restoring_;
  std::vector<RestoreOutcome> outcomes_;
};

// The entries no container names, those named more than once, and the files naming those.
void FindOrphansAndShared(const std::vector<ListedFile>& listed,
                          const std::vector<layout::Regions>& regions, const EntryCounts& counts,
                          ByteCounter* read, ImageCheck& check) {
  RangeList orphans, shared;
  for (std::uint64_t number = 1; number <= counts.Entries(); ++number) {
    const unsigned count = counts.Of(static_cast<std::uint32_t>(number));
    if (count == 0) orphans.Add(static_cast<std::uint32_t>(number));
    if (count > 1) shared.Add(static_cast<std::uint32_t>(number));
  }
  TableFindings& table = check.table;
  table.orphans = orphans.Count();
  table.orphanRanges = orphans.Ranges();
  table.shared = shared.Count();
  table.sharedRanges = shared.Ranges();
  if (table.shared == 0) return;
  // Only now is it known which numbers are shared: the trailers are read once more.
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const auto& type = check.files[i].type;
    if (!type || !FactsOf(*type).UsesTable() || regions[i].trailerLength == 0) continue;
    bool names = false;
    ForEachTrailerNumber(listed[i], regions[i], read, [&](std::uint32_t number) {
      names = names || (number != 0 && number <= counts.Entries() && counts.Of(number) > 1);
    });
    if (names) table.sharedBy.push_back(check.files[i].name);
  }
}

// A record beside the table that kept the read lock from being taken: refused, or of a change
// that could not be finished (`where` names it); kNone when the image may be read.
ImageCheckError RecordLeft(const TableReadLock& readLock, std::string& where) {
  where = readLock.RefusedRecord();
  if (!where.empty()) return ImageCheckError::kRefusedRecord;
  where = readLock.UnfinishedRecord();
  if (!where.empty()) return ImageCheckError::kUnfinishedChange;
  return ImageCheckError::kNone;
}

// Where an image is read from: its folder, or the image file that holds it.
struct ImageSource {
  FolderImageReader folder;
  std::unique_ptr<ImageReader> file;

  const ImageReader& Reader() const {
    if (file) return *file;
    return folder;
  }
};

// Opens the image file at `path` when a regular file stands there (a folder needs no opening).
ImageCheckError OpenImageSource(const std::string& path, ImageSource& source, std::string& where) {
  if (!platform::IsRegularFile(path.c_str())) return ImageCheckError::kNone;
  where = path;
  ImageFileProblem problem = ImageFileProblem::kNone;
  source.file = OpenImageFile(path, problem);
  switch (problem) {
    case ImageFileProblem::kUnreadable:
      return ImageCheckError::kUnreadableImageFile;
    case ImageFileProblem::kNoUdf:
      return ImageCheckError::kNoFileSystem;
    case ImageFileProblem::kUnsupported:
      return ImageCheckError::kImageFilesUnsupported;
    case ImageFileProblem::kNone:
      break;
  }
  return ImageCheckError::kNone;
}

// An image in a folder is read as it stands between changes: a change left half made is
// finished first, and none starts until the read is over. An image file changes under no run of
// these tools, and carries no record that could be acted on.
ImageCheckError HoldAgainstChanges(const ImageReader& reader, const std::string& image,
                                   std::optional<TableReadLock>& readLock, std::string& where) {
  if (reader.InFile()) return ImageCheckError::kNone;
  readLock.emplace(TablePathOfImage(image));
  return RecordLeft(*readLock, where);
}

ImageCheckError ListImage(const ImageReader& reader, const std::string& folder, ImageCheck& check,
                          std::vector<ListedFile>& listed, std::string& where) {
  check.folder = folder;
  check.inFile = reader.InFile();
  where = folder;
  if (!reader.InFile() && !platform::Exists(folder.c_str())) return ImageCheckError::kNoFolder;
  const std::string discFolder = DiscFolderOf(folder);
  const std::string tableFolder = JoinPath(folder, kTableFolderName);
  const bool hasDiscFolder = reader.KindOf(discFolder) != ImageEntryKind::kNone;
  // A disc image file is never persistent storage: it holds a disc's file system.
  check.disc =
      hasDiscFolder || reader.InFile() || reader.KindOf(tableFolder) != ImageEntryKind::kNone;
  if (check.disc && !hasDiscFolder) {
    where = discFolder;
    return ImageCheckError::kNoDiscFolder;
  }
  const std::string containers = check.disc ? discFolder : folder;
  auto files = ListFiles(reader, containers, check.disc, check.leftovers);
  if (!files) {
    where = containers;
    return ImageCheckError::kUnreadableFolder;
  }
  listed = std::move(*files);
  for (const ListedFile& file : listed) check.files.emplace_back().name = file.name;
  check.table.inStorage = !check.disc;
  if (check.disc) check.table.path = TablePathOfImage(folder);
  return ImageCheckError::kNone;
}

}  // namespace

int TableFindings::Count(const std::vector<CheckedFile>& files) const {
  int count = 0;
  if (needed && !present && !inStorage) ++count;
  if (present && !lengthMatches) ++count;
  if (orphans > 0) ++count;
  if (shared > 0) ++count;
  const auto any = [&](auto member) {
    return std::any_of(files.begin(), files.end(),
                       [&](const CheckedFile& file) { return file.*member > 0; });
  };
  if (any(&CheckedFile::pastCounterNumbers)) ++count;
  if (any(&CheckedFile::zeroNumbers)) ++count;
  return count;
}

bool ImageCheck::NeedsAttention() const {
  const bool allAccepted = std::all_of(files.begin(), files.end(), [](const CheckedFile& file) {
    return file.verdict == FileVerdict::kAccepted;
  });
  return !allAccepted || table.Count(files) != 0;
}

namespace {

// What the verdicts of `files` tell of the key they were checked with; `checked` gives each
// one's CheckedFile.
template <class Files, class Checked>
KeyVerdict KeyVerdictOf(const Files& files, Checked checked) {
  std::uint64_t wrongKey = 0, macDiffers = 0, fits = 0;
  for (const auto& each : files) {
    const CheckedFile& file = checked(each);
    if (!file.type || !FactsOf(*file.type).needsKey) continue;
    switch (file.reason) {
      case FileReason::kUnreadable:
      case FileReason::kNoKey:
      case FileReason::kFolder:
      case FileReason::kNotRegular:
      case FileReason::kNotContainer:
      case FileReason::kUnknownType:
      case FileReason::kTooShort:
      case FileReason::kNameTooLong:
      case FileReason::kCutShort:
        break;  // stopped before the key was tried
      case FileReason::kWrongKey:
        ++wrongKey;
        break;
      case FileReason::kMacDiffers:
        ++macDiffers;
        break;
      default:
        ++fits;  // accepted, or refused for a cause a wrong key does not explain
    }
  }
  if (fits > 0) return KeyVerdict::kNothingToSay;
  if (wrongKey > 0) return KeyVerdict::kWrong;
  return macDiffers > 0 ? KeyVerdict::kMaybeWrong : KeyVerdict::kNothingToSay;
}

}  // namespace

KeyVerdict ImageCheck::KeyFit() const {
  return KeyVerdictOf(files, [](const CheckedFile& file) -> const CheckedFile& { return file; });
}

KeyVerdict ImageExtract::KeyFit() const {
  return KeyVerdictOf(files,
                      [](const ExtractedFile& file) -> const CheckedFile& { return file.file; });
}

namespace {

ImageCheckError CheckImageNotingWhere(const std::string& folder,
                                      const std::optional<std::string>& keyPath,
                                      const ImageCheckEvents& events, ImageCheck& check,
                                      std::string& where) {
  std::optional<Key> key;
  if (keyPath) {
    key = ReadImageKey(*keyPath);
    where = *keyPath;
    if (!key) return ImageCheckError::kKeyFile;
  }
  ImageSource source;
  if (const ImageCheckError error = OpenImageSource(folder, source, where);
      error != ImageCheckError::kNone) {
    return error;
  }
  const ImageReader& reader = source.Reader();
  std::optional<TableReadLock> readLock;
  if (const ImageCheckError error = HoldAgainstChanges(reader, folder, readLock, where);
      error != ImageCheckError::kNone) {
    return error;
  }
  std::vector<ListedFile> listed;
  if (const ImageCheckError error = ListImage(reader, folder, check, listed, where);
      error != ImageCheckError::kNone) {
    return error;
  }
  if (check.disc) {
    where = check.table.path;
    if (const ImageCheckError error = ReadTable(reader, check.table);
        error != ImageCheckError::kNone) {
      return error;
    }
  }
  if (events.started) {
    std::uint64_t bytes = 0;
    for (const ListedFile& file : listed) bytes += BytesToRead(file, false).toRead;
    events.started(bytes);
  }
  EntryCounts counts(TrackedEntries(check.table));
  FileChecks checks(listed, key, check.table, counts, check, events.read);
  checks.Run(events.working, [&](std::size_t i) {
    if (events.checked) events.checked(check.files[i]);
  });
  check.table.needed = std::any_of(check.files.begin(), check.files.end(), [](const auto& f) {
    return f.type && FactsOf(*f.type).UsesTable();
  });
  FindOrphansAndShared(listed, checks.Regions(), counts, events.read, check);
  return ImageCheckError::kNone;
}

}  // namespace

ImageError<ImageCheckError> CheckImage(const std::string& folder,
                                       const std::optional<std::string>& keyPath,
                                       const ImageCheckEvents& events, ImageCheck& check) {
  std::string where;
  const ImageCheckError code = CheckImageNotingWhere(folder, keyPath, events, check, where);
  return {code, std::move(where)};
}

bool ImageExtract::NeedsAttention() const {
  return !std::all_of(files.begin(), files.end(), [](const ExtractedFile& file) {
    return file.extracted && file.file.verdict == FileVerdict::kAccepted;
  });
}

namespace {

ImageExtractError ExtractErrorOf(ImageCheckError error) {
  switch (error) {
    case ImageCheckError::kKeyFile:
      return ImageExtractError::kKeyFile;
    case ImageCheckError::kNoFolder:
      return ImageExtractError::kNoFolder;
    case ImageCheckError::kUnreadableFolder:
      return ImageExtractError::kUnreadableFolder;
    case ImageCheckError::kNoDiscFolder:
      return ImageExtractError::kNoDiscFolder;
    case ImageCheckError::kUnreadableTable:
      return ImageExtractError::kUnreadableTable;
    case ImageCheckError::kTableTooLarge:
      return ImageExtractError::kTableTooLarge;
    case ImageCheckError::kRefusedRecord:
      return ImageExtractError::kRefusedRecord;
    case ImageCheckError::kUnfinishedChange:
      return ImageExtractError::kUnfinishedChange;
    case ImageCheckError::kUnreadableImageFile:
      return ImageExtractError::kUnreadableImageFile;
    case ImageCheckError::kNoFileSystem:
      return ImageExtractError::kNoFileSystem;
    case ImageCheckError::kImageFilesUnsupported:
      return ImageExtractError::kImageFilesUnsupported;
    case ImageCheckError::kNone:
      break;
  }
  return ImageExtractError::kNone;
}

}  // namespace

namespace {

ImageExtractError ExtractImageNotingWhere(const std::string& image, const std::string& output,
                                          const ExtractOptions& options,
                                          const ImageExtractEvents& events, ImageExtract& extract,
                                          std::string& where) {
  std::optional<Key> key;
  if (options.keyPath) {
    key = ReadImageKey(*options.keyPath);
    where = *options.keyPath;
    if (!key) return ImageExtractError::kKeyFile;
  }
  extract.output = output;
  where = output;
  ImageSource source;
  if (const ImageCheckError error = OpenImageSource(image, source, where);
      error != ImageCheckError::kNone) {
    return ExtractErrorOf(error);
  }
  const ImageReader& reader = source.Reader();
  where = output;
  // Restored files land outside the image: inside, one could take the place of its table, its
  // records or a container still to be read.
  if (!reader.InFile() && FolderIsInside(output, image)) return ImageExtractError::kOutputInImage;
  // Where nothing stands, the output folder is made, with the folders above it, as mkdir -p
  // would; but only once the image was found fit to extract (below).
  const platform::EntryKind outputKind = platform::KindOf(output.c_str());
  if (outputKind != platform::EntryKind::kFolder && outputKind != platform::EntryKind::kNone) {
    return ImageExtractError::kNoOutputFolder;
  }
  ImageCheck check;
  std::optional<TableReadLock> readLock;
  if (const ImageCheckError error = HoldAgainstChanges(reader, image, readLock, where);
      error != ImageCheckError::kNone) {
    return ExtractErrorOf(error);
  }
  std::vector<ListedFile> listed;
  if (const ImageCheckError error = ListImage(reader, image, check, listed, where);
      error != ImageCheckError::kNone) {
    return ExtractErrorOf(error);
  }
  // A key that fits none of the enciphered files would restore nothing but noise from them.
  if (key &&
      KeyFitOfImage(check.disc ? DiscFolderOf(image) : image, *key, &reader) == KeyFit::kFitsNone) {
    where = *options.keyPath;
    return ImageExtractError::kKeyDoesNotFit;
  }
  extract.folder = check.folder;
  extract.inFile = check.inFile;
  extract.disc = check.disc;
  extract.leftovers = check.leftovers;
  if (check.disc) {
    where = check.table.path;
    if (const ImageCheckError error = ReadTable(reader, check.table);
        error != ImageCheckError::kNone) {
      return ExtractErrorOf(error);
    }
  }
  extract.tableCounter = check.table.counter;
  if (events.started) {
    std::uint64_t bytes = 0;
    std::uint64_t fileBytes = 0;
    for (const ListedFile& file : listed) {
      const ReadEstimate estimate = BytesToRead(file, true);
      bytes += estimate.toRead;
      fileBytes += estimate.size;
    }
    events.started(bytes, fileBytes);
  }
  if (outputKind == platform::EntryKind::kNone) {
    std::error_code error;
    std::filesystem::create_directories(output, error);
    if (!platform::IsFolder(output.c_str())) {
      where = output;
      return ImageExtractError::kNoOutputFolder;
    }
    extract.outputMade = true;
  }
  // What runs killed outright left in the output folder goes before this run adds its own.
  RemoveAbandonedTemporariesIn(JoinPath(output, ""));
  const Restoring restoring{output, options.keyPath, options.force, NamesTaken(listed)};
  EntryCounts counts(TrackedEntries(check.table));
  FileChecks checks(listed, key, check.table, counts, check, events.read, &restoring);
  extract.files.resize(listed.size());
  checks.Run(events.working, [&](std::size_t i) {
    ExtractedFile& file = extract.files[i];
    const RestoreOutcome& outcome = checks.Outcomes()[i];
    file.file = check.files[i];
    file.extracted = outcome.restored;
    file.reason = outcome.restored                         ? ExtractReason::kNone
                  : outcome.reason == ExtractReason::kNone ? ExtractReason::kNotRestored
                                                           : outcome.reason;
    file.result = outcome.result;
    if (events.done) events.done(file);
  });
  where.clear();
  return ImageExtractError::kNone;
}

}  // namespace

ImageError<ImageExtractError> ExtractImage(const std::string& image, const std::string& output,
                                           const ExtractOptions& options,
                                           const ImageExtractEvents& events,
                                           ImageExtract& extract) {
  std::string where;
  const ImageExtractError code =
      ExtractImageNotingWhere(image, output, options, events, extract, where);
  return {code, std::move(where)};
}

}  // namespace velador

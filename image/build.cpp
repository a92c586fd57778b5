#include "image/build.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "build_cache.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/encapsulator.h"
#include "image/encapsulation_checks.h"
#include "image/key_file.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "io/fault_injection.h"
#include "io/locked_file.h"
#include "io/progress.h"
#include "platform/platform.h"
#include "side_by_side.h"

namespace velador {

namespace {

// A file of the image once built: kept as it stands, or staged at a temporary path.
struct Planned {
  std::size_t file = 0;  // index in ImageBuild::files
  std::string source;    // the source file's path (add, replace, keep)
  std::optional<OpenedInput> input;
  std::string stagedName;                             // add, replace: its temporary file in ADV_OBJ
  std::vector<DigestTail> tails;                      // add, replace: of its units, in order
  std::uint64_t trailerOffset = 0;                    // hashed types, once the trailer was read
  std::optional<platform::FileStamp> sourceStamp;     // taken before the source was first read
  std::optional<platform::FileStamp> containerStamp;  // keep: when the cache told it unchanged
  Digest entries{};  // of its entries, when its type names any: after the commit, or the cache
  bool entriesKnown = false;  // `entries` known before the commit
  NumberRun numbers;          // keep: the trailer's numbers, when known to make one run
};

// The table's new tail is made in pieces of about this many bytes as the change's record is
// written: neither the old tail nor the new one is ever held whole.
constexpr std::size_t kTailPiece = 64 * 1024;

// A table whose file holds more entries than this (2 GiB of them) is no table a build takes
// on, whatever its counter says: it is refused rather than rewritten.
constexpr std::uint64_t kMostEntries = std::uint64_t{1} << 28;

// The names of the entries of `folder`, sorted byte for byte; none when it cannot be listed.
// `linkFree` as in platform::FolderEntries.
std::optional<std::vector<std::string>> SortedEntries(const std::string& folder, int linkFree) {
  auto names = platform::FolderEntries(folder.c_str(), linkFree);
  if (names) std::sort(names->begin(), names->end());
  return names;
}

// The type the header of the file at `path` names, if it is a container of a known type.
std::optional<ContainerType> TypeOfFile(const std::string& path) {
  const std::optional<OpenedInput> opened = OpenInput(path, platform::kImageFile);
  if (!opened || !opened->header.hasMagic || !opened->header.typeCode) return std::nullopt;
  return TypeOfCode(*opened->header.typeCode);
}

// Whether the container at `container` holds the source file as it is now, and a player would
// accept it: then it is kept as it stands, entries and all.
bool Unchanged(const std::string& source, const std::string& container, const std::string& name,
               ContainerType type, const Key& key, const std::string& table, ByteCounter* read) {
  Encapsulator encapsulator({source, std::string(), table}, name);
  encapsulator.CountReadsIn(read);
  if (!encapsulator.HoldsInput(container, type, key)) return false;
  if (!FactsOf(type).UsesTable()) return true;
  return CheckContainer(container, name, &key, table, UnitCheck::kEvery, nullptr, read,
                        platform::kImageFile)
      .report.PlayerAccepts();
}

// What telling whether a container of `containerBytes` still holds `sourceBytes` of source
// reads, when it does: the source and the container, and a hashed container once more, every
// unit checked.
std::uint64_t BytesToCompare(std::uint64_t sourceBytes, std::uint64_t containerBytes,
                             ContainerType type) {
  return sourceBytes + containerBytes * (FactsOf(type).UsesTable() ? 2 : 1);
}

// The size of the file at `path`; 0 when it cannot be told.
std::uint64_t SizeOf(const std::string& path) {
  std::error_code error;
  const std::uint64_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// The indices of `sizes`, largest first (equal ones in their order): two workers taking the
// largest files first end nearer together than in the order of the names.
std::vector<std::size_t> LargestFirst(const std::vector<std::uint64_t>& sizes) {
  std::vector<std::size_t> order(sizes.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return sizes[a] > sizes[b]; });
  return order;
}

// The run the numbers of `trailer` make, if they make one.
NumberRun RunOf(const std::vector<std::uint8_t>& trailer) {
  const std::size_t count = trailer.size() / layout::kEntryNumberLength;
  if (count == 0 || count > table::kFullCounter) return {};
  const std::uint32_t first = layout::DecodeNumber(trailer.data());
  for (std::size_t i = 1; i < count; ++i) {
    if (layout::DecodeNumber(trailer.data() + 4 * i) != first + i) return {};
  }
  return {first, static_cast<std::uint32_t>(count)};
}

// The checks before an encapsulation, as add makes them: first those of the input itself, then,
// with its type known (`typed`), those of its destination.
AddReason CheckSource(const std::string& path, const std::string& image,
                      const std::optional<std::string>& keyPath, bool keyGiven, bool tableHeld,
                      ContainerType type, std::optional<OpenedInput>& opened, bool& typed) {
  typed = false;
  if (path.size() > kMaxComposedPath) return AddReason::kPathTooLong;
  if (IsReservedName(NameOf(path))) return AddReason::kReservedName;
  opened = OpenInput(path);
  if (!opened) return AddReason::kNotFound;
  if (const Refusal refusal = CheckInputForEncapsulation(*opened); refusal != Refusal::kNone) {
    return AddReasonOf(refusal);
  }
  typed = true;
  if (FactsOf(type).needsKey && !keyGiven) return AddReason::kNoKey;
  DestinationRules rules;
  rules.keyPath = keyPath;
  rules.probeExisting = false;  // see Plan: a file that stays as it is is never probed
  rules.tableHeld = tableHeld;
  Destination destination;
  return AddReasonOf(CheckDestination(path, image, type, rules, destination));
}

class Builder {
 public:
  Builder(const std::string& source, const std::string& image, const BuildOptions& options,
          const ImageBuildEvents& events, ImageBuild& build, std::string& where)
      : source_(source),
        image_(image),
        options_(options),
        events_(events),
        build_(build),
        where_(where),
        discFolder_(JoinPath(DiscFolderOf(image), "")),
        table_(TablePathOfImage(image)) {}

  ~Builder() {
    // A staged file that did not take its place goes.
    for (const Planned& plan : planned_) {
      if (!plan.stagedName.empty())
        (void)platform::RemoveFile((discFolder_ + plan.stagedName).c_str());
    }
  }

  ImageBuildError Run() {
    build_.source = source_;
    build_.image = image_;
    build_.dryRun = options_.dryRun;
    if (const ImageBuildError error = CheckFolders(); error != ImageBuildError::kNone) return error;
    if (options_.keyPath) {
      key_ = ReadImageKey(*options_.keyPath);
      where_ = *options_.keyPath;
      if (!key_) return ImageBuildError::kKeyFile;
    }
    if (!options_.dryRun) {
      // Locked from here to the end; what a stopped run left half done is put right first.
      locked_.emplace(table_);
      where_ = locked_->RefusedRecord();
      if (!where_.empty()) return ImageBuildError::kRefusedRecord;
      where_ = table_;
      if (locked_->Length() < table::kFirstEntryOffset) return ImageBuildError::kUnusableTable;
    }
    // Built under another key than the one its files were made with, an image would be
    // enciphered anew file by file: only when that is what was asked for.
    if (key_ && !options_.changeKey && KeyFitOfImage(discFolder_, *key_) == KeyFit::kFitsNone) {
      where_ = *options_.keyPath;
      return ImageBuildError::kKeyDoesNotFit;
    }
    if (options_.cacheFolder) {
      cachePath_ = BuildCache::PathFor(*options_.cacheFolder, image_);
      cacheTakenAtNs_ = BuildCache::NowNs();
      cache_ = BuildCache::Load(cachePath_, image_, key_.value_or(Key{}));
    }
    if (const ImageBuildError error = Plan(); error != ImageBuildError::kNone) return error;
    if (build_.NeedsAttention() || options_.dryRun) return ImageBuildError::kNone;
    if (const ImageBuildError error = Stage(); error != ImageBuildError::kNone) return error;
    if (const ImageBuildError error = Commit(); error != ImageBuildError::kNone) return error;
    if (options_.cacheFolder) SaveCache();
    return ImageBuildError::kNone;
  }

 private:
  // Takes out of `sources` the names the options leave out, noting them.
  void LeaveOutExcluded(std::vector<std::string>& sources) {
    const auto excluded = [&](const std::string& name) {
      const auto matches = [&](std::string_view pattern) {
        return NameMatchesPattern(pattern, name);
      };
      return (options_.defaultExclude &&
              std::any_of(std::begin(kJunkPatterns), std::end(kJunkPatterns), matches)) ||
             std::any_of(options_.exclude.begin(), options_.exclude.end(), matches);
    };
    for (const std::string& name : sources) {
      if (excluded(name)) build_.excluded.push_back(name);
    }
    sources.erase(std::remove_if(sources.begin(), sources.end(), excluded), sources.end());
  }

  ImageBuildError CheckFolders() {
    where_ = source_;
    if (!platform::IsFolder(source_.c_str())) return ImageBuildError::kNoSource;
    where_ = image_;
    if (!platform::IsFolder(image_.c_str())) return ImageBuildError::kNoFolder;
    where_ = source_;
    if (FolderIsInside(source_, image_)) return ImageBuildError::kSourceInImage;
    where_ = DiscFolderOf(image_);
    if (!platform::IsFolder(where_.c_str())) return ImageBuildError::kNoDiscFolder;
    where_ = table_;
    if (!platform::IsRegularFile(table_.c_str())) return ImageBuildError::kNoTable;
    // A dry run takes no lock, but a table it could not build on is no plan either.
    const UniqueFile table = OpenRegularFile(table_, platform::kImageFile);
    const std::optional<std::uint64_t> length =
        table ? platform::FileSize(table.get()) : std::nullopt;
    if (!length || *length < table::kFirstEntryOffset) return ImageBuildError::kUnusableTable;
    return ImageBuildError::kNone;
  }

  // Sorts every file into add, replace, keep, remove or refused; writes nothing.
  ImageBuildError Plan() {
    where_ = source_;
    auto sources = SortedEntries(source_, 0);
    if (!sources) return ImageBuildError::kUnreadableSource;
    LeaveOutExcluded(*sources);
    // Without a key, every file that needs one would be refused alike: one error says it.
    if (!key_) {
      const auto needsKey = [](const std::string& name) {
        return FactsOf(TypeForName(name, true)).needsKey && !IsReservedName(name);
      };
      const auto first = std::find_if(sources->begin(), sources->end(), needsKey);
      if (first != sources->end()) {
        where_ = JoinPath(source_, *first);
        return ImageBuildError::kKeyNeeded;
      }
    }
    for (const std::string& name : *sources) {
      where_ = JoinPath(source_, name);
      if (!platform::IsRegularFile(where_.c_str())) return ImageBuildError::kSourceSubFolder;
    }
    where_ = DiscFolderOf(image_);
    auto inImage = SortedEntries(where_, platform::kImageFolder);
    if (!inImage) return ImageBuildError::kNoDiscFolder;
    // What killed runs left is no file of the image.
    inImage->erase(std::remove_if(inImage->begin(), inImage->end(),
                                  [](const std::string& name) { return IsReservedName(name); }),
                   inImage->end());
    std::vector<std::string> planned;
    for (const std::string& name : *sources) {
      // Disc file systems and Windows fold letters: two names that fold alike would be one file.
      const auto sameName = [&](const std::string& other) { return SameNameText(other, name); };
      if (std::any_of(planned.begin(), planned.end(), sameName)) {
        BuiltFile& file = build_.files.emplace_back();
        file.name = name;
        file.type = TypeForName(name, true);
        file.reason = AddReason::kDuplicate;
        file.action = BuildAction::kRefused;
        continue;
      }
      planned.push_back(name);
      PlanSource(name, std::binary_search(inImage->begin(), inImage->end(), name));
    }
    // Whether each file already in the image holds its source as it is now: what the cache
    // tells for sure first, then the slow part, two files at a time.
    std::vector<char> unchanged(build_.files.size(), 0);
    if (cache_) TellByCache(unchanged);
    // What the comparing and the encapsulating will read, as far as is known now; a file the
    // cache told counts as compared, at once.
    std::vector<std::uint64_t> sourceBytes(build_.files.size(), 0);
    std::vector<std::uint64_t> toCompare(build_.files.size(), 0);
    std::uint64_t toRead = 0;
    std::uint64_t inSources = 0;
    for (const Planned& plan : planned_) {
      const BuiltFile& file = build_.files[plan.file];
      sourceBytes[plan.file] = plan.input->length;
      const std::uint64_t containerBytes = plan.containerStamp ? plan.containerStamp->size
                                           : file.action == BuildAction::kKeep
                                               ? SizeOf(discFolder_ + file.name)
                                               : 0;
      toCompare[plan.file] = file.action == BuildAction::kKeep
                                 ? BytesToCompare(plan.input->length, containerBytes, *file.type)
                                 : 0;
      toRead += file.action == BuildAction::kKeep ? toCompare[plan.file] : plan.input->length;
      inSources += plan.input->length;
    }
    if (events_.started) events_.started(toRead, inSources);
    if (events_.read != nullptr) {
      for (const Planned& plan : planned_) {
        if (unchanged[plan.file]) events_.read->Add(toCompare[plan.file]);
      }
    }
    std::vector<std::uint64_t> left = toCompare;
    for (std::size_t i = 0; i < left.size(); ++i) left[i] = unchanged[i] ? 0 : left[i];
    const std::vector<std::size_t> order = LargestFirst(left);
    RunSideBySide(
        order.size(),
        [&](std::size_t at) {
          const std::size_t i = order[at];
          const BuiltFile& file = build_.files[i];
          if (file.action != BuildAction::kKeep || unchanged[i]) return;
          if (events_.working) events_.working(file.name, i);
          ByteCounter compared(events_.read);
          try {
            unchanged[i] =
                Unchanged(JoinPath(source_, file.name), discFolder_ + file.name, file.name,
                          *file.type, key_.value_or(Key{}), table_, &compared);
          } catch (const std::exception&) {
            unchanged[i] = 0;  // out of memory, say: encapsulated again
          }
          // A difference ends the comparing early: what it left unread counts as done.
          if (events_.read != nullptr && compared.Bytes() < toCompare[i]) {
            events_.read->Add(toCompare[i] - compared.Bytes());
          }
        },
        [&](std::size_t at) {
          const std::size_t i = order[at];
          BuiltFile& file = build_.files[i];
          if (file.action == BuildAction::kKeep && !unchanged[i]) {
            file.action = BuildAction::kReplace;
            if (events_.moreToRead) events_.moreToRead(sourceBytes[i]);
          }
        });
    // Only a file that is replaced needs to be replaceable: one that stays as it is may be held
    // open by another program meanwhile.
    for (BuiltFile& file : build_.files) {
      if (file.action == BuildAction::kReplace &&
          !ResultCanBeCreated(discFolder_ + file.name, platform::kImageFile)) {
        file.reason = AddReason::kCannotCreate;
        file.action = BuildAction::kRefused;
      }
    }
    for (const std::string& name : *inImage) {
      if (std::binary_search(sources->begin(), sources->end(), name)) continue;
      BuiltFile& file = build_.files.emplace_back();
      file.name = name;
      file.type = TypeOfFile(discFolder_ + name);
      file.action = BuildAction::kRemove;
    }
    return ImageBuildError::kNone;
  }

  void PlanSource(const std::string& name, bool present) {
    const std::string path = JoinPath(source_, name);
    BuiltFile& file = build_.files.emplace_back();
    file.name = name;
    const ContainerType type = TypeForName(name, true);
    Planned plan;
    plan.file = build_.files.size() - 1;
    plan.source = path;
    plan.sourceStamp = platform::StampOf(path.c_str());
    bool typed = false;
    file.reason = CheckSource(path, image_, options_.keyPath, key_.has_value(), locked_.has_value(),
                              type, plan.input, typed);
    if (typed) file.type = type;
    if (file.reason != AddReason::kNone) {
      file.action = BuildAction::kRefused;
      return;
    }
    // Present: kept for now; Plan compares it with its source next.
    file.action = present ? BuildAction::kKeep : BuildAction::kAdd;
    planned_.push_back(std::move(plan));
  }

  // Marks in `unchanged` each file the cache tells holds its source as it is now.
  void TellByCache(std::vector<char>& unchanged) {
    // The table as it stands, opened once: locked, or read as it is on a dry run; not read at
    // all while it stands as it stood when the cache was taken.
    std::optional<InputFile> unlocked;
    try {
      if (!locked_) unlocked.emplace(table_, nullptr, platform::kImageFile);
    } catch (const InputFailure&) {
      // Unreadable: the cache tells nothing, and every file is compared.
    }
    const TableReader read = [&](std::uint64_t offset, std::uint8_t* data, std::size_t count) {
      return locked_ ? locked_->ReadAt(offset, data, count)
                     : unlocked && unlocked->TryReadAt(offset, data, count);
    };
    std::uint8_t counter[4] = {};
    const bool readable = read(table::kCounterOffset, counter, sizeof counter);
    const bool tableUnchanged = cache_->TableUnchanged(platform::StampOf(table_.c_str()));
    for (Planned& plan : planned_) {
      if (build_.files[plan.file].action != BuildAction::kKeep ||
          !UnchangedByCache(plan, readable ? &read : nullptr, layout::DecodeNumber(counter),
                            tableUnchanged)) {
        continue;
      }
      unchanged[plan.file] = 1;
      build_.files[plan.file].toldByCache = true;
    }
  }

  // Whether the cache tells that the container of `plan` holds its source as it is now: both
  // files and the table entries its trailer names are as they were when it last did.
  // `table` reads the table (none: it could not be read), whose counter is `counter`; with
  // `tableUnchanged`, every entry is as it was when the cache was taken.
  bool UnchangedByCache(Planned& plan, const TableReader* table, std::uint32_t counter,
                        bool tableUnchanged) {
    const BuiltFile& file = build_.files[plan.file];
    const CachedFile* cached = cache_->Find(file.name);
    if (cached == nullptr || !plan.sourceStamp || *plan.sourceStamp != cached->source) return false;
    const std::string container = discFolder_ + file.name;
    const std::optional<platform::FileStamp> stamp = platform::StampOf(container.c_str());
    if (!stamp || *stamp != cached->container) return false;
    plan.containerStamp = stamp;
    if (!FactsOf(*file.type).UsesTable()) return cached->entries == Digest{};
    // The container as it was holds the trailer it held: known, it need not be read.
    if (tableUnchanged && cached->numbers.count > 0) {
      plan.numbers = cached->numbers;
      plan.entries = cached->entries;
      plan.entriesKnown = true;
      return true;
    }
    std::vector<std::uint8_t> trailer;
    if (table == nullptr || !ReadTrailer(container, plan, trailer)) return false;
    const std::optional<Digest> entries = DigestOfNamedEntries(*table, counter, trailer);
    plan.entriesKnown = entries && *entries == cached->entries;
    if (!plan.entriesKnown) return false;
    plan.entries = *entries;
    plan.numbers = RunOf(trailer);
    return true;
  }

  // Keeps what this build learned of each file of the image for the next one: a file whose
  // source changed while it was read, or which cannot be stamped, is left out. A file the cache
  // told was not read: what the cache said of it still holds. A cache that would hold what it
  // holds already is not written again.
  void SaveCache() {
    std::map<std::string, CachedFile> files;
    for (const Planned& plan : planned_) {
      const BuiltFile& file = build_.files[plan.file];
      const bool told = file.toldByCache;
      const std::optional<platform::FileStamp> source =
          told ? plan.sourceStamp : platform::StampOf(plan.source.c_str());
      const std::optional<platform::FileStamp> container =
          told ? plan.containerStamp : platform::StampOf((discFolder_ + file.name).c_str());
      if (!plan.sourceStamp || source != plan.sourceStamp || !container) continue;
      CachedFile& cached = files[file.name];
      cached.source = *source;
      cached.container = *container;
      if (!FactsOf(*file.type).UsesTable() || file.firstEntry == 0) continue;
      cached.entries = plan.entries;
      // Every hashed file's numbers run from its first entry to its last once built.
      cached.numbers = {file.firstEntry, file.lastEntry - file.firstEntry + 1};
    }
    const std::optional<platform::FileStamp> table = platform::StampOf(table_.c_str());
    if (cache_ && cache_->Holds(files, table)) return;
    (void)BuildCache::Save(cachePath_, image_, key_.value_or(Key{}), cacheTakenAtNs_, table, files);
  }

  // Encapsulates every file to add or replace beside its place, not yet in it, two at a time;
  // the first file that could not be, in the order of the names, is the error.
  ImageBuildError Stage() {
    std::vector<Failure> failures(planned_.size(), Failure::kNone);
    std::vector<std::uint64_t> sizes(planned_.size(), 0);
    for (std::size_t i = 0; i < planned_.size(); ++i) {
      const bool kept = build_.files[planned_[i].file].action == BuildAction::kKeep;
      sizes[i] = kept ? 0 : planned_[i].input->length;
    }
    const std::vector<std::size_t> order = LargestFirst(sizes);
    RunSideBySide(
        order.size(), [&](std::size_t at) { failures[order[at]] = StageOne(planned_[order[at]]); },
        nullptr);
    for (std::size_t i = 0; i < planned_.size(); ++i) {
      Planned& plan = planned_[i];
      const std::string container = discFolder_ + build_.files[plan.file].name;
      if (build_.files[plan.file].action != BuildAction::kKeep && failures[i] != Failure::kNone) {
        const bool read = failures[i] == Failure::kRead;
        where_ = read ? plan.source : container;
        return read ? ImageBuildError::kUnreadableFile : ImageBuildError::kWriteFailure;
      }
    }
    return ImageBuildError::kNone;
  }

  // On a worker: stages the container of `plan` when it is added or replaced.
  Failure StageOne(Planned& plan) {
    const BuiltFile& file = build_.files[plan.file];
    if (file.action == BuildAction::kKeep) return Failure::kNone;
    if (events_.working) events_.working(file.name, plan.file);
    try {
      Encapsulator encapsulator(
          {plan.source, discFolder_ + file.name, table_, 0, platform::kImageFile}, file.name);
      encapsulator.ReadInputFrom(std::move(plan.input->file));
      encapsulator.CountReadsIn(events_.read);
      encapsulator.StageOnly(plan.tails);
      const OperationReport report =
          encapsulator.Run(*file.type, Direction::kEncapsulate, key_.value_or(Key{}));
      if (!report.Completed()) {
        return report.failure == Failure::kNone ? Failure::kWrite : report.failure;
      }
      plan.stagedName = std::string(NameOf(encapsulator.StagedPath()));
      plan.trailerOffset = layout::RegionsForContent(*file.type, plan.input->length).trailerOffset;
      return Failure::kNone;
    } catch (const std::exception&) {
      return Failure::kWrite;  // out of memory, say
    }
  }

  // Reads the trailer of the container of `plan`, kept, into `trailer`, and notes where it lies.
  bool ReadTrailer(const std::string& container, Planned& plan,
                   std::vector<std::uint8_t>& trailer) {
    try {
      InputFile input(container, nullptr, platform::kImageFile);
      const ContainerType type = *build_.files[plan.file].type;
      const auto regions = layout::LocateRegions(type, input.Size(), plan.input->length);
      if (!regions || regions->trailerLength > layout::kLongestTrailer) return false;
      plan.trailerOffset = regions->trailerOffset;
      trailer.resize(static_cast<std::size_t>(regions->trailerLength));
      input.ReadAt(regions->trailerOffset, trailer.data(), trailer.size());
      return true;
    } catch (const InputFailure&) {
      where_ = container;
      return false;
    }
  }

  // Numbers every entry from 1 in the order of the names, then units; writes the staged files'
  // trailers, and puts everything in place as one change. What it holds per entry is the digest
  // tails of the files staged; the trailers of those kept are read one at a time when the cache
  // did not tell them, and the table's tail is read and made a piece at a time.
  ImageBuildError Commit() {
    LockedHashTable& table = *locked_;
    where_ = table_;
    std::uint8_t counter[4];
    if (table::EntriesHeldIn(table.Length()) > kMostEntries ||
        !table.ReadAt(table::kCounterOffset, counter, sizeof counter)) {
      return ImageBuildError::kUnusableTable;
    }
    build_.counterBefore = layout::DecodeNumber(counter);
    // Entries past the file's end are no entries: a number that names one is refused.
    const auto held = static_cast<std::uint32_t>(table::EntriesHeldIn(table.Length()));
    ImageChanges changes;
    std::uint32_t next = 0;
    bool renumbered = false;
    // Planned files are in the order of the names already.
    for (Planned& plan : planned_) {
      BuiltFile& file = build_.files[plan.file];
      if (!FactsOf(*file.type).UsesTable()) continue;
      const bool kept = file.action == BuildAction::kKeep;
      std::size_t units = plan.tails.size();
      if (kept) {
        if (const ImageBuildError error = LearnKeptTrailer(plan, held, units);
            error != ImageBuildError::kNone) {
          return error;
        }
      }
      if (units >= table::kFullCounter - next) return ImageBuildError::kUnusableTable;
      const bool ownNumbers =
          kept && (units == 0 || (plan.numbers.count == units && plan.numbers.first == next + 1));
      const std::uint32_t first = next + 1;
      next += static_cast<std::uint32_t>(units);
      file.firstEntry = units > 0 ? first : 0;
      file.lastEntry = units > 0 ? next : 0;
      renumbered = renumbered || !ownNumbers;
      if (!kept) DigestStagedEntries(plan);
      if (ownNumbers) continue;
      if (kept) {
        std::vector<std::uint8_t> trailer;
        if (!ReadTrailer(discFolder_ + file.name, plan, trailer)) {
          return ImageBuildError::kUnreadableFile;
        }
        changes.rewrites.push_back({file.name, plan.trailerOffset, NumbersFrom(first, units)});
      } else if (!WriteStagedTrailer(plan, first)) {
        return ImageBuildError::kWriteFailure;
      }
    }
    build_.counterAfter = next;
    // The tail stays as it is when every entry keeps its number and no other is left.
    if (renumbered || next != build_.counterBefore || table.Length() != table::LengthFor(next)) {
      changes.tableTail = NewTail(next, held);
    }
    for (const BuiltFile& file : build_.files) {
      if (file.action == BuildAction::kRemove) changes.removals.push_back(file.name);
    }
    for (const Planned& plan : planned_) {
      if (!plan.stagedName.empty()) {
        changes.renames.push_back({plan.stagedName, build_.files[plan.file].name});
      }
    }
    if (!SyncStaged()) return ImageBuildError::kWriteFailure;
    where_ = table_;
    const LockedHashTable::Change outcome = table.Apply(changes, events_.committed);
    // In place now, gone already, or left to the next run that locks the table: no longer this
    // run's to drop.
    for (Planned& plan : planned_) plan.stagedName.clear();
    if (outcome == LockedHashTable::Change::kLeftToFinish) return ImageBuildError::kLeftToFinish;
    if (outcome != LockedHashTable::Change::kMade) return ImageBuildError::kWriteFailure;
    where_.clear();
    return ImageBuildError::kNone;
  }

  // Reads `count` bytes of the locked table from `offset`.
  TableReader ReadsTable() {
    return [this](std::uint64_t offset, std::uint8_t* data, std::size_t count) {
      return locked_->ReadAt(offset, data, count);
    };
  }

  // Learns what the commit needs of the trailer of the kept file of `plan`: its count of
  // numbers (`units`), the run they make if any, and the digest of the entries they name; the
  // trailer is read only when the cache did not tell all of that. The file was accepted as it
  // stands, so every number must name an entry the table holds (up to `held`).
  ImageBuildError LearnKeptTrailer(Planned& plan, std::uint32_t held, std::size_t& units) {
    if (plan.entriesKnown && plan.numbers.count > 0) {
      units = plan.numbers.count;
      const bool inside = plan.numbers.first > 0 && plan.numbers.count <= held &&
                          plan.numbers.first - 1 <= held - plan.numbers.count;
      return inside ? ImageBuildError::kNone : ImageBuildError::kUnusableTable;
    }
    std::vector<std::uint8_t> trailer;
    if (!ReadTrailer(discFolder_ + build_.files[plan.file].name, plan, trailer)) {
      return ImageBuildError::kUnreadableFile;
    }
    units = trailer.size() / layout::kEntryNumberLength;
    for (std::size_t unit = 0; unit < units; ++unit) {
      const std::uint32_t number = layout::DecodeNumber(trailer.data() + 4 * unit);
      if (number == 0 || number > held) return ImageBuildError::kUnusableTable;
    }
    plan.numbers = RunOf(trailer);
    if (plan.entriesKnown) return ImageBuildError::kNone;
    const std::optional<Digest> digest = DigestOfNamedEntries(ReadsTable(), held, trailer);
    if (!digest) return ImageBuildError::kUnusableTable;
    plan.entries = *digest;
    plan.entriesKnown = true;
    return ImageBuildError::kNone;
  }

  // The digest of the entries of the staged file of `plan`, hashed, for the cache: those of the
  // digest tails it was staged with.
  static void DigestStagedEntries(Planned& plan) {
    std::vector<std::uint8_t> entries;
    entries.reserve(plan.tails.size() * table::kEntryLength);
    for (const DigestTail& tail : plan.tails)
      entries.insert(entries.end(), tail.begin(), tail.end());
    plan.entries = DigestOf(entries.data(), entries.size());
  }

  // Hands to `put` the entries of the table that the kept file of `plan` names, in its order,
  // a bounded run at a time: from its run of numbers if known, else from its trailer, read again.
  bool ForEachKeptEntry(Planned& plan, std::uint32_t held,
                        const std::function<bool(const std::uint8_t*, std::size_t)>& put) {
    if (plan.numbers.count == 0) {
      std::vector<std::uint8_t> trailer;
      return ReadTrailer(discFolder_ + build_.files[plan.file].name, plan, trailer) &&
             ForEachNamedRun(ReadsTable(), held, trailer, put);
    }
    constexpr std::uint32_t kPiece = kTailPiece / table::kEntryLength;
    std::vector<std::uint8_t> entries;
    for (std::uint32_t done = 0; done < plan.numbers.count; done += kPiece) {
      const std::uint32_t count = std::min(kPiece, plan.numbers.count - done);
      entries.resize(count * table::kEntryLength);
      if (!locked_->ReadAt(table::EntryOffset(plan.numbers.first + done), entries.data(),
                           entries.size()) ||
          !put(entries.data(), entries.size())) {
        return false;
      }
    }
    return true;
  }

  // The trailer of `units` numbers counting up from `first`.
  static std::vector<std::uint8_t> Numbers(std::uint32_t first, std::size_t units) {
    std::vector<std::uint8_t> trailer(units * layout::kEntryNumberLength);
    for (std::size_t unit = 0; unit < units; ++unit) {
      layout::EncodeNumber(first + static_cast<std::uint32_t>(unit), trailer.data() + 4 * unit);
    }
    return trailer;
  }

  // The same, made a piece at a time as the record is written.
  static ChangeBytes NumbersFrom(std::uint32_t first, std::size_t units) {
    return {units * layout::kEntryNumberLength, [first, units](const ChangeBytes::Sink& sink) {
              constexpr std::size_t kPiece = kTailPiece / layout::kEntryNumberLength;
              for (std::size_t done = 0; done < units; done += kPiece) {
                const std::vector<std::uint8_t> piece = Numbers(
                    first + static_cast<std::uint32_t>(done), std::min(kPiece, units - done));
                if (!sink(piece.data(), piece.size())) return false;
              }
              return true;
            }};
  }

  // The table from its counter on once built, made as the record is written: `counter`, then
  // the entries of each hashed file in the order of the names, those of a file kept read from
  // the table (numbers up to `held`), those of a staged one from its digest tails.
  ChangeBytes NewTail(std::uint32_t counter, std::uint32_t held) {
    const std::uint64_t length = table::LengthFor(counter) - table::kCounterOffset;
    return {length, [this, counter, held](const ChangeBytes::Sink& sink) {
              std::vector<std::uint8_t> piece(4);
              layout::EncodeNumber(counter, piece.data());
              const auto put = [&](const std::uint8_t* entries, std::size_t count) {
                piece.insert(piece.end(), entries, entries + count);
                if (piece.size() < kTailPiece) return true;
                const bool written = sink(piece.data(), piece.size());
                piece.clear();
                return written;
              };
              for (Planned& plan : planned_) {
                const BuiltFile& file = build_.files[plan.file];
                if (!FactsOf(*file.type).UsesTable()) continue;
                if (file.action == BuildAction::kKeep) {
                  if (!ForEachKeptEntry(plan, held, put)) return false;
                  continue;
                }
                for (const DigestTail& tail : plan.tails) {
                  if (!put(tail.data(), tail.size())) return false;
                }
              }
              return piece.empty() || sink(piece.data(), piece.size());
            }};
  }

  bool WriteStagedTrailer(const Planned& plan, std::uint32_t first) {
    const std::vector<std::uint8_t> trailer = Numbers(first, plan.tails.size());
    const std::string path = discFolder_ + plan.stagedName;
    where_ = path;
    PatchedFile staged(path, platform::kImageFile);
    using fault_injection::Fails;
    using fault_injection::Point;
    return staged.IsOpen() && !Fails(Point::kResultWrite) &&
           staged.WriteAt(plan.trailerOffset, trailer.data(), trailer.size());
  }

  // Every staged file, trailer included, goes on the disk together before the change that puts
  // them in place is sealed.
  bool SyncStaged() {
    std::vector<std::string> paths;
    for (const Planned& plan : planned_) {
      if (!plan.stagedName.empty()) paths.push_back(discFolder_ + plan.stagedName);
    }
    using fault_injection::Fails;
    using fault_injection::Point;
    where_ = discFolder_;
    return paths.empty() ||
           (!Fails(Point::kResultSync) && SyncFilesToDisk(paths, platform::kImageFile));
  }

  const std::string source_;
  const std::string image_;
  const BuildOptions& options_;
  const ImageBuildEvents& events_;
  ImageBuild& build_;
  std::string& where_;
  const std::string discFolder_;
  const std::string table_;
  std::optional<Key> key_;
  std::optional<LockedHashTable> locked_;
  std::vector<Planned> planned_;
  std::optional<BuildCache> cache_;
  std::string cachePath_;
  std::int64_t cacheTakenAtNs_ = 0;
};

}  // namespace

bool ImageBuild::NeedsAttention() const {
  return std::any_of(files.begin(), files.end(),
                     [](const BuiltFile& file) { return file.action == BuildAction::kRefused; });
}

ImageError<ImageBuildError> BuildImage(const std::string& source, const std::string& image,
                                       const BuildOptions& options, const ImageBuildEvents& events,
                                       ImageBuild& build) {
  std::string where;
  const ImageBuildError code = Builder(source, image, options, events, build, where).Run();
  return {code, std::move(where)};
}

}  // namespace velador

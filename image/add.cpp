#include "image/add.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

#include "encapsulation/container_layout.h"
#include "encapsulation/encapsulator.h"
#include "finishing_queue.h"
#include "image/encapsulation_checks.h"
#include "image/key_file.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// A file of the batch as the checks before any work found it.
struct PlannedFile {
  std::string name;
  ContainerType type = ContainerType::kNonProtected;
  std::uint64_t size = 0;
};

// The paths of the batch and its key.
struct Batch {
  std::string image;
  std::string table;
  AddOptions options;
  std::optional<Key> key;
};

// What the input itself allows, as velador checks it: a path a run can take, a regular file, no
// container yet, not too large.
AddReason CheckInput(const std::string& input, std::optional<OpenedInput>& opened) {
  if (input.size() > kMaxComposedPath) return AddReason::kPathTooLong;
  opened = OpenInput(input);
  if (!opened) return AddReason::kNotFound;
  return AddReasonOf(CheckInputForEncapsulation(*opened));
}

// The checks velador makes before it writes anything, in its order, with the batch's own: its
// key is read once for every file, and an existing file is kept unless replacing was asked for.
AddReason Plan(const std::string& input, const Batch& batch, PlannedFile& plan, AddedFile& file) {
  std::optional<OpenedInput> opened;
  if (const AddReason reason = CheckInput(input, opened); reason != AddReason::kNone) {
    return reason;
  }
  if (IsReservedName(NameOf(input))) return AddReason::kReservedName;
  plan.size = opened->length;
  plan.type = TypeForName(input, true);
  file.type = plan.type;
  if (FactsOf(plan.type).needsKey && !batch.key) return AddReason::kNoKey;
  DestinationRules rules;
  rules.keyPath = batch.options.keyPath;
  rules.keepExisting = !batch.options.replace;
  Destination destination;
  const Refusal refusal = CheckDestination(input, batch.image, plan.type, rules, destination);
  plan.name = destination.name;
  file.result = destination.result;
  return AddReasonOf(refusal);
}

// The distinct entry numbers, 0 aside, that the container at `path` names; 0 for a file that is
// no hashed container.
std::uint64_t EntriesNamedBy(const std::string& path) {
  try {
    InputFile file(path, nullptr, platform::kImageFile);
    const layout::HeaderFields fields = ReadHeader(file);
    if (!fields.hasMagic || !fields.typeCode) return 0;
    const std::optional<ContainerType> type = TypeOfCode(*fields.typeCode);
    if (!type || !FactsOf(*type).UsesTable()) return 0;
    const auto regions = layout::LocateRegions(*type, file.Size(), fields.contentSize);
    if (!regions || regions->trailerLength > layout::kLongestTrailer) return 0;
    std::vector<std::uint8_t> trailer(static_cast<std::size_t>(regions->trailerLength));
    file.ReadAt(regions->trailerOffset, trailer.data(), trailer.size());
    std::vector<std::uint32_t> numbers;
    for (std::size_t i = 0; i + layout::kEntryNumberLength <= trailer.size();
         i += layout::kEntryNumberLength) {
      const std::uint32_t number = layout::DecodeNumber(trailer.data() + i);
      if (number != 0) numbers.push_back(number);
    }
    std::sort(numbers.begin(), numbers.end());
    return static_cast<std::uint64_t>(std::unique(numbers.begin(), numbers.end()) -
                                      numbers.begin());
  } catch (const InputFailure&) {
    return 0;
  }
}

class TurnInQueue : public FinishingTurn {
 public:
  TurnInQueue(FinishingQueue& queue, std::size_t index) : queue_(queue), index_(index) {}
  void Run(const std::function<void()>& step) override { queue_.RunInTurn(index_, step); }

 private:
  FinishingQueue& queue_;
  const std::size_t index_;
};

// A file that did not get every entry fails with its table event, which says why.
AddReason ReasonOf(const OperationReport& report) {
  for (TableEvent event : report.tableEvents) {
    return event == TableEvent::kFull ? AddReason::kTableFull : AddReason::kTableNotUpdated;
  }
  if (report.failure == Failure::kRead) return AddReason::kReadFailure;
  if (report.failure == Failure::kWrite) return AddReason::kWriteFailure;
  return AddReason::kNone;
}

// Encapsulates the planned files two at a time; the completing steps run on the calling thread.
class BatchRun {
 public:
  BatchRun(const Batch& batch, const std::vector<PlannedFile>& plans, LockedHashTable* table,
           ImageAdd& add, ByteCounter* read)
      : batch_(batch),
        plans_(plans),
        table_(table),
        add_(add),
        read_(read),
        queue_(plans.size(), table) {}

  void Run(const std::function<void(const std::string&)>& working,
           const std::function<void(const AddedFile&)>& settled,
           const std::function<void(const AddedFile&)>& done) {
    working_ = &working;
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) workers.emplace_back([this] { Work(); });
    queue_.Serve(
        [&](std::size_t index) {
          if (settled) settled(add_.files[index]);
        },
        [&](std::size_t index) {
          if (done) done(add_.files[index]);
        });
    for (std::thread& worker : workers) worker.join();
  }

 private:
  void Work() {
    // Interrupts go to the serving thread, which holds them while a table changes.
    platform::KeepInterruptsOffThisThread();
    for (std::size_t i = next_++; i < plans_.size(); i = next_++) {
      AddedFile& file = add_.files[i];
      if (file.reason == AddReason::kNone) {
        if (*working_) (*working_)(file.input);
        Encapsulate(i, file);
      }
      queue_.Done(i);
    }
  }

  // Opens the input once more and checks it again: the operation reads the very file these
  // checks read, whatever the path names by now (an earlier file of the batch may have been
  // put in its place).
  void Encapsulate(std::size_t index, AddedFile& file) {
    const PlannedFile& plan = plans_[index];
    try {
      std::optional<OpenedInput> opened;
      file.reason = CheckInput(file.input, opened);
      if (file.reason != AddReason::kNone) return;
      const bool replacing = platform::Exists(file.result.c_str());
      const std::uint64_t named = replacing ? EntriesNamedBy(file.result) : 0;
      Encapsulator encapsulator({file.input, file.result, batch_.table, 0, platform::kImageFile},
                                plan.name);
      encapsulator.ReadInputFrom(std::move(opened->file));
      encapsulator.RequireEveryEntry();
      TurnInQueue turn(queue_, index);
      encapsulator.AddEntriesThrough(table_ != nullptr ? EntriesOf(*table_)
                                                       : EntriesOfTableAt(batch_.table));
      encapsulator.JoinBatch(turn);
      encapsulator.CountReadsIn(read_);
      const OperationReport report =
          encapsulator.Run(plan.type, Direction::kEncapsulate, batch_.key.value_or(Key{}));
      file.reason = ReasonOf(report);
      file.added = report.Completed();
      file.replaced = file.added && replacing;
      if (file.replaced) file.entriesLeftUnused = named;
    } catch (const std::exception&) {
      file.reason = AddReason::kWriteFailure;  // out of memory, say
    }
    const auto [first, last] = queue_.EntriesOf(index);
    if (file.added && last >= first) {
      file.firstEntry = first;
      file.lastEntry = last;
    }
  }

  const Batch& batch_;
  const std::vector<PlannedFile>& plans_;
  LockedHashTable* const table_;
  ImageAdd& add_;
  ByteCounter* const read_;
  const std::function<void(const std::string&)>* working_ = nullptr;
  FinishingQueue queue_;
  std::atomic<std::size_t> next_{0};
};

// The checks that concern the whole batch.
ImageAddError CheckImage(const Batch& batch, std::string& where) {
  const std::string discFolder = DiscFolderOf(batch.image);
  where = discFolder;
  if (!platform::FolderEntries(discFolder.c_str(), platform::kImageFolder)) {
    return ImageAddError::kNoDiscFolder;
  }
  if (!ProbeTemporaryFile(JoinPath(discFolder, ""))) return ImageAddError::kNotWritable;
  return ImageAddError::kNone;
}

// Plans every file; the later of two files with one name is refused.
std::vector<PlannedFile> PlanFiles(const Batch& batch, const std::vector<std::string>& files,
                                   ImageAdd& add) {
  std::vector<PlannedFile> plans(files.size());
  std::vector<std::string> names;
  for (std::size_t i = 0; i < files.size(); ++i) {
    AddedFile& file = add.files.emplace_back();
    file.input = files[i];
    file.reason = Plan(files[i], batch, plans[i], file);
    if (file.reason != AddReason::kNone) continue;
    const auto sameName = [&](const std::string& name) {
      return SameNameText(name, plans[i].name);
    };
    if (std::any_of(names.begin(), names.end(), sameName)) {
      file.reason = AddReason::kDuplicate;
    } else {
      names.push_back(plans[i].name);
    }
  }
  return plans;
}

bool NeedsTable(const std::vector<PlannedFile>& plans, const ImageAdd& add) {
  for (std::size_t i = 0; i < plans.size(); ++i) {
    if (add.files[i].reason == AddReason::kNone && FactsOf(plans[i].type).UsesTable()) {
      return true;
    }
  }
  return false;
}

}  // namespace

AddReason AddReasonOf(Refusal refusal) {
  switch (refusal) {
    case Refusal::kNone:
      return AddReason::kNone;
    case Refusal::kInputNotFound:
      return AddReason::kNotFound;
    case Refusal::kAlreadyContainer:
      return AddReason::kAlreadyContainer;
    case Refusal::kTooLarge:
      return AddReason::kTooLarge;
    case Refusal::kNameTooLong:
      return AddReason::kNameTooLong;
    case Refusal::kPathTooLong:
      return AddReason::kPathTooLong;
    case Refusal::kSameFile:
      return AddReason::kSameFile;
    case Refusal::kResultExists:
      return AddReason::kExists;
    case Refusal::kCannotCreate:
      return AddReason::kCannotCreate;
    case Refusal::kNoTable:
      return AddReason::kNoTable;
  }
  return AddReason::kNone;
}

bool ImageAdd::NeedsAttention() const {
  return !std::all_of(files.begin(), files.end(), [](const AddedFile& f) { return f.Complete(); });
}

namespace {

ImageAddError AddToImageNotingWhere(const std::string& image, const AddOptions& options,
                                    const std::vector<std::string>& files,
                                    const ImageAddEvents& events, ImageAdd& add,
                                    std::string& where) {
  Batch batch{image, TablePathOfImage(image), options, std::nullopt};
  if (options.keyPath) {
    batch.key = ReadImageKey(*options.keyPath);
    where = *options.keyPath;
    if (!batch.key) return ImageAddError::kKeyFile;
  }
  if (const ImageAddError error = CheckImage(batch, where); error != ImageAddError::kNone) {
    return error;
  }
  // Files added under another key than the image's would leave it in two keys.
  if (batch.key && KeyFitOfImage(DiscFolderOf(image), *batch.key) == KeyFit::kFitsNone) {
    where = *options.keyPath;
    return ImageAddError::kKeyDoesNotFit;
  }
  const std::vector<PlannedFile> plans = PlanFiles(batch, files, add);
  std::optional<LockedHashTable> table;
  if (NeedsTable(plans, add)) {
    // Locked from here until the last file is in place.
    table.emplace(batch.table);
    where = table->RefusedRecord();
    if (!where.empty()) return ImageAddError::kRefusedRecord;
    where = batch.table;
    if (!table->Usable() || table->Counter() == table::kFullCounter) {
      return ImageAddError::kUnusableTable;
    }
  }
  if (events.started) {
    std::uint64_t bytes = 0;
    for (const PlannedFile& plan : plans) bytes += plan.size;
    events.started(bytes);
  }
  // What runs killed outright left in ADV_OBJ goes before this batch adds its own (with the
  // table locked, that was done already, after what a half-done transaction needed).
  if (!table) RemoveAbandonedTemporariesIn(JoinPath(DiscFolderOf(batch.image), ""));
  BatchRun(batch, plans, table ? &*table : nullptr, add, events.read)
      .Run(events.working, events.settled, events.done);
  return ImageAddError::kNone;
}

}  // namespace

ImageError<ImageAddError> AddToImage(const std::string& image, const AddOptions& options,
                                     const std::vector<std::string>& files,
                                     const ImageAddEvents& events, ImageAdd& add) {
  std::string where;
  const ImageAddError code = AddToImageNotingWhere(image, options, files, events, add, where);
  return {code, std::move(where)};
}

}  // namespace velador

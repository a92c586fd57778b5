#include "app/image_add.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>

#include "app/classify_input.h"
#include "app/image_paths.h"
#include "app/key_file.h"
#include "app/path_buffer.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/content_hash_table.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// A file of the batch as the checks before any work found it.
struct PlannedFile {
  std::string result;
  std::string name;
  ContainerType type = ContainerType::kNonProtected;
  std::uint64_t size = 0;
};

// The paths of the batch and its key.
struct Batch {
  std::string image;
  std::string table;
  std::optional<std::string> keyPath;
  std::optional<Key> key;
};

// Names compared as the systems the tool runs on may: letters A to Z in either case.
std::string FoldedName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldLetter(c);
  return folded;
}

// What the input itself allows: it is there, no container yet, not too large; the same
// checks as velador's, so that a file it refuses is refused here too.
AddReason CheckInput(const std::string& input, PlannedFile& plan) {
  if (input.size() > kMaxPathLength) return AddReason::kPathTooLong;
  const std::optional<InputStart> start = ReadInputStart(input);
  if (!start) return AddReason::kNotFound;
  if (start->header.hasMagic) return AddReason::kAlreadyContainer;
  if (start->length > layout::kMaxContentSize) return AddReason::kTooLarge;
  plan.size = start->length;
  return AddReason::kNone;
}

// Whether a result can stand at `path`: nothing there yet, or a regular file open to writing.
bool ResultPlaceFree(const std::string& path) {
  if (!platform::Exists(path.c_str())) return true;
  if (!platform::IsRegularFile(path.c_str())) return false;
  return UniqueFile(platform::OpenFile(path.c_str(), "r+b")) != nullptr;
}

// What the destination allows: a name and paths within bounds, a result that replaces nothing
// the run reads, and the table a hashed type needs.
AddReason CheckDestination(const std::string& input, const Batch& batch, PlannedFile& plan) {
  const bool usesTable = FactsOf(plan.type).UsesTable();
  const bool needsKey = FactsOf(plan.type).needsKey;
  if (plan.name.size() > layout::kMaxNameLength) return AddReason::kNameTooLong;
  if (plan.result.size() > kMaxPathLength || (usesTable && batch.table.size() > kMaxPathLength)) {
    return AddReason::kPathTooLong;
  }
  const auto same = [&](const std::string& other) {
    return platform::SameFile(other.c_str(), plan.result.c_str());
  };
  if (same(input) || (usesTable && same(batch.table)) || (needsKey && same(*batch.keyPath))) {
    return AddReason::kSameFile;
  }
  if (!ResultPlaceFree(plan.result)) return AddReason::kCannotCreate;
  if (usesTable && !OpenRegularFile(batch.table)) return AddReason::kNoTable;
  return AddReason::kNone;
}

// The checks velador makes before it writes anything, in its order.
AddReason Plan(const std::string& input, const Batch& batch, PlannedFile& plan,
               std::optional<ContainerType>& type) {
  if (const AddReason reason = CheckInput(input, plan); reason != AddReason::kNone) {
    return reason;
  }
  plan.type = TypeForName(input, true);
  type = plan.type;
  if (FactsOf(plan.type).needsKey && !batch.key) return AddReason::kNoKey;
  plan.name = std::string(NameOf(input));
  plan.result = JoinPath(JoinPath(batch.image, kImageDiscFolder), plan.name);
  return CheckDestination(input, batch, plan);
}

// Runs the completing steps of the batch's files on one thread, one at a time, in the order of
// the files: a file's entries get their numbers, go to the table and are kept or put back
// before the next file's step starts, so that a failure of one file never touches another's.
class FinishingQueue {
 public:
  FinishingQueue(std::size_t files, LockedHashTable* table) : slots_(files), table_(table) {}

  // On a worker: hands `step` of file `index` to the serving thread and waits until it ran.
  void RunInTurn(std::size_t index, const std::function<void()>& step) {
    std::unique_lock<std::mutex> lock(mutex_);
    Slot& slot = slots_[index];
    slot.step = &step;
    changed_.notify_all();
    changed_.wait(lock, [&] { return slot.ran; });
    if (slot.thrown) std::rethrow_exception(slot.thrown);
  }

  // On a worker: file `index` is done, whether or not it had a step.
  void Done(std::size_t index) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      slots_[index].done = true;
    }
    changed_.notify_all();
  }

  // The entries the step of file `index` kept: first and last, or none.
  std::pair<std::uint32_t, std::uint32_t> EntriesOf(std::size_t index) {
    std::lock_guard<std::mutex> lock(mutex_);
    return {slots_[index].counterBefore + 1, slots_[index].counterAfter};
  }

  // On the serving thread: runs the steps in order; `served` is called with each index once
  // its file is done.
  void Serve(const std::function<void(std::size_t)>& served) {
    for (std::size_t index = 0; index < slots_.size(); ++index) {
      std::unique_lock<std::mutex> lock(mutex_);
      Slot& slot = slots_[index];
      for (;;) {
        changed_.wait(lock, [&] { return slot.done || (slot.step != nullptr && !slot.ran); });
        if (slot.done) break;
        lock.unlock();
        RunStep(slot);
        lock.lock();
        slot.ran = true;
        changed_.notify_all();
      }
      lock.unlock();
      served(index);
    }
  }

 private:
  struct Slot {
    const std::function<void()>* step = nullptr;
    bool ran = false;
    bool done = false;
    std::exception_ptr thrown;
    std::uint32_t counterBefore = 0;
    std::uint32_t counterAfter = 0;
  };

  // Only the serving thread writes a slot's step results, before it marks the step as run.
  void RunStep(Slot& slot) {
    slot.counterBefore = table_ != nullptr ? table_->Counter() : 0;
    try {
      (*slot.step)();
    } catch (...) {
      slot.thrown = std::current_exception();
    }
    slot.counterAfter = table_ != nullptr ? table_->Counter() : 0;
  }

  std::vector<Slot> slots_;
  LockedHashTable* const table_;
  std::mutex mutex_;
  std::condition_variable changed_;
};

class TurnInQueue : public FinishingTurn {
 public:
  TurnInQueue(FinishingQueue& queue, std::size_t index) : queue_(queue), index_(index) {}
  void Run(const std::function<void()>& step) override { queue_.RunInTurn(index_, step); }

 private:
  FinishingQueue& queue_;
  const std::size_t index_;
};

AddReason ReasonOf(const OperationReport& report) {
  if (report.failure == Failure::kRead) return AddReason::kReadFailure;
  if (report.failure == Failure::kWrite) return AddReason::kWriteFailure;
  for (TableEvent event : report.tableEvents) {
    return event == TableEvent::kFull ? AddReason::kTableFull : AddReason::kTableNotUpdated;
  }
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

  void Run(const std::function<void(const AddedFile&)>& done) {
    std::vector<std::thread> workers;
    for (int i = 0; i < 2; ++i) workers.emplace_back([this] { Work(); });
    queue_.Serve([&](std::size_t index) {
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
      if (file.reason == AddReason::kNone) Encapsulate(i, file);
      queue_.Done(i);
    }
  }

  void Encapsulate(std::size_t index, AddedFile& file) {
    const PlannedFile& plan = plans_[index];
    try {
      Encapsulator encapsulator({file.input, plan.result, batch_.table}, plan.name);
      TurnInQueue turn(queue_, index);
      encapsulator.JoinBatch(table_, turn);
      encapsulator.CountReadsIn(read_);
      const OperationReport report =
          encapsulator.Run(plan.type, Direction::kEncapsulate, batch_.key.value_or(Key{}));
      file.reason = ReasonOf(report);
      file.added = report.Completed();
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
  FinishingQueue queue_;
  std::atomic<std::size_t> next_{0};
};

// The checks that concern the whole batch.
ImageAddError CheckImage(const Batch& batch, std::string& where) {
  const std::string discFolder = JoinPath(batch.image, kImageDiscFolder);
  where = discFolder;
  if (!platform::FolderEntries(discFolder.c_str())) return ImageAddError::kNoDiscFolder;
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
    file.reason = Plan(files[i], batch, plans[i], file.type);
    if (file.reason != AddReason::kNone) continue;
    std::string folded = FoldedName(plans[i].name);
    if (std::find(names.begin(), names.end(), folded) != names.end()) {
      file.reason = AddReason::kDuplicate;
    } else {
      names.push_back(std::move(folded));
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

int ImageAdd::ExitStatus() const {
  return std::all_of(files.begin(), files.end(), [](const AddedFile& f) { return f.Complete(); })
             ? 0
             : 1;
}

ImageAddError AddToImage(const std::string& image, const std::optional<std::string>& keyPath,
                         const std::vector<std::string>& files, const ImageAddEvents& events,
                         ImageAdd& add, std::string& where) {
  Batch batch{image, JoinPath(image, kImageTablePath), keyPath, std::nullopt};
  if (keyPath) {
    batch.key = ReadKeyFile(*keyPath);
    where = *keyPath;
    if (!batch.key) return ImageAddError::kKeyFile;
  }
  if (const ImageAddError error = CheckImage(batch, where); error != ImageAddError::kNone) {
    return error;
  }
  const std::vector<PlannedFile> plans = PlanFiles(batch, files, add);
  std::optional<LockedHashTable> table;
  if (NeedsTable(plans, add)) {
    // Locked from here until the last file is in place.
    table.emplace(batch.table);
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
  BatchRun(batch, plans, table ? &*table : nullptr, add, events.read).Run(events.done);
  return ImageAddError::kNone;
}

}  // namespace velador

#include "io/checked_file.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

#include "io/fault_injection.h"
#include "platform/platform.h"

namespace velador {

UniqueFile OpenRegularFile(const std::string& path, int linkFree) {
  return UniqueFile(platform::OpenFile(path.c_str(), "rb", linkFree));
}

InputFile::InputFile(const std::string& path, ByteCounter* counter, int linkFree)
    : InputFile(OpenRegularFile(path, linkFree), counter) {}

InputFile::InputFile(UniqueFile file, ByteCounter* counter)
    : file_(std::move(file)), counter_(counter) {
  if (!file_) throw InputFailure{};
  auto size = platform::FileSize(file_.get());
  if (!size) throw InputFailure{};
  size_ = *size;
}

InputFile::InputFile(std::unique_ptr<ReadableBytes> bytes, ByteCounter* counter)
    : bytes_(std::move(bytes)), size_(bytes_->Size()), counter_(counter) {}

std::unique_ptr<InputFile> OpenToRead(const FilesToRead* files, const std::string& path,
                                      ByteCounter* counter, int linkFree) {
  if (files != nullptr) return files->Open(path, counter, linkFree);
  return std::make_unique<InputFile>(path, counter, linkFree);
}

void InputFile::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  if (!TryReadAt(offset, data, count)) throw InputFailure{};
}

bool InputFile::TryReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count == 0) return true;
  if (bytes_) {
    if (!bytes_->ReadAt(offset, data, count)) return false;
    if (counter_ != nullptr) counter_->Add(count);
    return true;
  }
  const std::size_t read = platform::ReadAt(file_.get(), offset, data, count);
  if (counter_ != nullptr) counter_->Add(read);
  return read == count;
}

namespace {

std::size_t NameLength(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? path.size() : path.size() - separator - 1;
}

}  // namespace

bool CloseWrittenFile(std::FILE* file) {
  const bool closed = std::fclose(file) == 0;
  return !fault_injection::Fails(fault_injection::Point::kClose) && closed;
}

bool SyncFileToDisk(std::FILE* file, const std::string& path) {
  if (!platform::FlushToDisk(file)) return false;
  fault_injection::OnDisk(path);
  return true;
}

bool SyncFolderToDisk(const std::string& folder) {
  if (!platform::SyncFolder(folder.c_str())) return false;
  fault_injection::OnDisk(folder);
  return true;
}

std::string FolderOf(const std::string& path) {
  std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

namespace {

using fault_injection::Fails;
using fault_injection::Point;

// Creates a file that did not exist (see platform::CreateNewFile); a creation made to fail
// leaves nothing behind.
std::FILE* CreateNewFileAtPoint(const std::string& path, int linkFree) {
  std::FILE* file = platform::CreateNewFile(path.c_str(), linkFree);
  if (file == nullptr || !Fails(Point::kCreate)) return file;
  std::fclose(file);
  platform::RemoveFile(path.c_str(), linkFree);
  return nullptr;
}

// Large enough that the calls cost nothing, small enough that the disk starts early.
constexpr std::uint64_t kWriteBackStep = std::uint64_t{8} << 20;

}  // namespace

namespace {

constexpr std::string_view kTemporaryPrefix = ".velador-";
constexpr std::string_view kTemporarySuffix = ".tmp";

// ".velador-", at least eight hexadecimal digits (more to make the name `length` long), ".tmp".
std::string TemporaryName(std::mt19937& generator, std::size_t length) {
  std::string name(kTemporaryPrefix);
  const std::size_t digits =
      std::max<std::size_t>(8, length > kTemporaryPrefix.size() + kTemporarySuffix.size()
                                   ? length - kTemporaryPrefix.size() - kTemporarySuffix.size()
                                   : 0);
  for (std::size_t i = 0; i < digits; i += 8) {
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(generator()));
    name.append(hex, std::min<std::size_t>(8, digits - i));
  }
  return name += kTemporarySuffix;
}

}  // namespace

std::string FreshTemporaryName() {
  std::random_device random;
  std::mt19937 generator(random());
  return TemporaryName(generator, kTemporaryPrefix.size() + 16 + kTemporarySuffix.size());
}

bool IsTemporaryName(std::string_view name) {
  if (name.size() < kTemporaryPrefix.size() + 8 + kTemporarySuffix.size() ||
      name.substr(0, kTemporaryPrefix.size()) != kTemporaryPrefix ||
      name.substr(name.size() - kTemporarySuffix.size()) != kTemporarySuffix) {
    return false;
  }
  const std::string_view digits = name.substr(
      kTemporaryPrefix.size(), name.size() - kTemporaryPrefix.size() - kTemporarySuffix.size());
  return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

namespace {

TemporaryFile CreateTemporaryFileOfLength(const std::string& folder, std::size_t nameLength,
                                          int linkFree) {
  // Names only need to differ from what stands in the folder; a clash just means another try.
  static std::atomic<unsigned> sequence{0};
  std::mt19937 generator(static_cast<std::uint32_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count() ^
      (std::uint64_t{sequence++} << 20)));
  for (int attempt = 0; attempt < 64; ++attempt) {
    std::string path = folder + TemporaryName(generator, nameLength);
    if (std::FILE* file = CreateNewFileAtPoint(path, linkFree)) return {path, file};
    if (!platform::Exists(path.c_str())) break;  // refused for another reason than the name
  }
  return {};
}

}  // namespace

TemporaryFile CreateTemporaryFile(const std::string& folder, int linkFree) {
  return CreateTemporaryFileOfLength(folder, 0, linkFree);
}

bool ProbeNewFile(const std::string& path) {
  // Nothing is ever made under `path` itself, where a run killed at this instant would leave an
  // empty file in the place of the user's: a file of a name as long is made beside it instead.
  TemporaryFile probe = CreateTemporaryFileOfLength(FolderOf(path), NameLength(path), 0);
  if (probe.file == nullptr) return false;
  std::fclose(probe.file);
  platform::RemoveFile(probe.path.c_str());
  return true;
}

std::size_t RemoveAbandonedTemporaries(const std::string& folder, std::string_view keep) {
  const std::string listed = folder.empty() ? std::string(".") : folder;
  const auto names = platform::FolderEntries(listed.c_str());
  if (!names) return 0;
  std::size_t removed = 0;
  for (const std::string& name : *names) {
    if (!IsTemporaryName(name) || name == keep) continue;
    if (platform::RemoveIfAbandoned((folder + name).c_str())) ++removed;
  }
  return removed;
}

bool ProbeTemporaryFile(const std::string& folder) {
  TemporaryFile probe = CreateTemporaryFile(folder);
  if (probe.file == nullptr) return false;
  std::fclose(probe.file);
  platform::RemoveFile(probe.path.c_str());
  return true;
}

ResultFile::ResultFile(std::string path, int linkFree)
    : path_(std::move(path)), linkFree_(linkFree) {
  TemporaryFile temporary = CreateTemporaryFile(FolderOf(path_), linkFree_);
  if (temporary.file == nullptr) throw OutputFailure{};
  temporaryPath_ = std::move(temporary.path);
  file_ = temporary.file;
}

ResultFile::~ResultFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) platform::RemoveFile(temporaryPath_.c_str(), linkFree_);
}

void ResultFile::Write(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return;
  if (file_ == nullptr || Fails(Point::kResultWrite) ||
      std::fwrite(data, 1, count, file_) != count) {
    throw OutputFailure{};
  }
  size_ += count;
  WriteBackWhenDue();
}

void ResultFile::WriteBackWhenDue() {
  if (size_ - writtenBack_ >= kWriteBackStep) WriteBackNow();
}

void ResultFile::WriteBackNow() {
  if (Fails(Point::kResultWrite) || std::fflush(file_) != 0) throw OutputFailure{};
  platform::StartWriteBack(file_, writtenBack_, size_ - writtenBack_);
  writtenBack_ = size_;
}

void ResultFile::WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t count) {
  if (file_ == nullptr || offset > size_ || count > size_ - offset) throw OutputFailure{};
  bool written = !Fails(Point::kResultWrite) && std::fflush(file_) == 0 &&
                 platform::Seek(file_, offset) && std::fwrite(data, 1, count, file_) == count;
  // Back to the end whatever happened, so that no later write lands in the middle.
  written = std::fflush(file_) == 0 && written;
  if (!platform::Seek(file_, size_) || !written) throw OutputFailure{};
}

void ResultFile::Sync() {
  if (file_ == nullptr || Fails(Point::kResultSync) || std::fflush(file_) != 0 ||
      !SyncFileToDisk(file_, temporaryPath_)) {
    throw OutputFailure{};
  }
}

void ResultFile::Commit() {
  // Renamed while still open: the file stays locked as its maker's until it has its place, so
  // that no other run takes it for one a dead run left behind (see RemoveAbandonedTemporaries).
  std::FILE* file = file_;
  file_ = nullptr;
  bool written = file != nullptr && !Fails(Point::kResultSync) && std::fflush(file) == 0 &&
                 SyncFileToDisk(file, temporaryPath_);
  written = written && !Fails(Point::kResultRename) &&
            platform::MoveIntoPlace(temporaryPath_.c_str(), path_.c_str(), linkFree_);
  committed_ = written;
  // Once renamed, the result stands in place, whole and on the disk since the sync above: a
  // close that reports a failure now (network file systems do) takes nothing back, and must not
  // make the caller undo what the result's place already holds.
  if (file != nullptr) (void)CloseWrittenFile(file);
  if (!written) throw OutputFailure{};
}

std::string ResultFile::Detach() {
  std::FILE* file = file_;
  file_ = nullptr;
  if (file == nullptr || !CloseWrittenFile(file)) throw OutputFailure{};
  committed_ = true;
  return temporaryPath_;
}

void ResultFile::SyncFolder() {
  const std::string folder = FolderOf(path_);
  if (Fails(Point::kFolderSync) || !SyncFolderToDisk(folder)) throw OutputFailure{};
}

void CopyRange(InputFile& input, std::uint64_t offset, std::uint64_t length, ResultFile& result) {
  if (offset > input.size_ || length > input.size_ - offset) throw InputFailure{};
  if (result.file_ == nullptr || std::fflush(result.file_) != 0) throw OutputFailure{};
  // In steps, so that the disk starts on the first ones while the system copies the next.
  std::uint64_t copied = 0;
  do {
    copied = Fails(Point::kSystemCopy) || !input.file_
                 ? 0
                 : platform::CopyInSystem(input.file_.get(), offset, result.file_, result.size_,
                                          std::min(length, kWriteBackStep));
    // Read by the system, not through ReadAt.
    if (input.counter_ != nullptr) input.counter_->Add(copied);
    result.size_ += copied;
    offset += copied;
    length -= copied;
    result.WriteBackWhenDue();
  } while (copied > 0 && length > 0);
  if (!platform::Seek(result.file_, result.size_)) throw OutputFailure{};
  if (length == 0) return;
  // The system copied nothing more: the rest goes through memory, where a failure shows as a
  // failed read or a failed write.
  std::vector<std::uint8_t> buffer(
      static_cast<std::size_t>(std::min<std::uint64_t>(length, kChunkLength)));
  while (length > 0) {
    const std::size_t count =
        static_cast<std::size_t>(std::min<std::uint64_t>(length, buffer.size()));
    input.ReadAt(offset, buffer.data(), count);
    result.Write(buffer.data(), count);
    offset += count;
    length -= count;
  }
}

}  // namespace velador

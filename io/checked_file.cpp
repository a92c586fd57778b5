#include "io/checked_file.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

#include "io/progress.h"
#include "platform/platform.h"

namespace velador {

UniqueFile OpenRegularFile(const std::string& path) {
  if (!platform::IsRegularFile(path.c_str())) return nullptr;
  return UniqueFile(platform::OpenFile(path.c_str(), "rb"));
}

InputFile::InputFile(const std::string& path) : file_(OpenRegularFile(path)) {
  if (!file_) throw InputFailure{};
  auto size = platform::FileSize(file_.get());
  if (!size) throw InputFailure{};
  size_ = *size;
}

void InputFile::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  if (!TryReadAt(offset, data, count)) throw InputFailure{};
}

bool InputFile::TryReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count == 0) return true;
  if (offset != position_) {
    // The position is unknown after a failed seek; force a seek before the next read.
    position_ = UINT64_MAX;
    if (!platform::Seek(file_.get(), offset)) return false;
    position_ = offset;
  }
  std::size_t read = std::fread(data, 1, count, file_.get());
  position_ += read;
  progress::CountInputBytes(read);
  return read == count;
}

std::string FolderOf(const std::string& path) {
  std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

TemporaryFile CreateTemporaryFile(const std::string& folder) {
  // Names only need to differ from what stands in the folder; a clash just means another try.
  static std::atomic<unsigned> sequence{0};
  std::mt19937 generator(static_cast<std::uint32_t>(
      std::chrono::high_resolution_clock::now().time_since_epoch().count() ^
      (std::uint64_t{sequence++} << 20)));
  for (int attempt = 0; attempt < 64; ++attempt) {
    char name[24];
    std::snprintf(name, sizeof name, ".velador-%08x.tmp", static_cast<unsigned>(generator()));
    std::string path = folder + name;
    if (std::FILE* file = platform::CreateNewFile(path.c_str())) return {path, file};
    if (!platform::Exists(path.c_str())) break;  // refused for another reason than the name
  }
  return {};
}

ResultFile::ResultFile(std::string path) : path_(std::move(path)) {
  TemporaryFile temporary = CreateTemporaryFile(FolderOf(path_));
  if (temporary.file == nullptr) throw OutputFailure{};
  temporaryPath_ = std::move(temporary.path);
  file_ = temporary.file;
  platform::RemoveOnInterrupt(temporaryPath_.c_str());
}

ResultFile::~ResultFile() {
  if (file_ != nullptr) std::fclose(file_);
  if (!committed_) platform::RemoveFile(temporaryPath_.c_str());
  platform::RemoveOnInterrupt(nullptr);
}

void ResultFile::Write(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return;
  if (file_ == nullptr || std::fwrite(data, 1, count, file_) != count) throw OutputFailure{};
}

void ResultFile::Sync() {
  if (file_ == nullptr || std::fflush(file_) != 0 || !platform::FlushToDisk(file_)) {
    throw OutputFailure{};
  }
}

void ResultFile::Commit() {
  std::FILE* file = file_;
  file_ = nullptr;
  bool written = file != nullptr && std::fflush(file) == 0 && platform::FlushToDisk(file);
  written = file != nullptr && std::fclose(file) == 0 && written;
  if (!written || !platform::MoveIntoPlace(temporaryPath_.c_str(), path_.c_str())) {
    throw OutputFailure{};
  }
  platform::RemoveOnInterrupt(nullptr);  // the name now belongs to the finished result
  committed_ = true;
}

}  // namespace velador

#include "io/spooled_bytes.h"

#include <algorithm>

#include "io/fault_injection.h"
#include "platform/platform.h"

namespace velador {

SpooledBytes::SpooledBytes(std::string folder, std::size_t memoryBound)
    : folder_(std::move(folder)), memoryBound_(memoryBound) {}

SpooledBytes::~SpooledBytes() {
  if (reader_ != nullptr) std::fclose(reader_);
  if (writer_ != nullptr) std::fclose(writer_);
  if (Spilled()) platform::RemoveFile(spoolPath_.c_str());
}

void SpooledBytes::Append(const std::uint8_t* data, std::size_t count) {
  if (count == 0) return;
  if (!Spilled() && memory_.size() + count > memoryBound_) Spill();
  if (Spilled()) {
    if (fault_injection::Fails(fault_injection::Point::kSpoolWrite) ||
        std::fwrite(data, 1, count, writer_) != count) {
      throw OutputFailure{};
    }
  } else {
    memory_.insert(memory_.end(), data, data + count);
  }
  size_ += count;
}

void SpooledBytes::Spill() {
  TemporaryFile spool = CreateTemporaryFile(folder_);
  if (spool.file == nullptr) throw OutputFailure{};
  spoolPath_ = std::move(spool.path);
  writer_ = spool.file;
  if (fault_injection::Fails(fault_injection::Point::kSpoolWrite) ||
      (!memory_.empty() &&
       std::fwrite(memory_.data(), 1, memory_.size(), writer_) != memory_.size())) {
    throw OutputFailure{};
  }
  std::vector<std::uint8_t>().swap(memory_);
}

void SpooledBytes::ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) {
  if (offset > size_ || count > size_ - offset) throw OutputFailure{};
  if (!Spilled()) {
    std::copy_n(memory_.data() + offset, count, data);
    return;
  }
  if (std::fflush(writer_) != 0) throw OutputFailure{};
  if (reader_ == nullptr) {
    reader_ = platform::OpenFile(spoolPath_.c_str(), "rb");
    if (reader_ == nullptr) throw OutputFailure{};
  }
  if (!platform::Seek(reader_, offset) || std::fread(data, 1, count, reader_) != count) {
    throw OutputFailure{};
  }
}

}  // namespace velador

// Disc image files read through libudfread, the UDF reader made for optical disc images. The
// library keeps state of its own in each volume and each open file, so every call into it is made
// under the volume's one mutex; the image's bytes come through a block input of ours, which
// never reads past the end of what the file holds.
#include <udfread/blockinput.h>
#include <udfread/udfread.h>

#include <algorithm>
#include <limits>
#include <map>
#include <mutex>
#include <string_view>

#include "image/image_reader.h"

namespace velador {

namespace {

constexpr std::uint64_t kBlockLength = UDF_BLOCK_SIZE;

// The image as libudfread reads it: whole blocks, none past the end; a last part-block (a file
// cut short) is not there.
struct BlockInput {
  udfread_block_input functions;  // first: the library hands a pointer to it back
  ReadableBytes* bytes = nullptr;

  std::uint64_t Blocks() const { return bytes->Size() / kBlockLength; }
};

BlockInput& InputOf(udfread_block_input* input) { return *reinterpret_cast<BlockInput*>(input); }

int ReadBlocks(udfread_block_input* input, std::uint32_t lba, void* buffer, std::uint32_t count,
               int) {
  const BlockInput& self = InputOf(input);
  if (lba >= self.Blocks()) return -1;
  const auto blocks = static_cast<std::uint32_t>(std::min<std::uint64_t>(
      {count, self.Blocks() - lba, std::numeric_limits<int>::max() / kBlockLength}));
  if (!self.bytes->ReadAt(lba * kBlockLength, static_cast<std::uint8_t*>(buffer),
                          static_cast<std::size_t>(blocks * kBlockLength))) {
    return -1;
  }
  return static_cast<int>(blocks);
}

std::uint32_t SizeInBlocks(udfread_block_input* input) {
  return static_cast<std::uint32_t>(
      std::min<std::uint64_t>(InputOf(input).Blocks(), std::numeric_limits<std::uint32_t>::max()));
}

// One opened UDF file system and the bytes it is read from.
class Volume {
 public:
  explicit Volume(std::unique_ptr<ReadableBytes> bytes) : bytes_(std::move(bytes)) {
    input_.functions.close = nullptr;
    input_.functions.read = ReadBlocks;
    input_.functions.size = SizeInBlocks;
    input_.bytes = bytes_.get();
  }
  Volume(const Volume&) = delete;
  Volume& operator=(const Volume&) = delete;
  ~Volume() {
    if (udf_ != nullptr) udfread_close(udf_);
  }

  // Whether a UDF file system is found in the bytes.
  bool Open() {
    udf_ = udfread_init();
    return udf_ != nullptr && udfread_open_input(udf_, &input_.functions) >= 0;
  }

  std::mutex& Mutex() { return mutex_; }
  std::uint64_t ImageSize() const { return bytes_->Size(); }
  udfread* Udf() { return udf_; }

 private:
  std::unique_ptr<ReadableBytes> bytes_;
  BlockInput input_;
  udfread* udf_ = nullptr;
  std::mutex mutex_;
};

// An open file of the volume, read from offsets.
class UdfFileBytes final : public ReadableBytes {
 public:
  UdfFileBytes(std::shared_ptr<Volume> volume, UDFFILE* file, std::uint64_t size)
      : volume_(std::move(volume)), file_(file), size_(size) {}
  UdfFileBytes(const UdfFileBytes&) = delete;
  UdfFileBytes& operator=(const UdfFileBytes&) = delete;
  ~UdfFileBytes() override {
    const std::lock_guard<std::mutex> lock(volume_->Mutex());
    udfread_file_close(file_);
  }

  std::uint64_t Size() const override { return size_; }

  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
    const std::lock_guard<std::mutex> lock(volume_->Mutex());
    if (offset > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) ||
        udfread_file_seek(file_, static_cast<std::int64_t>(offset), UDF_SEEK_SET) !=
            static_cast<std::int64_t>(offset)) {
      return false;
    }
    while (count > 0) {
      const ssize_t read = udfread_file_read(file_, data, count);
      if (read <= 0) return false;
      data += read;
      count -= static_cast<std::size_t>(read);
    }
    return true;
  }

 private:
  std::shared_ptr<Volume> volume_;
  UDFFILE* file_;
  const std::uint64_t size_;
};

// Closes a directory stream when it goes.
struct DirectoryCloser {
  void operator()(UDFDIR* directory) const { udfread_closedir(directory); }
};
using UniqueDirectory = std::unique_ptr<UDFDIR, DirectoryCloser>;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// A path inside the image split at its first separator: the folder below the root ("" for the
// root itself) and the name in it.
struct InnerPath {
  std::string folder;
  std::string name;
};

class UdfImageReader final : public ImageReader {
 public:
  UdfImageReader(std::string root, std::shared_ptr<Volume> volume)
      : root_(std::move(root)), volume_(std::move(volume)) {}

  bool InFile() const override { return true; }

  ImageEntryKind KindOf(const std::string& path) const override {
    const std::optional<InnerPath> inner = Inside(path);
    if (!inner) return ImageEntryKind::kNone;
    const std::lock_guard<std::mutex> lock(volume_->Mutex());
    return KindOf(*inner);
  }

  std::optional<std::vector<std::string>> Entries(const std::string& path, int) const override {
    const std::optional<InnerPath> inner = Inside(path);
    if (!inner || !inner->folder.empty()) return std::nullopt;
    const std::lock_guard<std::mutex> lock(volume_->Mutex());
    const std::map<std::string, ImageEntryKind>* kinds = KindsIn(inner->name);
    if (kinds == nullptr) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(kinds->size());
    for (const auto& [name, kind] : *kinds) names.push_back(name);
    return names;
  }

  std::unique_ptr<InputFile> Open(const std::string& path, ByteCounter* counter,
                                  int) const override {
    const std::optional<InnerPath> inner = Inside(path);
    if (!inner) throw InputFailure{};
    std::unique_lock<std::mutex> lock(volume_->Mutex());
    if (KindOf(*inner) != ImageEntryKind::kFile) throw InputFailure{};
    const UniqueDirectory folder(OpenFolder(inner->folder));
    UDFFILE* file = folder ? udfread_file_openat(folder.get(), inner->name.c_str()) : nullptr;
    if (file == nullptr) throw InputFailure{};
    // A file of a mastered image is never larger than the image: extents that name the same
    // blocks over and over could otherwise make a small file show gibibytes, and an extract
    // write them all out.
    const std::int64_t size = udfread_file_size(file);
    if (size < 0 || static_cast<std::uint64_t>(size) > volume_->ImageSize()) {
      udfread_file_close(file);
      throw InputFailure{};
    }
    lock.unlock();  // the file's bytes take the lock again when they are read or closed
    return std::make_unique<InputFile>(
        std::make_unique<UdfFileBytes>(volume_, file, static_cast<std::uint64_t>(size)), counter);
  }

 private:
  // `path` below the root: none when it lies elsewhere, or deeper than a folder of the root
  // (which the image's files never are) or names a part with a separator in it.
  std::optional<InnerPath> Inside(const std::string& path) const {
    if (path.compare(0, root_.size(), root_) != 0) return std::nullopt;
    std::size_t at = root_.size();
    if (at < path.size() && !IsSeparator(path[at]) && !(at > 0 && IsSeparator(path[at - 1]))) {
      return std::nullopt;
    }
    while (at < path.size() && IsSeparator(path[at])) ++at;
    const std::string rest = path.substr(at);
    const std::size_t separator = rest.find_first_of("/\\");
    if (separator == std::string::npos) return InnerPath{"", rest};
    InnerPath inner{rest.substr(0, separator), rest.substr(separator + 1)};
    if (inner.name.find_first_of("/\\") != std::string::npos) return std::nullopt;
    return inner;
  }

  // Under the mutex: what stands at `inner`.
  ImageEntryKind KindOf(const InnerPath& inner) const {
    if (inner.name.empty()) return ImageEntryKind::kFolder;  // the root
    const std::map<std::string, ImageEntryKind>* kinds = KindsIn(inner.folder);
    if (kinds == nullptr) return ImageEntryKind::kNone;
    const auto found = kinds->find(inner.name);
    return found == kinds->end() ? ImageEntryKind::kNone : found->second;
  }

  // Under the mutex: the folder `name` of the root ("" the root itself), opened.
  UDFDIR* OpenFolder(const std::string& name) const {
    return udfread_opendir(volume_->Udf(), ("/" + name).c_str());
  }

  // Under the mutex: the kinds of the entries of folder `name` of the root, read once.
  const std::map<std::string, ImageEntryKind>* KindsIn(const std::string& name) const {
    if (const auto known = folders_.find(name); known != folders_.end()) {
      return known->second ? &*known->second : nullptr;
    }
    std::optional<std::map<std::string, ImageEntryKind>>& kinds = folders_[name];
    const UniqueDirectory folder(OpenFolder(name));
    if (!folder) return nullptr;
    kinds.emplace();
    udfread_dirent entry{};
    while (udfread_readdir(folder.get(), &entry) != nullptr) {
      const std::string entryName = entry.d_name != nullptr ? entry.d_name : "";
      if (entryName.empty() || entryName == "." || entryName == "..") continue;
      const ImageEntryKind kind = entry.d_type == UDF_DT_DIR   ? ImageEntryKind::kFolder
                                  : entry.d_type == UDF_DT_REG ? ImageEntryKind::kFile
                                                               : ImageEntryKind::kOther;
      kinds->emplace(entryName, kind);
    }
    return &*kinds;
  }

  const std::string root_;
  const std::shared_ptr<Volume> volume_;
  mutable std::map<std::string, std::optional<std::map<std::string, ImageEntryKind>>> folders_;
};

// The image file's own bytes, read from offsets.
class FileBytes final : public ReadableBytes {
 public:
  explicit FileBytes(std::unique_ptr<InputFile> file) : file_(std::move(file)) {}
  std::uint64_t Size() const override { return file_->Size(); }
  bool ReadAt(std::uint64_t offset, std::uint8_t* data, std::size_t count) override {
    return file_->TryReadAt(offset, data, count);
  }

 private:
  std::unique_ptr<InputFile> file_;
};

// Whether `bytes` start as a UDF file system: its volume recognition sequence, from byte 32768
// on, names an NSR descriptor, and an anchor volume descriptor pointer stands where a reader looks
// for one (block 256, or the last block, or 256 before it). Looked at before the library is
// given the bytes, so that a file that is plainly no UDF image is refused without a word from it.
bool LooksLikeUdf(ReadableBytes& bytes) {
  constexpr std::uint64_t kFirstDescriptor = 16;
  constexpr std::uint64_t kMostDescriptors = 64;
  std::uint8_t block[kBlockLength];
  bool nsr = false;
  for (std::uint64_t at = kFirstDescriptor; at < kFirstDescriptor + kMostDescriptors && !nsr;
       ++at) {
    if ((at + 1) * kBlockLength > bytes.Size() || !bytes.ReadAt(at * kBlockLength, block, 7)) {
      return false;
    }
    const std::string_view identifier(reinterpret_cast<const char*>(block) + 1, 5);
    nsr = identifier == "NSR02" || identifier == "NSR03";
    const bool known = nsr || identifier == "BEA01" || identifier == "TEA01" ||
                       identifier == "CD001" || identifier == "BOOT2" || identifier == "CDW02";
    if (!known) return false;
  }
  if (!nsr) return false;
  const std::uint64_t blocks = bytes.Size() / kBlockLength;
  for (const std::uint64_t at : {std::uint64_t{256}, blocks - 1, blocks - 257}) {
    if (at >= blocks || !bytes.ReadAt(at * kBlockLength, block, 16)) continue;
    const unsigned tag = block[0] | (block[1] << 8);
    const std::uint64_t location =
        block[12] | (block[13] << 8) | (block[14] << 16) | (std::uint64_t{block[15]} << 24);
    if (tag == 2 && location == at) return true;  // an anchor that knows where it stands
  }
  return false;
}

}  // namespace

bool ReadsImageFiles() { return true; }

std::unique_ptr<ImageReader> OpenImageBytes(const std::string& path,
                                            std::unique_ptr<ReadableBytes> bytes,
                                            ImageFileProblem& problem) {
  if (!LooksLikeUdf(*bytes)) {
    problem = ImageFileProblem::kNoUdf;
    return nullptr;
  }
  auto volume = std::make_shared<Volume>(std::move(bytes));
  if (!volume->Open()) {
    problem = ImageFileProblem::kNoUdf;
    return nullptr;
  }
  problem = ImageFileProblem::kNone;
  return std::make_unique<UdfImageReader>(path, std::move(volume));
}

std::unique_ptr<ImageReader> OpenImageFile(const std::string& path, ImageFileProblem& problem) {
  std::unique_ptr<InputFile> file;
  try {
    file = std::make_unique<InputFile>(path);
  } catch (const InputFailure&) {
    problem = ImageFileProblem::kUnreadable;
    return nullptr;
  }
  return OpenImageBytes(path, std::make_unique<FileBytes>(std::move(file)), problem);
}

}  // namespace velador

#include "build_cache.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>

#include "crypto/sha1_hasher.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/content_hash_table.h"
#include "io/checked_file.h"

namespace velador {

namespace {

constexpr char kMagic[8] = {'V', 'L', 'D', 'R', 'B', 'L', 'D', '2'};
// A cache larger than this is no cache a build wrote: about 230,000 files of the longest names.
constexpr std::uint64_t kLargestCache = std::uint64_t{256} << 20;
constexpr std::size_t kLongestName = 1024;
// Table entries are read for a digest this many at a time.
constexpr std::size_t kEntriesPerRead = 8192;

Digest Sha1Of(const std::string& prefix, const std::uint8_t* data, std::size_t count) {
  Sha1Hasher hasher;
  hasher.Update(reinterpret_cast<const std::uint8_t*>(prefix.data()), prefix.size());
  hasher.Update(data, count);
  hasher.Final();
  Digest digest;
  hasher.GetHash(digest.data());
  return digest;
}

// What names the key in a cache, without the key: a digest no other use of the key makes.
Digest KeyPrint(const Key& key) {
  return Sha1Of("velador build cache key", key.data(), key.size());
}

std::string AbsoluteImage(const std::string& image) {
  std::error_code error;
  std::string path = std::filesystem::absolute(image, error).lexically_normal().generic_string();
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

class Writer {
 public:
  void Bytes(const void* data, std::size_t count) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out_.insert(out_.end(), bytes, bytes + count);
  }
  void Number(std::uint64_t value, int width) {
    for (int i = 0; i < width; ++i) out_.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
  void Stamp(const platform::FileStamp& stamp) {
    Number(stamp.size, 8);
    Number(static_cast<std::uint64_t>(stamp.modifiedNs), 8);
    Number(static_cast<std::uint64_t>(stamp.changedNs), 8);
    Number(stamp.volume, 8);
    Number(stamp.index, 8);
  }
  std::vector<std::uint8_t>& Out() { return out_; }

 private:
  std::vector<std::uint8_t> out_;
};

// Reads fields off the bytes of a cache; once a field runs past the end, every later one reads
// as zero and Failed says so.
class Reader {
 public:
  Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool Bytes(void* out, std::size_t count) {
    if (failed_ || size_ - at_ < count) {
      failed_ = true;
      std::memset(out, 0, count);
      return false;
    }
    std::memcpy(out, data_ + at_, count);
    at_ += count;
    return true;
  }
  std::uint64_t Number(int width) {
    std::uint8_t bytes[8] = {};
    Bytes(bytes, static_cast<std::size_t>(width));
    std::uint64_t value = 0;
    for (int i = width - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
  }
  platform::FileStamp Stamp() {
    platform::FileStamp stamp;
    stamp.size = Number(8);
    stamp.modifiedNs = static_cast<std::int64_t>(Number(8));
    stamp.changedNs = static_cast<std::int64_t>(Number(8));
    stamp.volume = Number(8);
    stamp.index = Number(8);
    return stamp;
  }
  bool Failed() const { return failed_; }
  bool AtEnd() const { return at_ == size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
  bool failed_ = false;
};

bool OlderThan(const platform::FileStamp& stamp, std::int64_t limitNs) {
  return stamp.modifiedNs < limitNs && stamp.changedNs < limitNs;
}

}  // namespace

std::string BuildCache::PathFor(const std::string& folder, const std::string& image) {
  const std::string absolute = AbsoluteImage(image);
  const Digest digest = Sha1Of(
      "velador image ", reinterpret_cast<const std::uint8_t*>(absolute.data()), absolute.size());
  static constexpr char kHex[] = "0123456789abcdef";
  std::string name;
  for (std::uint8_t byte : digest) {
    name += kHex[byte >> 4];
    name += kHex[byte & 15];
  }
  return (std::filesystem::path(folder) / (name + ".build")).string();
}

BuildCache BuildCache::Load(const std::string& path, const std::string& image, const Key& key) {
  BuildCache cache;
  std::vector<std::uint8_t> bytes;
  try {
    InputFile file(path);
    if (file.Size() > kLargestCache || file.Size() < sizeof kMagic + 20) return cache;
    bytes.resize(static_cast<std::size_t>(file.Size()));
    file.ReadAt(0, bytes.data(), bytes.size());
  } catch (const InputFailure&) {
    return cache;
  }
  // Whole and of this image and key, or nothing of it.
  const std::size_t body = bytes.size() - 20;
  const Digest whole = Sha1Of("", bytes.data(), body);
  if (!std::equal(whole.begin(), whole.end(), bytes.begin() + static_cast<std::ptrdiff_t>(body))) {
    return cache;
  }
  Reader reader(bytes.data(), body);
  char magic[sizeof kMagic];
  Digest print;
  reader.Bytes(magic, sizeof magic);
  reader.Bytes(print.data(), print.size());
  std::string imagePath(static_cast<std::size_t>(std::min<std::uint64_t>(reader.Number(4), body)),
                        '\0');
  reader.Bytes(imagePath.data(), imagePath.size());
  const auto takenAtNs = static_cast<std::int64_t>(reader.Number(8));
  std::optional<platform::FileStamp> table;
  if (reader.Number(1) == 1) table = reader.Stamp();
  const std::uint64_t count = reader.Number(4);
  if (reader.Failed() || std::memcmp(magic, kMagic, sizeof kMagic) != 0 || print != KeyPrint(key) ||
      imagePath != AbsoluteImage(image)) {
    return cache;
  }
  std::map<std::string, CachedFile> files;
  for (std::uint64_t i = 0; i < count && !reader.Failed(); ++i) {
    const std::uint64_t nameLength = reader.Number(2);
    if (nameLength == 0 || nameLength > kLongestName) return cache;
    std::string name(static_cast<std::size_t>(nameLength), '\0');
    reader.Bytes(name.data(), name.size());
    CachedFile& file = files[name];
    file.source = reader.Stamp();
    file.container = reader.Stamp();
    reader.Bytes(file.entries.data(), file.entries.size());
    file.numbers.first = static_cast<std::uint32_t>(reader.Number(4));
    file.numbers.count = static_cast<std::uint32_t>(reader.Number(4));
  }
  if (reader.Failed() || !reader.AtEnd() || files.size() != count) return cache;
  cache.takenAtNs_ = takenAtNs;
  cache.table_ = table;
  cache.files_ = std::move(files);
  return cache;
}

const CachedFile* BuildCache::Find(const std::string& name) const {
  const auto found = files_.find(name);
  if (found == files_.end()) return nullptr;
  const std::int64_t limit = takenAtNs_ - kRacyWindowNs;
  const CachedFile& file = found->second;
  return OlderThan(file.source, limit) && OlderThan(file.container, limit) ? &file : nullptr;
}

bool BuildCache::TableUnchanged(const std::optional<platform::FileStamp>& table) const {
  return table && table_ && *table == *table_ && OlderThan(*table, takenAtNs_ - kRacyWindowNs);
}

bool BuildCache::Holds(const std::map<std::string, CachedFile>& files,
                       const std::optional<platform::FileStamp>& table) const {
  const auto trusted = [&](const auto& named) { return Find(named.first) != nullptr; };
  return table == table_ && files == files_ && (!table || TableUnchanged(table)) &&
         std::all_of(files.begin(), files.end(), trusted);
}

bool BuildCache::Save(const std::string& path, const std::string& image, const Key& key,
                      std::int64_t takenAtNs, const std::optional<platform::FileStamp>& table,
                      const std::map<std::string, CachedFile>& files) {
  Writer writer;
  writer.Bytes(kMagic, sizeof kMagic);
  writer.Bytes(KeyPrint(key).data(), 20);
  const std::string absolute = AbsoluteImage(image);
  writer.Number(absolute.size(), 4);
  writer.Bytes(absolute.data(), absolute.size());
  writer.Number(static_cast<std::uint64_t>(takenAtNs), 8);
  writer.Number(table ? 1 : 0, 1);
  if (table) writer.Stamp(*table);
  writer.Number(files.size(), 4);
  for (const auto& [name, file] : files) {
    if (name.empty() || name.size() > kLongestName) return false;
    writer.Number(name.size(), 2);
    writer.Bytes(name.data(), name.size());
    writer.Stamp(file.source);
    writer.Stamp(file.container);
    writer.Bytes(file.entries.data(), file.entries.size());
    writer.Number(file.numbers.first, 4);
    writer.Number(file.numbers.count, 4);
  }
  std::vector<std::uint8_t>& bytes = writer.Out();
  const Digest whole = Sha1Of("", bytes.data(), bytes.size());
  bytes.insert(bytes.end(), whole.begin(), whole.end());
  if (bytes.size() > kLargestCache) return false;
  try {
    std::error_code error;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), error);
    ResultFile result(path);
    result.Write(bytes.data(), bytes.size());
    result.Commit();
    return true;
  } catch (const OutputFailure&) {
    return false;
  }
}

std::int64_t BuildCache::NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

bool ForEachNamedRun(
    const TableReader& table, std::uint32_t counter, const std::vector<std::uint8_t>& trailer,
    const std::function<bool(const std::uint8_t* entries, std::size_t count)>& entries) {
  std::vector<std::uint8_t> run;
  const std::size_t count = trailer.size() / layout::kEntryNumberLength;
  for (std::size_t i = 0; i < count;) {
    // A run of consecutive numbers, as a build hands them out, is read in one go.
    const std::uint32_t first = layout::DecodeNumber(trailer.data() + 4 * i);
    if (first == 0 || first > counter) return false;
    std::size_t length = 1;
    while (i + length < count && length < kEntriesPerRead &&
           layout::DecodeNumber(trailer.data() + 4 * (i + length)) == first + length) {
      ++length;
    }
    if (first + (length - 1) > counter) return false;
    run.resize(length * table::kEntryLength);
    if (!table(table::EntryOffset(first), run.data(), run.size()) ||
        !entries(run.data(), run.size())) {
      return false;
    }
    i += length;
  }
  return true;
}

std::optional<Digest> DigestOfNamedEntries(const TableReader& table, std::uint32_t counter,
                                           const std::vector<std::uint8_t>& trailer) {
  Sha1Hasher hasher;
  const bool read =
      ForEachNamedRun(table, counter, trailer, [&](const std::uint8_t* entries, std::size_t count) {
        hasher.Update(entries, count);
        return true;
      });
  if (!read) return std::nullopt;
  hasher.Final();
  Digest digest;
  hasher.GetHash(digest.data());
  return digest;
}

Digest DigestOf(const std::uint8_t* bytes, std::size_t count) { return Sha1Of("", bytes, count); }

}  // namespace velador

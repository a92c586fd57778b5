#include "table_journal.h"

#include <array>
#include <cstdio>
#include <vector>

#include "crypto/sha1_hasher.h"
#include "encapsulation/container_layout.h"
#include "io/checked_file.h"
#include "io/fault_injection.h"
#include "platform/platform.h"

namespace velador {

namespace {

using fault_injection::Fails;
using fault_injection::Point;

constexpr std::array<std::uint8_t, 8> kMagic = {'V', 'L', 'D', 'R', 'J', 'R', 'N', '1'};
constexpr std::size_t kDigestLength = 20;
constexpr std::size_t kMaxNameLength = 4096;

void Append(std::vector<std::uint8_t>& bytes, std::uint64_t value, int length) {
  for (int shift = 8 * (length - 1); shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::uint64_t Take(const std::uint8_t*& at, int length) {
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) value = value << 8 | *at++;
  return value;
}

std::array<std::uint8_t, kDigestLength> DigestOf(const std::uint8_t* data, std::size_t length) {
  Sha1Hasher hasher;
  hasher.Update(data, length);
  hasher.Final();
  std::array<std::uint8_t, kDigestLength> digest{};
  hasher.GetHash(digest.data());
  return digest;
}

// The seal byte follows the magic; the digest covers everything else, so that sealing is the
// write of that one byte.
constexpr std::size_t kSealOffset = kMagic.size();
constexpr std::uint8_t kSealed = 'S';
constexpr std::uint8_t kOpen = 'O';

std::array<std::uint8_t, kDigestLength> DigestOfRecord(const std::vector<std::uint8_t>& bytes,
                                                       std::size_t body) {
  std::vector<std::uint8_t> covered(bytes.begin(), bytes.begin() + static_cast<long>(body));
  covered[kSealOffset] = 0;
  return DigestOf(covered.data(), covered.size());
}

void AppendName(std::vector<std::uint8_t>& bytes, const std::string& name) {
  Append(bytes, name.size(), 2);
  bytes.insert(bytes.end(), name.begin(), name.end());
}

bool TakeName(const std::uint8_t*& at, const std::uint8_t* end, std::string& name) {
  if (end - at < 2) return false;
  const auto length = static_cast<std::size_t>(Take(at, 2));
  if (static_cast<std::size_t>(end - at) < length) return false;
  name.assign(reinterpret_cast<const char*>(at), length);
  at += length;
  return true;
}

// Magic, seal, length, counter, the two names, then the digest: a record is whole or torn.
std::vector<std::uint8_t> Encode(const TableJournal& journal) {
  std::vector<std::uint8_t> bytes(kMagic.begin(), kMagic.end());
  bytes.push_back(journal.sealed ? kSealed : kOpen);
  Append(bytes, journal.length, 8);
  Append(bytes, journal.counter, 4);
  AppendName(bytes, journal.temporaryName);
  AppendName(bytes, journal.resultName);
  const auto digest = DigestOfRecord(bytes, bytes.size());
  bytes.insert(bytes.end(), digest.begin(), digest.end());
  return bytes;
}

std::optional<TableJournal> Decode(const std::vector<std::uint8_t>& bytes) {
  constexpr std::size_t kFixed = kMagic.size() + 1 + 8 + 4;
  if (bytes.size() < kFixed + kDigestLength ||
      !std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) {
    return std::nullopt;
  }
  const std::size_t body = bytes.size() - kDigestLength;
  if (!std::equal(bytes.begin() + static_cast<long>(body), bytes.end(),
                  DigestOfRecord(bytes, body).begin())) {
    return std::nullopt;
  }
  TableJournal journal;
  journal.sealed = bytes[kSealOffset] == kSealed;
  const std::uint8_t* at = bytes.data() + kSealOffset + 1;
  const std::uint8_t* end = bytes.data() + body;
  journal.length = Take(at, 8);
  journal.counter = static_cast<std::uint32_t>(Take(at, 4));
  if (!TakeName(at, end, journal.temporaryName) || !TakeName(at, end, journal.resultName) ||
      at != end) {
    return std::nullopt;
  }
  return journal;
}

}  // namespace

std::string JournalPathOf(const std::string& tablePath) { return tablePath + ".velador-journal"; }

std::string DiscFolderOfTable(const std::string& tablePath) {
  // The table's folder ("img/AACS/"), then the image's ("img/").
  std::string tableFolder = FolderOf(tablePath);
  if (!tableFolder.empty()) tableFolder.pop_back();
  const std::string_view discFolder = layout::kDiscFolder;  // "/ADV_OBJ/"
  return FolderOf(tableFolder) + std::string(discFolder.substr(1));
}

namespace {

// Writes a whole record and puts it, and its folder's record of it, on the disk.
bool WriteRecord(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  (void)platform::RemoveFile(path.c_str());
  std::FILE* file = platform::CreateNewFile(path.c_str());
  if (file == nullptr) return false;
  // The record must outlive an interrupt: it is what puts the image right after one.
  platform::KeepOnInterrupt(path.c_str());
  bool written = !Fails(Point::kJournalWrite) &&
                 std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                 std::fflush(file) == 0 && !Fails(Point::kJournalWrite) &&
                 SyncFileToDisk(file, path);
  written = std::fclose(file) == 0 && written;
  written = written && SyncFolderToDisk(FolderOf(path));
  if (!written) (void)RemoveJournal(path);
  return written;
}

// The bytes of the record at `path`, up to `limit`; empty when it cannot be read whole.
std::vector<std::uint8_t> ReadRecord(const std::string& path, std::uint64_t limit) {
  std::vector<std::uint8_t> bytes;
  try {
    InputFile file(path);
    if (file.Size() <= limit) {
      bytes.resize(static_cast<std::size_t>(file.Size()));
      file.ReadAt(0, bytes.data(), bytes.size());
    }
  } catch (const InputFailure&) {
    bytes.clear();
  }
  return bytes;
}

}  // namespace

bool WriteJournal(const std::string& path, const TableJournal& journal) {
  if (journal.temporaryName.size() > kMaxNameLength || journal.resultName.size() > kMaxNameLength) {
    return false;
  }
  return WriteRecord(path, Encode(journal));
}

bool SealJournal(const std::string& path, bool sealed) {
  UniqueFile file(platform::OpenFile(path.c_str(), "r+b"));
  const std::uint8_t seal = sealed ? kSealed : kOpen;
  return file && !Fails(Point::kJournalSeal) && platform::Seek(file.get(), kSealOffset) &&
         std::fwrite(&seal, 1, 1, file.get()) == 1 && std::fflush(file.get()) == 0 &&
         SyncFileToDisk(file.get(), path);
}

std::optional<TableJournal> ReadJournal(const std::string& path, bool& torn) {
  torn = false;
  if (!platform::Exists(path.c_str())) return std::nullopt;
  std::optional<TableJournal> journal = Decode(ReadRecord(path, 64 * 1024));
  torn = !journal.has_value();
  return journal;
}

namespace {

constexpr std::array<std::uint8_t, 8> kChangesMagic = {'V', 'L', 'D', 'R', 'C', 'H', 'G', '1'};

void AppendBytes(std::vector<std::uint8_t>& bytes, const std::vector<std::uint8_t>& more) {
  Append(bytes, more.size(), 8);
  bytes.insert(bytes.end(), more.begin(), more.end());
}

bool TakeBytes(const std::uint8_t*& at, const std::uint8_t* end, std::vector<std::uint8_t>& out) {
  if (end - at < 8) return false;
  const std::uint64_t length = Take(at, 8);
  if (static_cast<std::uint64_t>(end - at) < length) return false;
  out.assign(at, at + length);
  at += length;
  return true;
}

}  // namespace

std::string ChangesPathOf(const std::string& tablePath) { return tablePath + ".velador-changes"; }

bool WriteChanges(const std::string& path, const ImageChanges& changes) {
  std::vector<std::uint8_t> bytes(kChangesMagic.begin(), kChangesMagic.end());
  bytes.push_back(kOpen);
  Append(bytes, changes.removals.size(), 8);
  for (const std::string& name : changes.removals) {
    if (name.size() > kMaxNameLength) return false;
    AppendName(bytes, name);
  }
  Append(bytes, changes.rewrites.size(), 8);
  for (const TrailerRewrite& rewrite : changes.rewrites) {
    if (rewrite.name.size() > kMaxNameLength) return false;
    AppendName(bytes, rewrite.name);
    Append(bytes, rewrite.offset, 8);
    AppendBytes(bytes, rewrite.bytes);
  }
  Append(bytes, changes.renames.size(), 8);
  for (const Rename& rename : changes.renames) {
    if (rename.from.size() > kMaxNameLength || rename.to.size() > kMaxNameLength) return false;
    AppendName(bytes, rename.from);
    AppendName(bytes, rename.to);
  }
  AppendBytes(bytes, changes.tableTail);
  const auto digest = DigestOfRecord(bytes, bytes.size());
  bytes.insert(bytes.end(), digest.begin(), digest.end());
  return WriteRecord(path, bytes);
}

std::optional<ImageChanges> ReadChanges(const std::string& path, bool& sealed, bool& torn) {
  sealed = torn = false;
  if (!platform::Exists(path.c_str())) return std::nullopt;
  const std::vector<std::uint8_t> bytes = ReadRecord(path, std::uint64_t{1} << 36);
  torn = true;
  if (bytes.size() < kChangesMagic.size() + 1 + kDigestLength ||
      !std::equal(kChangesMagic.begin(), kChangesMagic.end(), bytes.begin())) {
    return std::nullopt;
  }
  const std::size_t body = bytes.size() - kDigestLength;
  if (!std::equal(bytes.begin() + static_cast<long>(body), bytes.end(),
                  DigestOfRecord(bytes, body).begin())) {
    return std::nullopt;
  }
  ImageChanges changes;
  const std::uint8_t* at = bytes.data() + kSealOffset + 1;
  const std::uint8_t* end = bytes.data() + body;
  if (end - at < 8) return std::nullopt;
  for (std::uint64_t count = Take(at, 8); count > 0; --count) {
    if (!TakeName(at, end, changes.removals.emplace_back())) return std::nullopt;
  }
  if (end - at < 8) return std::nullopt;
  for (std::uint64_t count = Take(at, 8); count > 0; --count) {
    TrailerRewrite& rewrite = changes.rewrites.emplace_back();
    if (!TakeName(at, end, rewrite.name) || end - at < 8) return std::nullopt;
    rewrite.offset = Take(at, 8);
    if (!TakeBytes(at, end, rewrite.bytes)) return std::nullopt;
  }
  if (end - at < 8) return std::nullopt;
  for (std::uint64_t count = Take(at, 8); count > 0; --count) {
    Rename& rename = changes.renames.emplace_back();
    if (!TakeName(at, end, rename.from) || !TakeName(at, end, rename.to)) return std::nullopt;
  }
  if (!TakeBytes(at, end, changes.tableTail) || at != end) return std::nullopt;
  torn = false;
  sealed = bytes[kSealOffset] == kSealed;
  return changes;
}

bool RemoveJournal(const std::string& path) {
  if (!platform::RemoveFile(path.c_str()) && platform::Exists(path.c_str())) return false;
  return SyncFolderToDisk(FolderOf(path));
}

}  // namespace velador

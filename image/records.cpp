#include "records.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <vector>

#include "crypto/sha1_hasher.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/container_types.h"
#include "image/paths.h"
#include "io/checked_file.h"
#include "io/fault_injection.h"
#include "io/locked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

using fault_injection::Fails;
using fault_injection::Point;

constexpr std::array<std::uint8_t, 8> kMagic = {'V', 'L', 'D', 'R', 'J', 'R', 'N', '1'};
// Records of changes as this version writes them; the first version's (no table to put back) are
// still read, so that a change an earlier version left half done is finished after an upgrade.
constexpr std::array<std::uint8_t, 8> kChangesMagic = {'V', 'L', 'D', 'R', 'C', 'H', 'G', '2'};
constexpr std::array<std::uint8_t, 8> kFirstChangesMagic = {'V', 'L', 'D', 'R', 'C', 'H', 'G', '1'};
constexpr std::size_t kDigestLength = 20;
// Longer names are never written: a record holding one was not written by this tool.
constexpr std::size_t kMaxWrittenName = 4096;
// A journal names two files and two numbers: anything longer is no journal.
constexpr std::uint64_t kMaxJournalLength = 64 * 1024;
// Records are read and copied through a buffer of this size, whatever their length.
constexpr std::size_t kStep = 64 * 1024;

// The seal byte follows the magic; the digest covers everything else, so that sealing is the
// write of that one byte.
constexpr std::size_t kSealOffset = kMagic.size();
constexpr std::uint8_t kSealed = 'S';
constexpr std::uint8_t kOpen = 'O';

void Append(std::vector<std::uint8_t>& bytes, std::uint64_t value, int length) {
  for (int shift = 8 * (length - 1); shift >= 0; shift -= 8) {
    bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
}

std::uint64_t Take(const std::uint8_t* at, int length) {
  std::uint64_t value = 0;
  for (int i = 0; i < length; ++i) value = value << 8 | at[i];
  return value;
}

void AppendName(std::vector<std::uint8_t>& bytes, const std::string& name) {
  Append(bytes, name.size(), 2);
  bytes.insert(bytes.end(), name.begin(), name.end());
}

// The digest of the first `body` bytes of `record`, its seal byte taken as 0; none when they
// cannot all be read.
std::optional<std::array<std::uint8_t, kDigestLength>> DigestOf(InputFile& record,
                                                                std::uint64_t body) {
  Sha1Hasher hasher;
  std::vector<std::uint8_t> chunk(kStep);
  for (std::uint64_t at = 0; at < body; at += chunk.size()) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, body - at));
    if (!record.TryReadAt(at, chunk.data(), count)) return std::nullopt;
    if (at <= kSealOffset && kSealOffset < at + count) chunk[kSealOffset - at] = 0;
    hasher.Update(chunk.data(), count);
  }
  hasher.Final();
  std::array<std::uint8_t, kDigestLength> digest{};
  hasher.GetHash(digest.data());
  return digest;
}

std::array<std::uint8_t, kDigestLength> DigestOf(std::vector<std::uint8_t> bytes) {
  bytes[kSealOffset] = 0;
  Sha1Hasher hasher;
  hasher.Update(bytes.data(), bytes.size());
  hasher.Final();
  std::array<std::uint8_t, kDigestLength> digest{};
  hasher.GetHash(digest.data());
  return digest;
}

// Whether the record's last bytes are the digest of the rest.
bool DigestHolds(InputFile& record, std::uint64_t body) {
  std::array<std::uint8_t, kDigestLength> stored{};
  const auto computed = DigestOf(record, body);
  return computed && record.TryReadAt(body, stored.data(), stored.size()) && *computed == stored;
}

// Reads a record field after field, never past the record's body.
class Cursor {
 public:
  Cursor(InputFile& file, std::uint64_t at, std::uint64_t end) : file_(file), at_(at), end_(end) {}

  bool Number(int length, std::uint64_t& value) {
    std::uint8_t bytes[8];
    if (!Read(bytes, static_cast<std::size_t>(length))) return false;
    value = Take(bytes, length);
    return true;
  }

  bool Name(std::string& name) {
    std::uint64_t length = 0;
    if (!Number(2, length) || length > kMaxWrittenName) return false;
    name.resize(static_cast<std::size_t>(length));
    return Read(reinterpret_cast<std::uint8_t*>(name.data()), name.size());
  }

  // A length, then that many bytes, skipped: `offset` says where they lie in the record.
  bool Span(std::uint64_t& offset, std::uint64_t& length) {
    if (!Number(8, length) || length > end_ - at_) return false;
    offset = at_;
    at_ += length;
    return true;
  }

  bool AtEnd() const { return at_ == end_; }

 private:
  bool Read(std::uint8_t* data, std::size_t count) {
    if (count > end_ - at_ || !file_.TryReadAt(at_, data, count)) return false;
    at_ += count;
    return true;
  }

  InputFile& file_;
  std::uint64_t at_;
  const std::uint64_t end_;
};

// What a record of changes holds, handed over field by field in the record's order. A visitor
// answers false to stop the walk; a field it does not look at passes.
struct ChangeVisitor {
  std::function<bool(const std::string& name)> removal = [](const std::string&) { return true; };
  std::function<bool(const std::string& name, std::uint64_t offset, std::uint64_t bytesAt,
                     std::uint64_t length)>
      rewrite =
          [](const std::string&, std::uint64_t, std::uint64_t, std::uint64_t) { return true; };
  std::function<bool(const std::string& from, const std::string& to)> rename =
      [](const std::string&, const std::string&) { return true; };
  std::function<bool(std::uint64_t bytesAt, std::uint64_t length)> tail =
      [](std::uint64_t, std::uint64_t) { return true; };
  std::function<bool(const TableState& before)> tableBefore = [](const TableState&) {
    return true;
  };
};

// Walks the body of a record of changes; false when it does not hold the fields in full and
// nothing else, or a visitor said stop. However large a count, each field read consumes bytes
// of the record, so a walk ends within the record's length.
bool Walk(InputFile& record, std::uint64_t body, bool firstVersion, const ChangeVisitor& visitor) {
  Cursor cursor(record, kSealOffset + 1, body);
  std::string name, other;
  std::uint64_t count = 0;
  if (!firstVersion) {
    std::uint64_t hasBefore = 0, length = 0, counter = 0;
    if (!cursor.Number(1, hasBefore) || hasBefore > 1) return false;
    if (hasBefore == 1 && (!cursor.Number(8, length) || !cursor.Number(4, counter) ||
                           !visitor.tableBefore({length, static_cast<std::uint32_t>(counter)}))) {
      return false;
    }
  }
  if (!cursor.Number(8, count)) return false;
  for (; count > 0; --count) {
    if (!cursor.Name(name) || !visitor.removal(name)) return false;
  }
  if (!cursor.Number(8, count)) return false;
  for (; count > 0; --count) {
    std::uint64_t offset = 0, bytesAt = 0, length = 0;
    if (!cursor.Name(name) || !cursor.Number(8, offset) || !cursor.Span(bytesAt, length) ||
        !visitor.rewrite(name, offset, bytesAt, length)) {
      return false;
    }
  }
  if (!cursor.Number(8, count)) return false;
  for (; count > 0; --count) {
    if (!cursor.Name(name) || !cursor.Name(other) || !visitor.rename(name, other)) return false;
  }
  std::uint64_t tailAt = 0, tailLength = 0;
  return cursor.Span(tailAt, tailLength) && cursor.AtEnd() && visitor.tail(tailAt, tailLength);
}

// The files of an image's ADV_OBJ, summed up: what bounds any change of it.
struct FolderExtent {
  std::uint64_t entries = 0;
  std::uint64_t bytes = 0;  // of its regular files
};

FolderExtent ExtentOf(const std::string& discFolder) {
  FolderExtent extent;
  std::error_code error;
  for (std::filesystem::directory_iterator it(discFolder, error), end; !error && it != end;
       it.increment(error)) {
    ++extent.entries;
    std::error_code sizeError;
    if (it->symlink_status(sizeError).type() != std::filesystem::file_type::regular) continue;
    const std::uintmax_t size = it->file_size(sizeError);
    if (!sizeError) extent.bytes += size;
  }
  return extent;
}

// The longest record a change of an image of `extent` can need: each entry of ADV_OBJ named a
// few times, trailer bytes no more than its files hold, and a table of at most one entry (8
// bytes) for each 4 bytes of them.
std::uint64_t LongestRecordFor(const FolderExtent& extent) {
  return 64 * 1024 + extent.entries * 3 * (2 + kMaxWrittenName / 4 + 16) + extent.bytes * 3;
}

// Whether bytes [offset, offset + length) of the container at `path` lie inside its trailer.
bool InsideTrailer(const std::string& path, std::uint64_t offset, std::uint64_t length) {
  try {
    InputFile container(path, nullptr, platform::kImageFile);
    std::uint8_t header[layout::kHeaderLength] = {};
    if (!container.TryReadAt(0, header, sizeof header)) return false;
    const layout::HeaderFields fields = layout::DecodeHeader(header, sizeof header);
    const std::optional<ContainerType> type =
        fields.hasMagic && fields.typeCode ? TypeOfCode(*fields.typeCode) : std::nullopt;
    if (!type || !FactsOf(*type).UsesTable()) return false;
    const auto regions = layout::LocateRegions(*type, container.Size(), fields.contentSize);
    return regions && offset >= regions->trailerOffset &&
           offset - regions->trailerOffset <= regions->trailerLength &&
           length <= regions->trailerLength - (offset - regions->trailerOffset);
  } catch (const InputFailure&) {
    return false;
  }
}

bool IsPlainTarget(std::string_view name) {
  return IsPlainImageName(name) && !IsTemporaryName(name);
}

platform::EntryKind KindIn(const std::string& discFolder, const std::string& name) {
  return platform::KindOf((discFolder + name).c_str());
}

}  // namespace

std::string JournalPathOf(const std::string& tablePath) { return tablePath + ".velador-journal"; }

std::string ChangesPathOf(const std::string& tablePath) { return tablePath + ".velador-changes"; }

std::string DiscFolderOfTable(const std::string& tablePath) {
  // The table's folder ("img/AACS/"), then the image's ("img/").
  std::string tableFolder = FolderOf(tablePath);
  if (!tableFolder.empty()) tableFolder.pop_back();
  return FolderOf(tableFolder) + std::string(kDiscFolderName) + "/";
}

bool IsPlainImageName(std::string_view name) {
  if (name.empty() || name.size() > layout::kMaxNameLength || name == "." || name == "..") {
    return false;
  }
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F || c == '/' || c == '\\' || c == ':';
  });
}

namespace {

// Writes a whole record and puts it, and its folder's record of it, on the disk.
bool WriteRecord(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  (void)platform::RemoveFile(path.c_str(), platform::kImageFile);
  std::FILE* file = platform::CreateNewFile(path.c_str(), platform::kImageFile);
  if (file == nullptr) return false;
  // The record must outlive an interrupt: it is what puts the image right after one.
  platform::KeepOnInterrupt(path.c_str());
  bool written = !Fails(Point::kJournalWrite) &&
                 std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() &&
                 std::fflush(file) == 0 && !Fails(Point::kJournalWrite) &&
                 SyncFileToDisk(file, path);
  written = CloseWrittenFile(file) && written;
  written = written && SyncFolderToDisk(FolderOf(path));
  if (!written) (void)RemoveRecord(path);
  return written;
}

void Seal(std::vector<std::uint8_t>& bytes) {
  const auto digest = DigestOf(bytes);
  bytes.insert(bytes.end(), digest.begin(), digest.end());
}

// Magic, seal, length, counter, the two names, then the digest: a journal is whole or torn.
std::vector<std::uint8_t> Encode(const TableJournal& journal) {
  std::vector<std::uint8_t> bytes(kMagic.begin(), kMagic.end());
  bytes.push_back(journal.sealed ? kSealed : kOpen);
  Append(bytes, journal.length, 8);
  Append(bytes, journal.counter, 4);
  AppendName(bytes, journal.temporaryName);
  AppendName(bytes, journal.resultName);
  Seal(bytes);
  return bytes;
}

// Whether the journal is one a run of this tool writes: a temporary file of its own becoming a
// plain name, over a table that kept the length rule.
bool JournalIsSound(const TableJournal& journal) {
  return IsTemporaryName(journal.temporaryName) && IsPlainTarget(journal.resultName) &&
         journal.counter != table::kFullCounter &&
         journal.length == table::LengthFor(journal.counter);
}

}  // namespace

bool WriteJournal(const std::string& path, const TableJournal& journal) {
  if (journal.temporaryName.size() > kMaxWrittenName ||
      journal.resultName.size() > kMaxWrittenName) {
    return false;
  }
  return WriteRecord(path, Encode(journal));
}

bool SealRecord(const std::string& path, bool sealed) {
  PatchedFile file(path, platform::kImageFile);
  const std::uint8_t seal = sealed ? kSealed : kOpen;
  return file.IsOpen() && !Fails(Point::kJournalSeal) && file.WriteAt(kSealOffset, &seal, 1) &&
         file.Sync();
}

RecordStatus ReadJournal(const std::string& path, TableJournal& journal) {
  const platform::EntryKind kind = platform::KindOf(path.c_str());
  if (kind == platform::EntryKind::kNone) return RecordStatus::kNone;
  if (kind != platform::EntryKind::kFile) return RecordStatus::kRefused;
  try {
    InputFile file(path, nullptr, platform::kImageFile);
    if (file.Size() > kMaxJournalLength) return RecordStatus::kRefused;
    constexpr std::uint64_t kFixed = kMagic.size() + 1 + 8 + 4;
    std::array<std::uint8_t, kMagic.size()> magic{};
    if (file.Size() < kFixed + kDigestLength || !file.TryReadAt(0, magic.data(), magic.size()) ||
        magic != kMagic) {
      return RecordStatus::kTorn;
    }
    const std::uint64_t body = file.Size() - kDigestLength;
    if (!DigestHolds(file, body)) return RecordStatus::kTorn;
    std::uint8_t seal = 0;
    Cursor cursor(file, kSealOffset + 1, body);
    std::uint64_t length = 0, counter = 0;
    if (!file.TryReadAt(kSealOffset, &seal, 1) || !cursor.Number(8, length) ||
        !cursor.Number(4, counter) || !cursor.Name(journal.temporaryName) ||
        !cursor.Name(journal.resultName) || !cursor.AtEnd() || (seal != kSealed && seal != kOpen)) {
      return RecordStatus::kRefused;
    }
    journal.sealed = seal == kSealed;
    journal.length = length;
    journal.counter = static_cast<std::uint32_t>(counter);
    return JournalIsSound(journal) ? RecordStatus::kValid : RecordStatus::kRefused;
  } catch (const InputFailure&) {
    return RecordStatus::kRefused;
  }
}

bool RemoveRecord(const std::string& path) {
  if (!platform::RemoveFile(path.c_str(), platform::kImageFile) &&
      platform::KindOf(path.c_str()) != platform::EntryKind::kNone) {
    return false;
  }
  return SyncFolderToDisk(FolderOf(path));
}

namespace {

// Writes a record to its file as it is made, hashing what it writes (the seal byte taken as 0),
// so that a record as long as a table's tail is never held in memory, nor twice.
class RecordWriter {
 public:
  explicit RecordWriter(const std::string& path) : path_(path) {
    (void)platform::RemoveFile(path.c_str(), platform::kImageFile);
    file_ = platform::CreateNewFile(path.c_str(), platform::kImageFile);
    // The record must outlive an interrupt: it is what puts the image right after one.
    if (file_ != nullptr) platform::KeepOnInterrupt(path.c_str());
    fine_ = file_ != nullptr && !Fails(Point::kJournalWrite);
  }
  ~RecordWriter() {
    if (file_ != nullptr) std::fclose(file_);
  }
  RecordWriter(const RecordWriter&) = delete;
  RecordWriter& operator=(const RecordWriter&) = delete;

  void Bytes(const std::uint8_t* data, std::size_t count) {
    if (!fine_ || count == 0) return;
    if (written_ <= kSealOffset && kSealOffset < written_ + count) {
      std::vector<std::uint8_t> hashed(data, data + count);
      hashed[kSealOffset - written_] = 0;
      hasher_.Update(hashed.data(), hashed.size());
    } else {
      hasher_.Update(data, count);
    }
    fine_ = std::fwrite(data, 1, count, file_) == count;
    written_ += count;
  }
  void Number(std::uint64_t value, int length) {
    std::vector<std::uint8_t> bytes;
    Append(bytes, value, length);
    Bytes(bytes.data(), bytes.size());
  }
  void Name(const std::string& name) {
    Number(name.size(), 2);
    Bytes(reinterpret_cast<const std::uint8_t*>(name.data()), name.size());
  }
  void Span(const ChangeBytes& bytes) {
    Number(bytes.Length(), 8);
    if (!fine_) return;
    fine_ = bytes.WriteTo([&](const std::uint8_t* data, std::size_t count) {
      Bytes(data, count);
      return fine_;
    });
  }

  // The digest, then the record on the disk, its name too; false, the record removed, when
  // any of it failed.
  bool Finish() {
    if (file_ == nullptr) return false;
    hasher_.Final();
    std::array<std::uint8_t, kDigestLength> digest{};
    hasher_.GetHash(digest.data());
    bool written = fine_ && std::fwrite(digest.data(), 1, digest.size(), file_) == digest.size() &&
                   std::fflush(file_) == 0 && !Fails(Point::kJournalWrite) &&
                   SyncFileToDisk(file_, path_);
    written = CloseWrittenFile(file_) && written;
    file_ = nullptr;
    written = written && SyncFolderToDisk(FolderOf(path_));
    if (!written) (void)RemoveRecord(path_);
    return written;
  }

 private:
  const std::string path_;
  std::FILE* file_ = nullptr;
  Sha1Hasher hasher_;
  std::uint64_t written_ = 0;
  bool fine_ = false;
};

}  // namespace

bool WriteChanges(const std::string& path, const ImageChanges& changes) {
  const auto tooLong = [](const std::string& name) { return name.size() > kMaxWrittenName; };
  if (std::any_of(changes.removals.begin(), changes.removals.end(), tooLong) ||
      std::any_of(changes.rewrites.begin(), changes.rewrites.end(),
                  [&](const TrailerRewrite& rewrite) { return tooLong(rewrite.name); }) ||
      std::any_of(changes.renames.begin(), changes.renames.end(), [&](const Rename& rename) {
        return tooLong(rename.from) || tooLong(rename.to);
      })) {
    return false;
  }
  RecordWriter record(path);
  record.Bytes(kChangesMagic.data(), kChangesMagic.size());
  const std::uint8_t head[2] = {kOpen, static_cast<std::uint8_t>(changes.tableBefore ? 1 : 0)};
  record.Bytes(head, sizeof head);
  if (changes.tableBefore) {
    record.Number(changes.tableBefore->length, 8);
    record.Number(changes.tableBefore->counter, 4);
  }
  record.Number(changes.removals.size(), 8);
  for (const std::string& name : changes.removals) record.Name(name);
  record.Number(changes.rewrites.size(), 8);
  for (const TrailerRewrite& rewrite : changes.rewrites) {
    record.Name(rewrite.name);
    record.Number(rewrite.offset, 8);
    record.Span(rewrite.bytes);
  }
  record.Number(changes.renames.size(), 8);
  for (const Rename& rename : changes.renames) {
    record.Name(rename.from);
    record.Name(rename.to);
  }
  record.Span(changes.tableTail);
  return record.Finish();
}

ChangesRecord::ChangesRecord(std::string path, const std::string& tablePath)
    : path_(std::move(path)), tablePath_(tablePath), discFolder_(DiscFolderOfTable(tablePath)) {
  const platform::EntryKind kind = platform::KindOf(path_.c_str());
  if (kind == platform::EntryKind::kNone) return;
  status_ = kind == platform::EntryKind::kFile && Check() ? status_ : RecordStatus::kRefused;
}

bool ChangesRecord::Check() {
  try {
    InputFile record(path_, nullptr, platform::kImageFile);
    const FolderExtent extent = ExtentOf(discFolder_);
    if (record.Size() > LongestRecordFor(extent)) return false;
    std::array<std::uint8_t, kChangesMagic.size() + 1> start{};
    const auto startsWith = [&](const auto& magic) {
      return std::equal(magic.begin(), magic.end(), start.begin());
    };
    if (record.Size() < start.size() + kDigestLength ||
        !record.TryReadAt(0, start.data(), start.size()) ||
        (!startsWith(kChangesMagic) && !startsWith(kFirstChangesMagic))) {
      status_ = RecordStatus::kTorn;
      return true;
    }
    firstVersion_ = startsWith(kFirstChangesMagic);
    size_ = record.Size() - kDigestLength;
    if (!DigestHolds(record, size_)) {
      status_ = RecordStatus::kTorn;
      return true;
    }
    const std::uint8_t seal = start[kSealOffset];
    if (seal != kSealed && seal != kOpen) return false;
    sealed_ = seal == kSealed;
    using platform::EntryKind;
    ChangeVisitor check;
    // Each step is checked against the image as it stands before any step is made: no step may
    // act on what an earlier one of the same change removes, however a system folds letters.
    std::vector<std::string> removed;
    // A table to put back belongs to a single container's entries, written before the seal over
    // a table that kept the length rule: such a record renames its container and does nothing
    // else. Not sealed, it cuts the table back, so the table must be at least that long.
    check.tableBefore = [&](const TableState& before) {
      tableBefore_ = before;
      return before.counter != table::kFullCounter &&
             before.length == table::LengthFor(before.counter) &&
             (sealed_ || LengthOfTable() >= before.length);
    };
    check.removal = [&](const std::string& name) {
      removed.push_back(name);
      return !tableBefore_ && IsPlainTarget(name) &&
             KindIn(discFolder_, name) != EntryKind::kFolder;
    };
    check.rewrite = [&](const std::string& name, std::uint64_t offset, std::uint64_t,
                        std::uint64_t length) {
      const auto removedToo = [&](const std::string& gone) { return FoldAlike(gone, name); };
      return !tableBefore_ && IsPlainTarget(name) &&
             std::none_of(removed.begin(), removed.end(), removedToo) &&
             InsideTrailer(discFolder_ + name, offset, length);
    };
    check.rename = [&](const std::string& from, const std::string& to) {
      const EntryKind kind = KindIn(discFolder_, from);
      return IsTemporaryName(from) && IsPlainTarget(to) &&
             (kind == EntryKind::kNone || kind == EntryKind::kFile) &&
             KindIn(discFolder_, to) != EntryKind::kFolder;
    };
    check.tail = [&](std::uint64_t bytesAt, std::uint64_t length) {
      if (length == 0) return true;
      if (tableBefore_) return false;
      // The counter, then whole entries.
      const std::uint64_t counterLength = table::OffsetInTail(1);
      if (length < counterLength) return false;
      std::uint8_t counter[4];
      const std::uint64_t entries = table::EntriesHeldIn(table::kCounterOffset + length);
      return (length - counterLength) % table::kEntryLength == 0 &&
             record.TryReadAt(bytesAt, counter, sizeof counter) &&
             layout::DecodeNumber(counter) == entries && entries < table::kFullCounter &&
             entries <= extent.bytes / layout::kEntryNumberLength;
    };
    if (!Walk(record, size_, firstVersion_, check)) return false;
    status_ = RecordStatus::kValid;
    return true;
  } catch (const InputFailure&) {
    // Gone meanwhile: no record any more, not a refused one.
    if (platform::KindOf(path_.c_str()) == platform::EntryKind::kNone) {
      status_ = RecordStatus::kNone;
      return true;
    }
    return false;
  }
}

namespace {

// Copies `length` bytes of `record` from `from` on through `write`, a bounded piece at a time.
bool CopyOut(
    InputFile& record, std::uint64_t from, std::uint64_t length,
    const std::function<bool(std::uint64_t done, const std::uint8_t*, std::size_t)>& write) {
  std::vector<std::uint8_t> chunk(static_cast<std::size_t>(std::min<std::uint64_t>(length, kStep)));
  for (std::uint64_t done = 0; done < length; done += chunk.size()) {
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kStep, length - done));
    if (!record.TryReadAt(from + done, chunk.data(), count) || !write(done, chunk.data(), count)) {
      return false;
    }
  }
  return true;
}

}  // namespace

bool ChangesRecord::Make(LockedFile& table) const {
  if (status_ != RecordStatus::kValid) return false;
  try {
    InputFile record(path_, nullptr, platform::kImageFile);
    // Removals come before renames. Made again after a stop, a removal whose name a system that
    // folds letters takes for the target of a rename already made was made before that rename:
    // made now, it would remove the renamed file ("A.TXT" removed, then a staged file renamed
    // "a.txt").
    std::vector<std::string> renamedTo;
    ChangeVisitor renamed;
    renamed.rename = [&](const std::string& from, const std::string& to) {
      if (KindIn(discFolder_, from) == platform::EntryKind::kNone) renamedTo.push_back(to);
      return true;
    };
    if (!Walk(record, size_, firstVersion_, renamed)) return false;
    bool folderChanged = false;
    const auto syncFolder = [&] {
      return !folderChanged || (!Fails(Point::kFolderSync) && SyncFolderToDisk(discFolder_));
    };
    ChangeVisitor make;
    make.removal = [&](const std::string& name) {
      const auto renamedOver = [&](const std::string& to) { return FoldAlike(to, name); };
      if (std::any_of(renamedTo.begin(), renamedTo.end(), renamedOver)) return true;
      const std::string path = fault_injection::NameOnDisk(discFolder_ + name);
      folderChanged = true;
      return !Fails(Point::kRemove) &&
             (platform::RemoveFile(path.c_str(), platform::kImageFile) ||
              platform::KindOf(path.c_str()) == platform::EntryKind::kNone);
    };
    make.rewrite = [&](const std::string& name, std::uint64_t offset, std::uint64_t bytesAt,
                       std::uint64_t length) {
      // Another name of the file (a snapshot made with hard links) keeps it as it was.
      PatchedFile container(discFolder_ + name, platform::kImageFile, true);
      return container.IsOpen() && !Fails(Point::kResultWrite) &&
             CopyOut(record, bytesAt, length,
                     [&](std::uint64_t done, const std::uint8_t* data, std::size_t count) {
                       return container.WriteAt(offset + done, data, count);
                     }) &&
             !Fails(Point::kResultSync) && container.Sync();
    };
    make.rename = [&](const std::string& from, const std::string& to) {
      // Made again after a stop, a rename whose file is gone already took place.
      const std::string source = discFolder_ + from;
      if (platform::KindOf(source.c_str()) == platform::EntryKind::kNone) return true;
      folderChanged = true;
      return !Fails(Point::kResultRename) &&
             platform::MoveIntoPlace(source.c_str(), (discFolder_ + to).c_str(),
                                     platform::kImageFile);
    };
    make.tail = [&](std::uint64_t bytesAt, std::uint64_t length) {
      // The files the table speaks of are in place, on the disk, before the table changes.
      if (!syncFolder()) return false;
      if (length == 0) return true;
      return CopyOut(record, bytesAt, length,
                     [&](std::uint64_t done, const std::uint8_t* data, std::size_t count) {
                       return table.WriteAt(table::kCounterOffset + done, data, count);
                     }) &&
             table.Truncate(table::kCounterOffset + length) && table.Sync();
    };
    return Walk(record, size_, firstVersion_, make);
  } catch (const InputFailure&) {
    return false;
  }
}

std::uint64_t ChangesRecord::LengthOfTable() const {
  try {
    return InputFile(tablePath_, nullptr, platform::kImageFile).Size();
  } catch (const InputFailure&) {
    return 0;
  }
}

bool ChangesRecord::Undo(LockedFile& table) const {
  if (status_ != RecordStatus::kValid || sealed_) return false;
  if (tableBefore_) {
    // The counter may or may not have reached the file; the old one goes back, and the appended
    // bytes are cut off, so the length rule holds again.
    std::uint8_t counter[4];
    layout::EncodeNumber(tableBefore_->counter, counter);
    if (!table.WriteAt(table::kCounterOffset, counter, sizeof counter) ||
        !table.Truncate(tableBefore_->length) || !table.Sync()) {
      return false;
    }
  }
  DropRenamed();
  return true;
}

void ChangesRecord::DropRenamed() const {
  if (status_ != RecordStatus::kValid) return;
  try {
    InputFile record(path_, nullptr, platform::kImageFile);
    ChangeVisitor drop;
    drop.rename = [&](const std::string& from, const std::string&) {
      (void)platform::RemoveFile((discFolder_ + from).c_str(), platform::kImageFile);
      return true;
    };
    (void)Walk(record, size_, firstVersion_, drop);
  } catch (const InputFailure&) {
  }
}

bool JournalFitsImage(const TableJournal& journal, const std::string& tablePath,
                      std::optional<std::uint64_t> tableLength) {
  const platform::EntryKind kind =
      platform::KindOf((DiscFolderOfTable(tablePath) + journal.temporaryName).c_str());
  if (kind != platform::EntryKind::kNone && kind != platform::EntryKind::kFile) return false;
  // Not sealed, it cuts the table back to its length from before: a table shorter than that is
  // not the one it speaks of.
  return journal.sealed || (tableLength && *tableLength >= journal.length);
}

namespace {

// As RefusedRecordOf, for a caller that holds the table's lock already.
std::string RefusedRecordWhileLocked(const std::string& tablePath) {
  const std::string changes = ChangesPathOf(tablePath);
  if (ChangesRecord(changes, tablePath).Status() == RecordStatus::kRefused) return changes;
  const std::string journalPath = JournalPathOf(tablePath);
  TableJournal journal;
  const RecordStatus status = ReadJournal(journalPath, journal);
  if (status == RecordStatus::kRefused) return journalPath;
  if (status == RecordStatus::kValid) {
    std::optional<std::uint64_t> tableLength;
    try {
      tableLength = InputFile(tablePath, nullptr, platform::kImageFile).Size();
    } catch (const InputFailure&) {
    }
    if (!JournalFitsImage(journal, tablePath, tableLength)) return journalPath;
  }
  return {};
}

}  // namespace

std::string RefusedRecordOf(const std::string& tablePath) {
  const std::string changes = ChangesPathOf(tablePath);
  const std::string journalPath = JournalPathOf(tablePath);
  if (platform::KindOf(changes.c_str()) == platform::EntryKind::kNone &&
      platform::KindOf(journalPath.c_str()) == platform::EntryKind::kNone) {
    return {};
  }
  // Judged under the table's shared lock: a change in progress writes its record and removes
  // it, and only what a stopped run left is looked at.
  const UniqueFile table = OpenRegularFile(tablePath, platform::kImageFile);
  const bool locked = table && platform::LockShared(table.get());
  const std::string refused = RefusedRecordWhileLocked(tablePath);
  if (locked) platform::Unlock(table.get());
  return refused;
}

}  // namespace velador

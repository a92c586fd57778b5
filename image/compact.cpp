#include "image/compact.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#include "encapsulation/container_layout.h"
#include "encapsulation/encapsulator.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// A hashed container of ADV_OBJ and where its trailer lies: the trailer itself is read again,
// a piece at a time, each time the compaction walks its numbers.
struct NumberedContainer {
  std::size_t file = 0;  // index in ImageCompact::files
  std::uint64_t trailerOffset = 0;
  std::uint64_t trailerLength = 0;
  std::uint32_t numberedAfter = 0;  // the last new number given before its own
  std::uint32_t numbersGiven = 0;   // the new numbers its trailer takes
  bool renumbered = false;          // its trailer changes
};

// Reads the header and trailer of the container at `path`; false when it cannot be read. A file
// that is no hashed container of a known type leaves `type` or the trailer empty.
bool ReadContainer(const std::string& path, CompactedFile& file, NumberedContainer& numbered) {
  try {
    InputFile input(path, nullptr, platform::kImageFile);
    const layout::HeaderFields fields = ReadHeader(input);
    if (!fields.hasMagic || !fields.typeCode) return true;
    file.type = TypeOfCode(*fields.typeCode);
    if (!file.type || !FactsOf(*file.type).UsesTable()) return true;
    const auto regions = layout::LocateRegions(*file.type, input.Size(), fields.contentSize);
    // A trailer longer than any container's can be is refused.
    if (!regions) return true;
    if (regions->trailerLength > layout::kLongestTrailer) return false;
    numbered.trailerOffset = regions->trailerOffset;
    numbered.trailerLength = regions->trailerLength;
    file.numbers = regions->EntryCount();
    return true;
  } catch (const InputFailure&) {
    return false;
  }
}

// The containers of ADV_OBJ sorted by name, those being removed left out; `where` names a file
// that could not be read.
ImageChangeError ReadContainers(const std::string& discFolder,
                                const std::vector<std::string>& removed,
                                const ImageChangeEvents& events, ImageCompact& compact,
                                std::vector<NumberedContainer>& numbered, std::string& where) {
  auto names = platform::FolderEntries(discFolder.c_str(), platform::kImageFolder);
  if (!names) {
    where = discFolder;
    return ImageChangeError::kUnreadableFolder;
  }
  std::sort(names->begin(), names->end());
  std::vector<std::string> kept;
  for (const std::string& name : *names) {
    const bool removing = std::find(removed.begin(), removed.end(), name) != removed.end();
    // A leftover of a run killed outright is no container of the image.
    if (!removing && !IsReservedName(name)) kept.push_back(name);
  }
  std::vector<std::uint64_t> sizes(kept.size(), 0);
  for (std::size_t i = 0; i < kept.size(); ++i) {
    std::error_code error;
    const std::filesystem::path path = JoinPath(discFolder, kept[i]);
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, error))) {
      sizes[i] = std::filesystem::file_size(path, error);
      if (error) sizes[i] = 0;
    }
  }
  if (events.started) {
    std::uint64_t bytes = 0;
    for (std::uint64_t size : sizes) bytes += size;
    events.started(bytes);
  }
  for (std::size_t i = 0; i < kept.size(); ++i) {
    const std::string path = JoinPath(discFolder, kept[i]);
    if (events.reading) events.reading(kept[i], i);
    // Only the header and trailer of a container are read; it counts whole as they are.
    if (events.read != nullptr) events.read->Add(sizes[i]);
    CompactedFile& file = compact.files.emplace_back();
    file.name = kept[i];
    const platform::EntryKind kind = platform::KindOf(path.c_str());
    // A link would be left out, and the entries its target names dropped: nothing is done.
    if (kind == platform::EntryKind::kLink) {
      where = path;
      return ImageChangeError::kLinkInImage;
    }
    if (kind != platform::EntryKind::kFile) continue;
    NumberedContainer container;
    container.file = compact.files.size() - 1;
    if (!ReadContainer(path, file, container)) {
      where = path;
      return ImageChangeError::kUnreadableFile;
    }
    if (container.trailerLength > 0) numbered.push_back(container);
  }
  return ImageChangeError::kNone;
}

// The table as the compaction found it: what it reads of it goes through `table`.
struct TableState {
  LockedHashTable* table = nullptr;
  std::uint32_t counter = 0;
  std::uint64_t held = 0;  // entries from 1 that lie wholly inside the file
  std::uint64_t length = 0;
};

// More entries than this and the table alone would fill a good part of the memory.
constexpr std::uint64_t kMaxEntries = std::uint64_t{1} << 28;
// A trailer is read this many bytes (whole numbers) at a time.
constexpr std::size_t kTrailerPiece = 64 * 1024;

// Hands the trailer of `container` to `piece` a bounded piece at a time, each piece but the last
// whole numbers; false when it cannot all be read, or `piece` said stop.
bool ForEachTrailerPiece(
    const std::string& path, const NumberedContainer& container,
    const std::function<bool(const std::uint8_t* bytes, std::size_t count)>& piece) {
  try {
    InputFile input(path, nullptr, platform::kImageFile);
    std::vector<std::uint8_t> bytes(
        static_cast<std::size_t>(std::min<std::uint64_t>(container.trailerLength, kTrailerPiece)));
    for (std::uint64_t done = 0; done < container.trailerLength; done += bytes.size()) {
      const auto count = static_cast<std::size_t>(
          std::min<std::uint64_t>(kTrailerPiece, container.trailerLength - done));
      if (!input.TryReadAt(container.trailerOffset + done, bytes.data(), count) ||
          !piece(bytes.data(), count)) {
        return false;
      }
    }
    return true;
  } catch (const InputFailure&) {
    return false;
  }
}

// What the compaction makes of one number of a trailer: 0 stays 0 and names nothing; past the
// counter it stays past it, as far as a number can be; any other takes the next new number.
std::uint32_t Renumbered(std::uint32_t number, std::uint32_t counter, std::uint32_t& next) {
  if (number == 0) return 0;
  if (number > counter) return table::kFullCounter;
  return ++next;
}

// How many trailers name each entry of the table, counted to 2: two bits an entry.
class NamedCounts {
 public:
  explicit NamedCounts(std::uint64_t entries)
      : bits_(static_cast<std::size_t>(entries / 4 + 1), 0) {}

  // Counts one more naming of entry `number`; answers the count, up to 2.
  unsigned Add(std::uint64_t number) {
    const unsigned now = Of(number);
    if (now == 2) return now;
    bits_[static_cast<std::size_t>(number / 4)] += static_cast<std::uint8_t>(1u << Shift(number));
    return now + 1;
  }
  unsigned Of(std::uint64_t number) const {
    return (bits_[static_cast<std::size_t>(number / 4)] >> Shift(number)) & 3u;
  }

 private:
  static unsigned Shift(std::uint64_t number) { return static_cast<unsigned>(number % 4) * 2; }
  std::vector<std::uint8_t> bits_;
};

// Walks every trailer once, in the order of the names, to learn what the compaction does:
// which trailers change, the files' new entries, how many entries are copied and dropped. Holds
// two bits an entry of the table, nothing of the trailers. False when a trailer cannot be read.
// `unchangedTail` tells whether the table keeps its tail as it is: every number names its own
// entry, in order, once, and no entry is left over.
bool PlanRenumbering(const TableState& state, const std::string& discFolder,
                     std::vector<NumberedContainer>& numbered, ImageCompact& compact,
                     bool& unchangedTail, std::string& where) {
  NamedCounts counts(state.held);
  std::uint32_t next = 0;
  bool identity = true;
  for (NumberedContainer& container : numbered) {
    CompactedFile& file = compact.files[container.file];
    container.numberedAfter = next;
    const bool read = ForEachTrailerPiece(
        discFolder + file.name, container, [&](const std::uint8_t* bytes, std::size_t count) {
          // Whole numbers only: bytes past the last one (a trailer cut or grown by a few bytes)
          // stay as they are.
          for (std::size_t at = 0; at + layout::kEntryNumberLength <= count;
               at += layout::kEntryNumberLength) {
            const std::uint32_t number = layout::DecodeNumber(bytes + at);
            const std::uint32_t renumbered = Renumbered(number, state.counter, next);
            container.renumbered = container.renumbered || renumbered != number;
            if (number == 0 || number > state.counter) continue;
            identity = identity && number == next && number <= state.held;
            if (number <= state.held && counts.Add(number) == 2) ++compact.copiesMade;
          }
          return true;
        });
    if (!read) {
      where = discFolder + file.name;
      return false;
    }
    container.numbersGiven = next - container.numberedAfter;
    if (container.numbersGiven > 0) {
      file.firstEntry = container.numberedAfter + 1;
      file.lastEntry = next;
    }
  }
  compact.counterAfter = next;
  for (std::uint64_t number = 1; number <= std::min<std::uint64_t>(state.held, state.counter);
       ++number) {
    if (counts.Of(number) == 0) ++compact.orphansDropped;
  }
  unchangedTail = identity && next == state.counter && state.length == table::LengthFor(next);
  return true;
}

// The renumbered trailer of `container`, made again from the file as the record is written.
ChangeBytes RenumberedTrailer(const std::string& path, const NumberedContainer& container,
                              std::uint32_t counter) {
  return {container.trailerLength, [path, container, counter](const ChangeBytes::Sink& sink) {
            std::uint32_t next = container.numberedAfter;
            const bool made = ForEachTrailerPiece(
                path, container, [&](const std::uint8_t* bytes, std::size_t count) {
                  std::vector<std::uint8_t> piece(bytes, bytes + count);
                  for (std::size_t at = 0; at + layout::kEntryNumberLength <= count;
                       at += layout::kEntryNumberLength) {
                    const std::uint32_t number = layout::DecodeNumber(bytes + at);
                    layout::EncodeNumber(Renumbered(number, counter, next), piece.data() + at);
                  }
                  return sink(piece.data(), piece.size());
                });
            // A trailer that changed since it was first walked would take other numbers.
            return made && next - container.numberedAfter == container.numbersGiven;
          }};
}

// Appends to `entries` the entries that the whole numbers of `bytes` name, in their order: for
// each number that takes a new one, its entry, or zeros for one the file does not hold (it
// still differs). Runs of consecutive numbers are read in one go. False when the table could not
// be read.
bool AppendNamedEntries(const TableState& state, const std::uint8_t* bytes, std::size_t count,
                        std::vector<std::uint8_t>& entries) {
  const std::size_t numbers = count / layout::kEntryNumberLength;
  for (std::size_t i = 0; i < numbers;) {
    const std::uint32_t first = layout::DecodeNumber(bytes + 4 * i);
    std::size_t run = 1;
    if (first == 0 || first > state.counter) {
      ++i;
      continue;
    }
    const std::size_t at = entries.size();
    if (first > state.held) {
      entries.resize(at + table::kEntryLength, 0);
      ++i;
      continue;
    }
    while (i + run < numbers && first + run <= state.held &&
           layout::DecodeNumber(bytes + 4 * (i + run)) == first + run) {
      ++run;
    }
    entries.resize(at + run * table::kEntryLength);
    if (!state.table->ReadAt(table::EntryOffset(first), entries.data() + at,
                             run * table::kEntryLength)) {
      return false;
    }
    i += run;
  }
  return true;
}

// The table's new tail, made as the record is written: the new counter, then, for each number
// of each trailer in turn that takes a new one, the entry it named.
ChangeBytes NewTail(const TableState& state, const std::string& discFolder,
                    const std::vector<NumberedContainer>& numbered, const ImageCompact& compact) {
  const std::uint32_t counter = compact.counterAfter;
  const std::uint64_t length = table::LengthFor(counter) - table::kCounterOffset;
  return {length,
          [&state, &discFolder, &numbered, &compact, counter](const ChangeBytes::Sink& sink) {
            std::vector<std::uint8_t> entries(4);
            layout::EncodeNumber(counter, entries.data());
            for (const NumberedContainer& container : numbered) {
              const std::string path = discFolder + compact.files[container.file].name;
              const bool made = ForEachTrailerPiece(
                  path, container, [&](const std::uint8_t* bytes, std::size_t count) {
                    const bool read = AppendNamedEntries(state, bytes, count, entries) &&
                                      sink(entries.data(), entries.size());
                    entries.clear();
                    return read;
                  });
              if (!made) return false;
            }
            return entries.empty() || sink(entries.data(), entries.size());
          }};
}

ImageChangeError ChangeImage(const std::string& image, const std::vector<std::string>& removed,
                             const ImageChangeEvents& events, ImageCompact& compact,
                             std::string& where) {
  compact.folder = image;
  where = image;
  if (!platform::IsFolder(image.c_str())) return ImageChangeError::kNoFolder;
  const std::string discFolder = JoinPath(DiscFolderOf(image), "");
  where = DiscFolderOf(image);
  if (!platform::IsFolder(where.c_str())) return ImageChangeError::kNoDiscFolder;
  for (const std::string& name : removed) {
    where = discFolder + name;
    if (name.empty() || name.find_first_of("/\\") != std::string::npos || IsReservedName(name) ||
        platform::KindOf(where.c_str()) != platform::EntryKind::kFile) {
      return ImageChangeError::kNotInImage;
    }
  }
  const std::string tablePath = TablePathOfImage(image);
  where = tablePath;
  if (!platform::IsRegularFile(tablePath.c_str())) return ImageChangeError::kNoTable;
  // Locked from here to the end: no other run changes the image meanwhile, and what a killed
  // run left half done is put right first.
  LockedHashTable table(tablePath);
  if (!table.RefusedRecord().empty()) {
    where = table.RefusedRecord();
    return ImageChangeError::kRefusedRecord;
  }
  if (table.Length() < table::kFirstEntryOffset ||
      table::EntriesHeldIn(table.Length()) > kMaxEntries) {
    return ImageChangeError::kUnusableTable;
  }
  std::uint8_t counter[4];
  if (!table.ReadAt(table::kCounterOffset, counter, sizeof counter)) {
    return ImageChangeError::kUnusableTable;
  }
  const TableState state{&table, layout::DecodeNumber(counter),
                         table::EntriesHeldIn(table.Length()), table.Length()};
  compact.counterBefore = state.counter;
  compact.lengthBefore = table.Length();
  std::vector<NumberedContainer> numbered;
  if (const ImageChangeError error =
          ReadContainers(discFolder, removed, events, compact, numbered, where);
      error != ImageChangeError::kNone) {
    return error;
  }
  bool unchangedTail = false;
  if (!PlanRenumbering(state, discFolder, numbered, compact, unchangedTail, where)) {
    return ImageChangeError::kUnreadableFile;
  }
  compact.lengthAfter = table::LengthFor(compact.counterAfter);
  ImageChanges changes;
  // Only what changes is written: a second compaction writes nothing at all.
  if (!unchangedTail) changes.tableTail = NewTail(state, discFolder, numbered, compact);
  for (const NumberedContainer& container : numbered) {
    if (!container.renumbered) continue;
    CompactedFile& file = compact.files[container.file];
    file.rewritten = true;
    changes.rewrites.push_back(
        {file.name, container.trailerOffset,
         RenumberedTrailer(discFolder + file.name, container, state.counter)});
  }
  where = tablePath;
  changes.removals = removed;
  switch (table.Apply(changes, events.committed)) {
    case LockedHashTable::Change::kMade:
      break;
    case LockedHashTable::Change::kNotMade:
      return ImageChangeError::kWriteFailure;
    case LockedHashTable::Change::kLeftToFinish:
      return ImageChangeError::kLeftToFinish;
  }
  compact.removed = removed;
  where.clear();
  return ImageChangeError::kNone;
}

}  // namespace

ImageError<ImageChangeError> CompactImage(const std::string& image, const ImageChangeEvents& events,
                                          ImageCompact& compact) {
  std::string where;
  const ImageChangeError code = ChangeImage(image, {}, events, compact, where);
  return {code, std::move(where)};
}

ImageError<ImageChangeError> RemoveFromImage(const std::string& image,
                                             const std::vector<std::string>& names,
                                             const ImageChangeEvents& events,
                                             ImageCompact& compact) {
  // A name is matched as the file system the image lives on matches it: where it folds letters,
  // "MENU.XML" names the file listed as "menu.xml", and that file and its entries go. A name
  // given twice is removed once.
  const std::optional<std::vector<std::string>> listed =
      platform::FolderEntries(DiscFolderOf(image).c_str(), platform::kImageFolder);
  std::vector<std::string> distinct;
  for (std::string name : names) {
    const bool exact = listed && std::find(listed->begin(), listed->end(), name) != listed->end();
    const std::string path = JoinPath(DiscFolderOf(image), name);
    if (!exact && listed && platform::KindOf(path.c_str()) == platform::EntryKind::kFile) {
      const auto folded = std::find_if(listed->begin(), listed->end(), [&](const std::string& at) {
        return SameNameText(at, name);
      });
      if (folded != listed->end()) name = *folded;
    }
    if (std::find(distinct.begin(), distinct.end(), name) == distinct.end()) {
      distinct.push_back(name);
    }
  }
  std::string where;
  const ImageChangeError code = ChangeImage(image, distinct, events, compact, where);
  return {code, std::move(where)};
}

}  // namespace velador

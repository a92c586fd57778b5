#include "image/compact.h"

#include <algorithm>
#include <filesystem>

#include "encapsulation/container_layout.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// A hashed container of ADV_OBJ and the numbers its trailer holds.
struct NumberedContainer {
  std::size_t file = 0;  // index in ImageCompact::files
  std::uint64_t trailerOffset = 0;
  std::vector<std::uint8_t> trailer;     // as it stands
  std::vector<std::uint8_t> renumbered;  // as the compaction makes it
};

// Reads the header and trailer of the container at `path`; false when it cannot be read. A file
// that is no hashed container of a known type leaves `type` or the trailer empty.
bool ReadContainer(const std::string& path, CompactedFile& file, NumberedContainer& numbered) {
  try {
    InputFile input(path, nullptr, platform::kImageFile);
    std::uint8_t header[layout::kHeaderLength] = {};
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(input.Size(), sizeof header));
    input.ReadAt(0, header, count);
    const layout::HeaderFields fields = layout::DecodeHeader(header, count);
    if (!fields.hasMagic || !fields.typeCode) return true;
    file.type = TypeOfCode(*fields.typeCode);
    if (!file.type || !FactsOf(*file.type).UsesTable()) return true;
    const auto regions = layout::LocateRegions(*file.type, input.Size(), fields.contentSize);
    // Held in memory: a trailer longer than any container's can be is refused.
    if (!regions) return true;
    if (regions->trailerLength > layout::kLongestTrailer) return false;
    numbered.trailerOffset = regions->trailerOffset;
    numbered.trailer.resize(static_cast<std::size_t>(regions->trailerLength));
    input.ReadAt(regions->trailerOffset, numbered.trailer.data(), numbered.trailer.size());
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
    if (!container.trailer.empty()) numbered.push_back(std::move(container));
  }
  return ImageChangeError::kNone;
}

// What the table holds from its counter on, read once: the counter and the entries.
struct TableState {
  std::vector<std::uint8_t> tail;
  std::uint32_t counter = 0;
  std::uint64_t held = 0;  // entries from 1 that lie wholly inside the file

  const std::uint8_t* Entry(std::uint32_t number) const {
    return tail.data() + table::OffsetInTail(number);
  }
};

// More entries than this and the table alone would fill a good part of the memory.
constexpr std::uint64_t kMaxEntries = std::uint64_t{1} << 28;

// Renumbers the containers' trailers from 1, in their order, moving the values of the entries
// they name into a new table tail; numbers 0 and numbers past the counter keep naming nothing.
std::vector<std::uint8_t> Renumber(const TableState& state,
                                   std::vector<NumberedContainer>& numbered,
                                   ImageCompact& compact) {
  std::vector<std::uint8_t> tail(4, 0);
  std::vector<std::uint8_t> namedTimes(static_cast<std::size_t>(state.held) + 1, 0);
  std::uint32_t next = 0;
  for (NumberedContainer& container : numbered) {
    CompactedFile& file = compact.files[container.file];
    container.renumbered = container.trailer;
    // Whole numbers only: bytes past the last one (a trailer cut or grown by a few bytes) stay
    // as they are.
    for (std::size_t at = 0; at + layout::kEntryNumberLength <= container.renumbered.size();
         at += layout::kEntryNumberLength) {
      std::uint8_t* slot = container.renumbered.data() + at;
      const std::uint32_t number = layout::DecodeNumber(slot);
      if (number == 0) continue;
      if (number > state.counter) {
        // Past the counter it stays, as far past as a number can be.
        layout::EncodeNumber(table::kFullCounter, slot);
        continue;
      }
      // A number whose entry the file does not hold gets an entry of zeros: it still differs.
      std::uint8_t entry[table::kEntryLength] = {};
      if (number <= state.held) {
        std::copy_n(state.Entry(number), table::kEntryLength, entry);
        if (namedTimes[number] < 2) ++namedTimes[number];
        if (namedTimes[number] == 2) ++compact.copiesMade;
      }
      tail.insert(tail.end(), entry, entry + sizeof entry);
      layout::EncodeNumber(++next, slot);
      if (file.firstEntry == 0) file.firstEntry = next;
      file.lastEntry = next;
    }
  }
  layout::EncodeNumber(next, tail.data());
  compact.counterAfter = next;
  for (std::uint64_t number = 1; number <= std::min<std::uint64_t>(state.held, state.counter);
       ++number) {
    if (namedTimes[static_cast<std::size_t>(number)] == 0) ++compact.orphansDropped;
  }
  return tail;
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
  TableState state;
  if (table.Length() < table::kFirstEntryOffset ||
      table::EntriesHeldIn(table.Length()) > kMaxEntries) {
    return ImageChangeError::kUnusableTable;
  }
  state.tail.resize(static_cast<std::size_t>(table.Length() - table::kCounterOffset));
  if (!table.ReadAt(table::kCounterOffset, state.tail.data(), state.tail.size())) {
    return ImageChangeError::kUnusableTable;
  }
  state.counter = layout::DecodeNumber(state.tail.data());
  state.held = table::EntriesHeldIn(table.Length());
  compact.counterBefore = state.counter;
  compact.lengthBefore = table.Length();
  std::vector<NumberedContainer> numbered;
  if (const ImageChangeError error =
          ReadContainers(discFolder, removed, events, compact, numbered, where);
      error != ImageChangeError::kNone) {
    return error;
  }
  ImageChanges changes;
  changes.tableTail = Renumber(state, numbered, compact);
  compact.lengthAfter = table::kCounterOffset + changes.tableTail.size();
  // Only what changes is written: a second compaction writes nothing at all.
  if (state.tail == changes.tableTail) changes.tableTail.clear();
  for (NumberedContainer& container : numbered) {
    if (container.renumbered == container.trailer) continue;
    CompactedFile& file = compact.files[container.file];
    file.rewritten = true;
    changes.rewrites.push_back(
        {file.name, container.trailerOffset, std::move(container.renumbered)});
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

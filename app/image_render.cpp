#include "app/image_render.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sstream>
#include <string>

#include "app/texts.h"
#include "image/paths.h"
#include "image/transaction.h"

namespace velador {

namespace {

using texts::Text;

Text TypeName(ContainerType type) { return texts::kTypeNames[static_cast<std::size_t>(type)]; }

// "<label><name> (<type>)": the start of a file's line.
void FileLineStart(Console& console, Text label, std::string_view name,
                   const std::optional<ContainerType>& type) {
  console.Text(label);
  console.Name(name);
  if (type) {
    console.Text(" (");
    console.Text(TypeName(*type));
    console.Text(")");
  }
}

// The reason of a hashed file's entry mismatch, its unit named for Encryption-and-Hash.
void EntryReason(Console& console, const CheckedFile& file, Text text) {
  if (file.type == ContainerType::kEncryptionHash) {
    console.Text(texts::kReasonUnitPrefix);
    console.Decimal(file.unit + 1);
    console.Text(": ");
  }
  console.Text(text);
}

Text PlainReason(FileReason reason) {
  switch (reason) {
    case FileReason::kUnreadable:
      return texts::kReasonUnreadable;
    case FileReason::kNoKey:
      return texts::kReasonNoKey;
    case FileReason::kFolder:
      return texts::kReasonFolder;
    case FileReason::kNotRegular:
      return texts::kReasonNotRegular;
    case FileReason::kWrongKey:
      return texts::kReasonWrongKey;
    case FileReason::kNotContainer:
      return texts::kReasonNotContainer;
    case FileReason::kUnknownType:
      return texts::kReasonUnknownType;
    case FileReason::kTooShort:
      return texts::kReasonTooShort;
    case FileReason::kNameTooLong:
      return texts::kReasonNameTooLong;
    case FileReason::kCutShort:
      return texts::kReasonCutShort;
    case FileReason::kNoTable:
      return texts::kReasonNoTable;
    case FileReason::kNameDiffers:
      return texts::kReasonNameDiffers;
    case FileReason::kMacDiffers:
      return texts::kReasonMacDiffers;
    case FileReason::kNoNumbers:
      return texts::kReasonNoNumbers;
    default:
      return {};
  }
}

void Reason(Console& console, const CheckedFile& file, std::uint32_t counter) {
  switch (file.reason) {
    case FileReason::kEntryDiffers:
      EntryReason(console, file, texts::kReasonEntryBefore);
      console.Decimal(file.number);
      console.Text(texts::kReasonEntryAfter);
      return;
    case FileReason::kNoEntry:
      EntryReason(console, file, texts::kReasonNoEntry);
      return;
    case FileReason::kPastCounter:
      EntryReason(console, file, texts::kReasonPastCounterBefore);
      console.Decimal(file.number);
      console.Text(texts::kReasonPastCounterMiddle);
      console.Decimal(counter);
      console.Text(texts::kReasonPastCounterAfter);
      return;
    case FileReason::kOutsideBody:
      EntryReason(console, file, texts::kReasonOutsideBody);
      console.Decimal(file.number);
      console.Text(texts::kReasonOutsideBodyAfter);
      return;
    default:
      console.Text(PlainReason(file.reason));
  }
}

Text LabelOf(FileVerdict verdict) {
  switch (verdict) {
    case FileVerdict::kAccepted:
      return texts::kLabelAccepted;
    case FileVerdict::kNotChecked:
      return texts::kLabelNotChecked;
    case FileVerdict::kRefused:
      break;
  }
  return texts::kLabelRefused;
}

// " (5, 9-10)": the ranges kept, and ", ..." when there were more numbers than they hold.
void Ranges(Console& console, const std::vector<EntryRange>& ranges, std::uint64_t count) {
  console.Text(texts::kFindingRangesBefore);
  std::uint64_t shown = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) console.Text(", ");
    console.Decimal(ranges[i].first);
    if (ranges[i].last != ranges[i].first) {
      console.Text("-");
      console.Decimal(ranges[i].last);
    }
    shown += ranges[i].last - ranges[i].first + 1;
  }
  if (shown < count) console.Text(texts::kFindingMore);
  console.Text(texts::kFindingRangesAfter);
}

void TableLine(Console& console) { console.Text(texts::kLabelTable); }

// "name (count), ...": the files with a count of `member` above zero.
template <class Member>
void FilesWith(Console& console, Text title, const std::vector<CheckedFile>& files, Member member) {
  if (std::none_of(files.begin(), files.end(), [&](const auto& f) { return f.*member > 0; })) {
    return;
  }
  TableLine(console);
  console.Text(title);
  bool first = true;
  for (const CheckedFile& file : files) {
    if (file.*member == 0) continue;
    if (!first) console.Text(", ");
    first = false;
    console.Name(file.name);
    console.Text(" (");
    console.Decimal(file.*member);
    console.Text(")");
  }
  console.LineEnds();
}

void TableHead(Console& console, const ImageCheck& check, int findings) {
  const TableFindings& table = check.table;
  TableLine(console);
  if (table.inStorage) {
    console.Text(texts::kTableNoneInStorage);
    console.LineEnds();
    return;
  }
  console.Name(table.path);
  console.Text(": ");
  if (!table.present) {
    console.Text(texts::kTableAbsent);
  } else {
    console.Text(texts::kTableEntries);
    console.Decimal(table.counter);
  }
  if (findings == 0) {
    console.Text(texts::kTableConsistent);
  } else {
    console.Text(texts::kTableFindings);
    console.Decimal(static_cast<std::uint64_t>(findings));
  }
  console.LineEnds();
}

// A NOTA line that says what to run next: `text`, then the image's folder.
void HintLine(Console& console, texts::Text text, std::string_view image) {
  console.Text(texts::kLabelNote);
  console.Text(text);
  console.Name(image);
  console.LineEnds();
}

void TableFindingLines(Console& console, const ImageCheck& check) {
  const TableFindings& table = check.table;
  if (table.needed && !table.present && !table.inStorage) {
    TableLine(console);
    console.Text(texts::kFindingMissing);
    console.LineEnds();
  }
  if (table.present && !table.lengthMatches) {
    TableLine(console);
    console.Text(texts::kFindingLengthBefore);
    console.Decimal(table.length);
    console.Text(texts::kFindingLengthMiddle);
    console.Decimal(table.counter);
    console.Text(texts::kFindingLengthAfter);
    console.Decimal(table::LengthFor(table.counter));
    console.Text(texts::kFindingBytes);
    console.LineEnds();
  }
  if (table.orphans > 0) {
    TableLine(console);
    console.Text(texts::kFindingOrphans);
    console.Decimal(table.orphans);
    Ranges(console, table.orphanRanges, table.orphans);
    console.LineEnds();
    HintLine(console, texts::kHintCompactOrphans, check.folder);
  }
  if (table.shared > 0) {
    TableLine(console);
    console.Text(texts::kFindingShared);
    console.Decimal(table.shared);
    Ranges(console, table.sharedRanges, table.shared);
    console.Text(texts::kFindingSharedBy);
    for (std::size_t i = 0; i < table.sharedBy.size(); ++i) {
      if (i > 0) console.Text(", ");
      console.Name(table.sharedBy[i]);
    }
    console.LineEnds();
  }
  FilesWith(console, texts::kFindingPastCounter, check.files, &CheckedFile::pastCounterNumbers);
  FilesWith(console, texts::kFindingNoEntry, check.files, &CheckedFile::zeroNumbers);
}

std::uint64_t CountOf(const std::vector<CheckedFile>& files, FileVerdict verdict) {
  return static_cast<std::uint64_t>(std::count_if(
      files.begin(), files.end(), [&](const CheckedFile& f) { return f.verdict == verdict; }));
}

Text AddReasonText(AddReason reason) {
  switch (reason) {
    case AddReason::kNotFound:
      return texts::kAddNotFound;
    case AddReason::kAlreadyContainer:
      return texts::kAddAlreadyContainer;
    case AddReason::kTooLarge:
      return texts::kAddTooLarge;
    case AddReason::kNoKey:
      return texts::kAddNoKey;
    case AddReason::kNameTooLong:
      return texts::kAddNameTooLong;
    case AddReason::kPathTooLong:
      return texts::kAddPathTooLong;
    case AddReason::kSameFile:
      return texts::kAddSameFile;
    case AddReason::kExists:
      return texts::kAddExists;
    case AddReason::kCannotCreate:
      return texts::kAddCannotCreate;
    case AddReason::kNoTable:
      return texts::kAddNoTable;
    case AddReason::kDuplicate:
      return texts::kAddDuplicate;
    case AddReason::kReadFailure:
      return texts::kAddReadFailure;
    case AddReason::kWriteFailure:
      return texts::kAddWriteFailure;
    case AddReason::kTableFull:
      return texts::kAddTableFull;
    case AddReason::kTableNotUpdated:
      return texts::kAddTableNotUpdated;
    case AddReason::kReservedName:
      return texts::kAddReservedName;
    case AddReason::kNone:
      break;
  }
  return {};
}

// ---- JSON ----------------------------------------------------------------------------------

bool IsUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80       ? 1
                               : lead >> 5 == 6  ? 2
                               : lead >> 4 == 14 ? 3
                               : lead >> 3 == 30 ? 4
                                                 : 0;
    if (length == 0 || i + length > bytes.size()) return false;
    std::uint32_t code = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if (next >> 6 != 2) return false;
      code = code << 6 | (next & 0x3Fu);
    }
    // No overlong forms, no surrogates, nothing past U+10FFFF.
    static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kLeast[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

// `utf8` as a JSON string: quotes, backslashes and control characters escaped.
std::string Quoted(std::string_view utf8) {
  std::string quoted = "\"";
  for (char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += c;
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", byte);
      quoted += escape;
    } else {
      quoted += c;
    }
  }
  return quoted + '"';
}

// A file name or a path: its own bytes when they are UTF-8, else read as Windows-1252.
std::string QuotedName(std::string_view name) {
  return Quoted(IsUtf8(name) ? std::string(name) : Windows1252ToUtf8(name));
}

// What `print` writes through a console, as UTF-8.
template <class Print>
std::string Rendered(Print&& print) {
  std::ostringstream text;
  Console console(text, TextEncoding::kUtf8);
  print(console);
  return text.str();
}

// Writes a JSON document with two blanks of indent per level.
class Json {
 public:
  explicit Json(std::ostream& out) : out_(out) {}

  Json& Open(char bracket, std::string_view key = {}) {
    Next(key);
    out_ << bracket;
    ++depth_;
    first_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    --depth_;
    if (!first_) Indent();
    out_ << bracket;
    first_ = false;
    return *this;
  }
  // `raw` is a JSON value as it is to be written.
  Json& Field(std::string_view key, std::string_view raw) {
    Next(key);
    out_ << raw;
    return *this;
  }
  Json& Number(std::string_view key, std::uint64_t value) {
    return Field(key, std::to_string(value));
  }
  Json& Bool(std::string_view key, bool value) { return Field(key, value ? "true" : "false"); }

 private:
  void Next(std::string_view key) {
    if (depth_ > 0) {
      if (!first_) out_ << ',';
      Indent();
    }
    first_ = false;
    if (!key.empty()) out_ << Quoted(key) << ": ";
  }
  void Indent() { out_ << '\n' << std::string(static_cast<std::size_t>(2 * depth_), ' '); }

  std::ostream& out_;
  int depth_ = 0;
  bool first_ = true;
};

constexpr std::array<std::string_view, 5> kTypeKeys = {"encryption", "encryption_and_hash", "mac",
                                                       "hash", "non_protected"};

std::string_view VerdictKey(FileVerdict verdict) {
  switch (verdict) {
    case FileVerdict::kAccepted:
      return "accepted";
    case FileVerdict::kNotChecked:
      return "not_checked";
    case FileVerdict::kRefused:
      break;
  }
  return "refused";
}

constexpr std::array<std::string_view, 19> kReasonKeys = {"",
                                                          "unreadable",
                                                          "no_key",
                                                          "folder",
                                                          "not_regular_file",
                                                          "not_container",
                                                          "unknown_type",
                                                          "too_short",
                                                          "name_too_long",
                                                          "cut_short",
                                                          "wrong_key",
                                                          "no_table",
                                                          "name_differs",
                                                          "mac_differs",
                                                          "entry_differs",
                                                          "no_entry",
                                                          "past_counter",
                                                          "outside_body",
                                                          "no_numbers"};

bool NamesUnit(FileReason reason) {
  return reason == FileReason::kEntryDiffers || reason == FileReason::kNoEntry ||
         reason == FileReason::kPastCounter || reason == FileReason::kOutsideBody;
}

// The members of a checked file's object.
void FileFields(Json& json, const CheckedFile& file, std::uint32_t counter) {
  json.Field("name", QuotedName(file.name)).Bool("name_is_utf8", IsUtf8(file.name));
  json.Field("type", file.type ? Quoted(kTypeKeys[static_cast<std::size_t>(*file.type)]) : "null");
  json.Number("size", file.size);
  json.Field("verdict", Quoted(VerdictKey(file.verdict)));
  const bool refused = file.verdict != FileVerdict::kAccepted;
  json.Field("reason",
             refused ? Quoted(kReasonKeys[static_cast<std::size_t>(file.reason)]) : "null");
  json.Field("message",
             refused ? Quoted(Rendered([&](Console& c) { Reason(c, file, counter); })) : "null");
  const bool unit = refused && NamesUnit(file.reason);
  json.Field("unit", unit ? std::to_string(file.unit + 1) : "null");
  json.Field("entry", unit ? std::to_string(file.number) : "null");
  json.Number("units_checked", file.unitsChecked);
  json.Number("mismatched_units", file.mismatchedUnits);
  json.Field("stored_name", file.storedName ? QuotedName(*file.storedName) : "null");
  json.Number("zero_numbers", file.zeroNumbers);
  json.Number("numbers_past_counter", file.pastCounterNumbers);
}

void FileJson(Json& json, const CheckedFile& file, std::uint32_t counter) {
  json.Open('{');
  FileFields(json, file, counter);
  json.Close('}');
}

std::string RangesJson(const std::vector<EntryRange>& ranges) {
  std::string text = "[";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) text += ", ";
    text += '[';
    text += std::to_string(ranges[i].first);
    text += ", ";
    text += std::to_string(ranges[i].last);
    text += ']';
  }
  return text + "]";
}

template <class Keep>
std::string NamesJson(const std::vector<CheckedFile>& files, Keep&& keep) {
  std::string text = "[";
  for (const CheckedFile& file : files) {
    if (!keep(file)) continue;
    if (text.size() > 1) text += ", ";
    text += QuotedName(file.name);
  }
  return text + "]";
}

void TableJson(Json& json, const ImageCheck& check) {
  const TableFindings& table = check.table;
  json.Open('{', "table");
  json.Field("path", table.inStorage ? "null" : QuotedName(table.path));
  json.Bool("present", table.present).Bool("needed", table.needed);
  json.Number("length", table.length).Number("counter", table.counter);
  json.Bool("length_matches", table.lengthMatches);
  json.Number("expected_length", table::LengthFor(table.counter));
  json.Number("orphans", table.orphans).Field("orphan_ranges", RangesJson(table.orphanRanges));
  json.Number("shared", table.shared).Field("shared_ranges", RangesJson(table.sharedRanges));
  std::string sharedBy = "[";
  for (const std::string& name : table.sharedBy) {
    sharedBy += (sharedBy.size() > 1 ? ", " : "") + QuotedName(name);
  }
  json.Field("shared_by", sharedBy + "]");
  json.Field("files_past_counter",
             NamesJson(check.files, [](const auto& f) { return f.pastCounterNumbers > 0; }));
  json.Field("files_with_zero",
             NamesJson(check.files, [](const auto& f) { return f.zeroNumbers > 0; }));
  json.Number("findings", static_cast<std::uint64_t>(table.Count(check.files)));
  json.Close('}');
}

// null when the files say nothing of the key.
std::string KeyVerdictJson(KeyVerdict verdict) {
  switch (verdict) {
    case KeyVerdict::kWrong:
      return Quoted("wrong");
    case KeyVerdict::kMaybeWrong:
      return Quoted("maybe_wrong");
    case KeyVerdict::kNothingToSay:
      break;
  }
  return "null";
}

constexpr std::array<std::string_view, 17> kAddReasonKeys = {"",
                                                             "not_found",
                                                             "already_container",
                                                             "too_large",
                                                             "no_key",
                                                             "name_too_long",
                                                             "path_too_long",
                                                             "same_file",
                                                             "exists",
                                                             "cannot_create",
                                                             "no_table",
                                                             "duplicate",
                                                             "read_failure",
                                                             "write_failure",
                                                             "table_full",
                                                             "table_not_updated",
                                                             "reserved_name"};

// The Catalan reason of an added file's line, as it follows ": ".
void AddReasonLine(Console& console, const AddedFile& file) {
  console.Text(AddReasonText(file.reason));
  if (file.reason == AddReason::kExists) {
    console.Name(file.result);
    console.Text(texts::kAddExistsAdvice);
  }
}

void AddedFileJson(Json& json, const AddedFile& file) {
  json.Open('{');
  json.Field("input", QuotedName(file.input)).Bool("input_is_utf8", IsUtf8(file.input));
  json.Field("name", QuotedName(NameOf(file.input)));
  json.Field("type", file.type ? Quoted(kTypeKeys[static_cast<std::size_t>(*file.type)]) : "null");
  json.Bool("added", file.added);
  const bool reason = file.reason != AddReason::kNone;
  json.Field("reason",
             reason ? Quoted(kAddReasonKeys[static_cast<std::size_t>(file.reason)]) : "null");
  json.Field("message",
             reason ? Quoted(Rendered([&](Console& c) { AddReasonLine(c, file); })) : "null");
  const bool entries = file.lastEntry > 0;
  json.Field("first_entry", entries ? std::to_string(file.firstEntry) : "null");
  json.Field("last_entry", entries ? std::to_string(file.lastEntry) : "null");
  json.Bool("replaced", file.replaced);
  json.Number("entries_left_unused", file.entriesLeftUnused);
  json.Close('}');
}

constexpr std::array<std::string_view, 8> kExtractReasonKeys = {
    "",          "not_restored",  "exists",        "path_too_long",
    "same_file", "cannot_create", "write_failure", "name_taken"};

// Why a file was not extracted, as it follows "NO EXTRET: "; nothing for a file the check
// stopped at, whose reason its line already gives.
void ExtractReasonLine(Console& console, const ExtractedFile& file) {
  switch (file.reason) {
    case ExtractReason::kExists:
      console.Text(texts::kExtractExists);
      console.Name(file.result);
      console.Text(texts::kExtractExistsAdvice);
      break;
    case ExtractReason::kPathTooLong:
      console.Text(texts::kExtractPathTooLong);
      break;
    case ExtractReason::kSameFile:
      console.Text(texts::kExtractSameFile);
      break;
    case ExtractReason::kCannotCreate:
      console.Text(texts::kExtractCannotCreate);
      break;
    case ExtractReason::kWriteFailure:
      console.Text(texts::kExtractWriteFailure);
      break;
    case ExtractReason::kNameTaken:
      console.Text(texts::kExtractNameTaken);
      break;
    case ExtractReason::kNotRestored:
    case ExtractReason::kNone:
      break;
  }
}

struct ExtractCounts {
  std::uint64_t extracted = 0;
  std::uint64_t accepted = 0;
  std::uint64_t refused = 0;
  std::uint64_t notChecked = 0;
};

ExtractCounts CountsOf(const ImageExtract& extract) {
  ExtractCounts counts;
  for (const ExtractedFile& file : extract.files) {
    if (file.extracted) ++counts.extracted;
    if (file.file.verdict == FileVerdict::kAccepted) ++counts.accepted;
    if (file.file.verdict == FileVerdict::kRefused) ++counts.refused;
    if (file.file.verdict == FileVerdict::kNotChecked) ++counts.notChecked;
  }
  return counts;
}

std::uint64_t RewrittenCount(const ImageCompact& compact) {
  return static_cast<std::uint64_t>(
      std::count_if(compact.files.begin(), compact.files.end(),
                    [](const CompactedFile& f) { return f.rewritten; }));
}

// ": entrada 5" or ": entrades 2-8"; nothing for a file that names no entry.
void EntriesOf(Console& console, std::uint32_t first, std::uint32_t last) {
  if (last == 0) return;
  console.Text(": ");
  if (first == last) {
    console.Text(texts::kAddEntry);
    console.Decimal(first);
  } else {
    console.Text(texts::kAddEntries);
    console.Decimal(first);
    console.Text("-");
    console.Decimal(last);
  }
}

struct BuildCounts {
  std::uint64_t added = 0;
  std::uint64_t replaced = 0;
  std::uint64_t removed = 0;
  std::uint64_t kept = 0;
  std::uint64_t refused = 0;
};

BuildCounts CountsOf(const ImageBuild& build) {
  BuildCounts counts;
  for (const BuiltFile& file : build.files) {
    switch (file.action) {
      case BuildAction::kAdd:
        ++counts.added;
        break;
      case BuildAction::kReplace:
        ++counts.replaced;
        break;
      case BuildAction::kRemove:
        ++counts.removed;
        break;
      case BuildAction::kKeep:
        ++counts.kept;
        break;
      case BuildAction::kRefused:
        ++counts.refused;
        break;
    }
  }
  return counts;
}

Text BuildLabel(BuildAction action) {
  switch (action) {
    case BuildAction::kAdd:
      return texts::kLabelAdded;
    case BuildAction::kReplace:
      return texts::kLabelReplaced;
    case BuildAction::kRemove:
      return texts::kLabelRemoved;
    case BuildAction::kKeep:
      return texts::kLabelUnchanged;
    case BuildAction::kRefused:
      break;
  }
  return texts::kLabelNotAdded;
}

// In the order of BuildAction.
constexpr std::array<std::string_view, 5> kBuildActionKeys = {"add", "replace", "remove", "keep",
                                                              "refused"};

std::uint64_t AddedCount(const ImageAdd& add) {
  return static_cast<std::uint64_t>(std::count_if(add.files.begin(), add.files.end(),
                                                  [](const AddedFile& f) { return f.added; }));
}

}  // namespace

void PrintImageUsage(Console& console) {
  for (Text line : texts::kImageUsageLines) {
    console.Text(line);
    console.LineEnds();
  }
}

void PrintImageError(Console& console, Text text, std::string_view word, bool usage) {
  console.Text(texts::kImageErrorPrefix);
  console.Text(text);
  console.Name(word);
  if (usage) console.Text(texts::kImageHelpHint);
  console.LineEnds();
}

// A line that says the key does not fit, or may not, when the verdicts tell so.
void KeyLine(Console& console, KeyVerdict verdict) {
  switch (verdict) {
    case KeyVerdict::kWrong:
      console.Text(texts::kImageWrongKey);
      console.LineEnds();
      break;
    case KeyVerdict::kMaybeWrong:
      console.Text(texts::kImageMaybeWrongKey);
      console.LineEnds();
      break;
    case KeyVerdict::kNothingToSay:
      break;
  }
}

void RenderCheckedFile(Console& console, const CheckedFile& file, std::uint32_t tableCounter) {
  FileLineStart(console, LabelOf(file.verdict), file.name, file.type);
  if (file.verdict != FileVerdict::kAccepted) {
    console.Text(": ");
    Reason(console, file, tableCounter);
  }
  console.LineEnds();
}

// One line for the temporary files a stopped run left, and how they go.
void LeftoversLine(Console& console, std::uint64_t leftovers) {
  if (leftovers == 0) return;
  console.Text(texts::kLabelNote);
  console.Decimal(leftovers);
  console.Text(leftovers == 1 ? texts::kLeftoverOne : texts::kLeftoverMany);
  console.LineEnds();
}

void RenderCheckEnd(Console& console, const ImageCheck& check) {
  const int findings = check.table.Count(check.files);
  TableHead(console, check, findings);
  TableFindingLines(console, check);
  LeftoversLine(console, check.leftovers);
  console.Text(texts::kLabelSummary);
  console.Text(texts::kSummaryFiles);
  console.Decimal(check.files.size());
  console.Text(texts::kSummaryAccepted);
  console.Decimal(CountOf(check.files, FileVerdict::kAccepted));
  console.Text(texts::kSummaryRefused);
  console.Decimal(CountOf(check.files, FileVerdict::kRefused));
  console.Text(texts::kSummaryNotChecked);
  console.Decimal(CountOf(check.files, FileVerdict::kNotChecked));
  console.Text(texts::kSummaryFindings);
  console.Decimal(static_cast<std::uint64_t>(findings));
  console.LineEnds();
  if (CountOf(check.files, FileVerdict::kRefused) > 0) {
    console.Text(texts::kImageRefused);
  } else if (CountOf(check.files, FileVerdict::kNotChecked) > 0) {
    console.Text(texts::kImageUndecided);
  } else {
    console.Text(texts::kImageAccepted);
  }
  console.LineEnds();
  KeyLine(console, check.KeyFit());
}

void WriteCheckJson(std::ostream& out, const ImageCheck& check, std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kCheckSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("check")).Field("folder", QuotedName(check.folder));
  json.Field("kind", Quoted(check.disc ? "disc_image" : "persistent_storage"));
  json.Open('[', "files");
  for (const CheckedFile& file : check.files) FileJson(json, file, check.table.counter);
  json.Close(']');
  TableJson(json, check);
  json.Open('{', "summary");
  json.Number("files", check.files.size());
  json.Number("accepted", CountOf(check.files, FileVerdict::kAccepted));
  json.Number("refused", CountOf(check.files, FileVerdict::kRefused));
  json.Number("not_checked", CountOf(check.files, FileVerdict::kNotChecked));
  json.Number("table_findings", static_cast<std::uint64_t>(check.table.Count(check.files)));
  json.Field("key", KeyVerdictJson(check.KeyFit()));
  if (check.leftovers > 0) json.Number("leftovers", check.leftovers);
  json.Close('}');
  json.Number("exit_status", std::uint64_t{check.NeedsAttention() ? 1u : 0u});
  json.Close('}');
  out << '\n' << std::flush;
}

void RenderAddedFile(Console& console, const AddedFile& file) {
  FileLineStart(console, file.added ? texts::kLabelAdded : texts::kLabelNotAdded, file.input,
                file.type);
  if (file.reason != AddReason::kNone) {
    console.Text(": ");
    AddReasonLine(console, file);
  } else if (file.lastEntry > 0) {
    console.Text(": ");
    if (file.firstEntry == file.lastEntry) {
      console.Text(texts::kAddEntry);
      console.Decimal(file.firstEntry);
    } else {
      console.Text(texts::kAddEntries);
      console.Decimal(file.firstEntry);
      console.Text("-");
      console.Decimal(file.lastEntry);
    }
  }
  if (file.replaced) {
    console.Text(file.lastEntry > 0 ? "; " : ": ");
    console.Text(texts::kAddReplaced);
    if (file.entriesLeftUnused > 0) {
      console.Text(texts::kAddLeftUnusedBefore);
      console.Decimal(file.entriesLeftUnused);
      console.Text(file.entriesLeftUnused == 1 ? texts::kAddLeftUnusedAfterOne
                                               : texts::kAddLeftUnusedAfter);
    }
  }
  console.LineEnds();
}

void RenderAddSummary(Console& console, const ImageAdd& add, std::string_view image) {
  const std::uint64_t added = AddedCount(add);
  console.Text(texts::kLabelSummary);
  console.Text(texts::kSummaryFiles);
  console.Decimal(add.files.size());
  console.Text(texts::kSummaryAdded);
  console.Decimal(added);
  console.Text(texts::kSummaryNotAdded);
  console.Decimal(add.files.size() - added);
  console.LineEnds();
  const bool leftUnused =
      std::any_of(add.files.begin(), add.files.end(),
                  [](const AddedFile& file) { return file.entriesLeftUnused > 0; });
  if (leftUnused) HintLine(console, texts::kHintCompactUnused, image);
}

void WriteAddJson(std::ostream& out, const ImageAdd& add, std::string_view image,
                  std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kAddSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("add")).Field("image", QuotedName(image));
  json.Open('[', "files");
  for (const AddedFile& file : add.files) AddedFileJson(json, file);
  json.Close(']');
  const std::uint64_t added = AddedCount(add);
  json.Open('{', "summary");
  json.Number("files", add.files.size());
  json.Number("added", added).Number("not_added", add.files.size() - added);
  json.Close('}');
  json.Number("exit_status", std::uint64_t{add.NeedsAttention() ? 1u : 0u});
  json.Close('}');
  out << '\n' << std::flush;
}

void RenderInit(Console& console, const ImageInit& init, std::string_view image) {
  const auto line = [&](bool made, std::string_view path) {
    console.Text(made ? texts::kLabelCreated : texts::kLabelExisting);
    console.Name(path);
  };
  line(init.madeFolder, image);
  console.LineEnds();
  line(init.madeDiscFolder, init.discFolder);
  console.LineEnds();
  line(true, init.table);
  console.Text(texts::kInitTableBefore);
  console.Decimal(init.tableLength);
  console.Text(texts::kInitTableAfter);
  console.LineEnds();
  console.Text(texts::kLabelSummary);
  console.Text(texts::kInitSummary);
  console.Name(image);
  console.LineEnds();
}

void WriteInitJson(std::ostream& out, const ImageInit& init, std::string_view image,
                   std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kInitSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("init")).Field("image", QuotedName(image));
  json.Field("disc_folder", QuotedName(init.discFolder)).Field("table", QuotedName(init.table));
  json.Number("table_length", init.tableLength);
  json.Bool("created_image_folder", init.madeFolder);
  json.Bool("created_disc_folder", init.madeDiscFolder);
  json.Bool("created_table_folder", init.madeTableFolder);
  json.Number("exit_status", 0);
  json.Close('}');
  out << '\n' << std::flush;
}

void RenderExtractedFile(Console& console, const ExtractedFile& file, std::uint32_t tableCounter) {
  const CheckedFile& checked = file.file;
  FileLineStart(console, LabelOf(checked.verdict), checked.name, checked.type);
  const bool accepted = checked.verdict == FileVerdict::kAccepted;
  if (!accepted) {
    console.Text(": ");
    Reason(console, checked, tableCounter);
  }
  if (!file.extracted) {
    console.Text(accepted ? ": " : "; ");
    console.Text(texts::kExtractNotExtracted);
    if (file.reason != ExtractReason::kNotRestored && file.reason != ExtractReason::kNone) {
      console.Text(": ");
      ExtractReasonLine(console, file);
    }
  }
  console.LineEnds();
}

void RenderExtractSummary(Console& console, const ImageExtract& extract) {
  const ExtractCounts counts = CountsOf(extract);
  LeftoversLine(console, extract.leftovers);
  console.Text(texts::kLabelSummary);
  console.Text(texts::kSummaryFiles);
  console.Decimal(extract.files.size());
  console.Text(texts::kSummaryExtracted);
  console.Decimal(counts.extracted);
  console.Text(texts::kSummaryAccepted);
  console.Decimal(counts.accepted);
  console.Text(texts::kSummaryRefused);
  console.Decimal(counts.refused);
  console.Text(texts::kSummaryNotExtracted);
  console.Decimal(extract.files.size() - counts.extracted);
  console.LineEnds();
  KeyLine(console, extract.KeyFit());
}

void WriteExtractJson(std::ostream& out, const ImageExtract& extract, std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kExtractSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("extract")).Field("image", QuotedName(extract.folder));
  json.Field("kind", Quoted(extract.disc ? "disc_image" : "persistent_storage"));
  json.Field("output", QuotedName(extract.output));
  json.Open('[', "files");
  for (const ExtractedFile& file : extract.files) {
    json.Open('{');
    FileFields(json, file.file, extract.tableCounter);
    json.Bool("extracted", file.extracted);
    json.Field("result", file.result.empty() ? "null" : QuotedName(file.result));
    const bool reason = !file.extracted;
    json.Field("extract_reason",
               reason ? Quoted(kExtractReasonKeys[static_cast<std::size_t>(file.reason)]) : "null");
    json.Field("extract_message", reason ? Quoted(Rendered([&](Console& c) {
                 if (file.reason == ExtractReason::kNotRestored) {
                   Reason(c, file.file, extract.tableCounter);
                 } else {
                   ExtractReasonLine(c, file);
                 }
               }))
                                         : "null");
    json.Close('}');
  }
  json.Close(']');
  const ExtractCounts counts = CountsOf(extract);
  json.Open('{', "summary");
  json.Number("files", extract.files.size());
  json.Number("extracted", counts.extracted);
  json.Number("accepted", counts.accepted);
  json.Number("refused", counts.refused);
  json.Number("not_checked", counts.notChecked);
  json.Number("not_extracted", extract.files.size() - counts.extracted);
  json.Field("key", KeyVerdictJson(extract.KeyFit()));
  if (extract.leftovers > 0) json.Number("leftovers", extract.leftovers);
  json.Close('}');
  json.Number("exit_status", std::uint64_t{extract.NeedsAttention() ? 1u : 0u});
  json.Close('}');
  out << '\n' << std::flush;
}

void RenderCompact(Console& console, const ImageCompact& compact, bool remove, bool quiet) {
  for (const std::string& name : compact.removed) {
    if (quiet) break;
    console.Text(texts::kLabelRemoved);
    console.Name(name);
    console.LineEnds();
  }
  for (const CompactedFile& file : compact.files) {
    if (quiet) break;
    FileLineStart(console, file.rewritten ? texts::kLabelRenumbered : texts::kLabelUnchanged,
                  file.name, file.type);
    EntriesOf(console, file.firstEntry, file.lastEntry);
    console.LineEnds();
  }
  TableLine(console);
  console.Text(texts::kCompactCounter);
  console.Decimal(compact.counterBefore);
  console.Text(texts::kCompactTo);
  console.Decimal(compact.counterAfter);
  console.Text(texts::kCompactLength);
  console.Decimal(compact.lengthBefore);
  console.Text(texts::kCompactTo);
  console.Decimal(compact.lengthAfter);
  console.Text(texts::kCompactBytes);
  console.Text(texts::kCompactOrphans);
  console.Decimal(compact.orphansDropped);
  console.Text(texts::kCompactCopies);
  console.Decimal(compact.copiesMade);
  console.LineEnds();
  const std::uint64_t rewritten = RewrittenCount(compact);
  console.Text(texts::kLabelSummary);
  console.Text(texts::kSummaryFiles);
  console.Decimal(compact.files.size());
  console.Text(texts::kSummaryRenumbered);
  console.Decimal(rewritten);
  console.Text(texts::kSummaryUnchanged);
  console.Decimal(compact.files.size() - rewritten);
  if (remove) {
    console.Text(texts::kSummaryRemoved);
    console.Decimal(compact.removed.size());
  }
  console.LineEnds();
}

void WriteCompactJson(std::ostream& out, const ImageCompact& compact, std::string_view command,
                      std::string_view image, std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kCompactSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted(command)).Field("image", QuotedName(image));
  json.Open('[', "files");
  for (const CompactedFile& file : compact.files) {
    json.Open('{');
    json.Field("name", QuotedName(file.name)).Bool("name_is_utf8", IsUtf8(file.name));
    json.Field("type",
               file.type ? Quoted(kTypeKeys[static_cast<std::size_t>(*file.type)]) : "null");
    json.Number("numbers", file.numbers);
    const bool entries = file.lastEntry > 0;
    json.Field("first_entry", entries ? std::to_string(file.firstEntry) : "null");
    json.Field("last_entry", entries ? std::to_string(file.lastEntry) : "null");
    json.Bool("rewritten", file.rewritten);
    json.Close('}');
  }
  json.Close(']');
  if (command == "remove") {
    json.Open('[', "removed");
    for (const std::string& name : compact.removed) {
      json.Open('{');
      json.Field("name", QuotedName(name)).Bool("name_is_utf8", IsUtf8(name));
      json.Close('}');
    }
    json.Close(']');
  }
  json.Open('{', "table");
  json.Number("counter_before", compact.counterBefore);
  json.Number("counter_after", compact.counterAfter);
  json.Number("length_before", compact.lengthBefore);
  json.Number("length_after", compact.lengthAfter);
  json.Number("orphans_dropped", compact.orphansDropped);
  json.Number("copies_made", compact.copiesMade);
  json.Close('}');
  json.Number("exit_status", std::uint64_t{compact.NeedsAttention() ? 1u : 0u});
  json.Close('}');
  out << '\n' << std::flush;
}

// One line for the source's files left out of the image, each by name.
void ExcludedLine(Console& console, const std::vector<std::string>& excluded) {
  if (excluded.empty()) return;
  console.Text(texts::kLabelExcluded);
  console.Decimal(excluded.size());
  console.Text(excluded.size() == 1 ? texts::kExcludedOne : texts::kExcludedMany);
  for (std::size_t i = 0; i < excluded.size(); ++i) {
    if (i > 0) console.Text(", ");
    console.Name(excluded[i]);
  }
  console.LineEnds();
}

void RenderBuild(Console& console, const ImageBuild& build, bool quiet) {
  const BuildCounts counts = CountsOf(build);
  if (build.dryRun) {
    console.Text(texts::kLabelDryRun);
    console.Text(texts::kBuildDryRun);
    console.LineEnds();
  } else if (counts.refused > 0) {
    console.Text(texts::kLabelNotDone);
    console.Text(texts::kBuildNotDone);
    console.LineEnds();
  }
  for (const BuiltFile& file : build.files) {
    if (quiet && file.action != BuildAction::kRefused) continue;
    FileLineStart(console, BuildLabel(file.action), file.name, file.type);
    if (file.action == BuildAction::kRefused) {
      console.Text(": ");
      console.Text(AddReasonText(file.reason));
    } else if (file.action != BuildAction::kRemove) {
      EntriesOf(console, file.firstEntry, file.lastEntry);
    }
    console.LineEnds();
  }
  console.Text(texts::kLabelSummary);
  console.Text(texts::kSummaryFiles);
  console.Decimal(build.files.size());
  if (counts.refused > 0) {
    console.Text(texts::kSummaryNotAdded);
    console.Decimal(counts.refused);
    console.Text(texts::kBuildNothingChanged);
  } else {
    console.Text(texts::kSummaryAdded);
    console.Decimal(counts.added);
    console.Text(texts::kSummaryReplaced);
    console.Decimal(counts.replaced);
    console.Text(texts::kSummaryRemoved);
    console.Decimal(counts.removed);
    console.Text(texts::kSummaryUnchanged);
    console.Decimal(counts.kept);
  }
  console.LineEnds();
  ExcludedLine(console, build.excluded);
}

void WriteBuildJson(std::ostream& out, const ImageBuild& build, std::string_view source,
                    std::string_view image, std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kBuildSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("build"));
  json.Field("source", QuotedName(source)).Field("image", QuotedName(image));
  json.Bool("dry_run", build.dryRun);
  json.Open('[', "excluded");
  for (const std::string& name : build.excluded) json.Field({}, QuotedName(name));
  json.Close(']');
  json.Open('[', "files");
  for (const BuiltFile& file : build.files) {
    json.Open('{');
    json.Field("name", QuotedName(file.name)).Bool("name_is_utf8", IsUtf8(file.name));
    json.Field("type",
               file.type ? Quoted(kTypeKeys[static_cast<std::size_t>(*file.type)]) : "null");
    json.Field("action", Quoted(kBuildActionKeys[static_cast<std::size_t>(file.action)]));
    const bool refused = file.action == BuildAction::kRefused;
    json.Field("reason",
               refused ? Quoted(kAddReasonKeys[static_cast<std::size_t>(file.reason)]) : "null");
    json.Field("message",
               refused ? Quoted(Rendered([&](Console& c) { c.Text(AddReasonText(file.reason)); }))
                       : "null");
    const bool entries = !refused && file.action != BuildAction::kRemove && file.lastEntry > 0;
    json.Field("first_entry", entries ? std::to_string(file.firstEntry) : "null");
    json.Field("last_entry", entries ? std::to_string(file.lastEntry) : "null");
    json.Close('}');
  }
  json.Close(']');
  json.Open('{', "table");
  json.Number("counter_before", build.counterBefore);
  json.Number("counter_after", build.counterAfter);
  json.Close('}');
  const BuildCounts counts = CountsOf(build);
  json.Open('{', "summary");
  json.Number("files", build.files.size());
  json.Number("added", counts.added).Number("replaced", counts.replaced);
  json.Number("removed", counts.removed).Number("kept", counts.kept);
  json.Number("refused", counts.refused);
  json.Close('}');
  json.Number("exit_status", std::uint64_t{build.NeedsAttention() ? 1u : 0u});
  json.Close('}');
  out << '\n' << std::flush;
}

}  // namespace velador

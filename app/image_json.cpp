#include "app/image_json.h"

#include <array>
#include <cstdio>
#include <string>

#include "app/texts.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "image_report_parts.h"

namespace velador {

namespace {

using texts::Text;
using namespace report;

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

// Its key in the documents; every ContainerType has one (the compiler checks the switch).
std::string_view TypeKey(ContainerType value) {
  switch (value) {
    case ContainerType::kEncryption:
      return "encryption";
    case ContainerType::kEncryptionHash:
      return "encryption_and_hash";
    case ContainerType::kMac:
      return "mac";
    case ContainerType::kHash:
      return "hash";
    case ContainerType::kNonProtected:
      return "non_protected";
  }
  return {};
}

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

// Its key in the documents; every FileReason has one (the compiler checks the switch).
std::string_view ReasonKey(FileReason value) {
  switch (value) {
    case FileReason::kNone:
      return "";
    case FileReason::kUnreadable:
      return "unreadable";
    case FileReason::kNoKey:
      return "no_key";
    case FileReason::kFolder:
      return "folder";
    case FileReason::kNotRegular:
      return "not_regular_file";
    case FileReason::kNotContainer:
      return "not_container";
    case FileReason::kUnknownType:
      return "unknown_type";
    case FileReason::kTooShort:
      return "too_short";
    case FileReason::kNameTooLong:
      return "name_too_long";
    case FileReason::kCutShort:
      return "cut_short";
    case FileReason::kWrongKey:
      return "wrong_key";
    case FileReason::kNoTable:
      return "no_table";
    case FileReason::kNameDiffers:
      return "name_differs";
    case FileReason::kMacDiffers:
      return "mac_differs";
    case FileReason::kEntryDiffers:
      return "entry_differs";
    case FileReason::kNoEntry:
      return "no_entry";
    case FileReason::kPastCounter:
      return "past_counter";
    case FileReason::kOutsideBody:
      return "outside_body";
    case FileReason::kNoNumbers:
      return "no_numbers";
  }
  return {};
}

bool NamesUnit(FileReason reason) {
  return reason == FileReason::kEntryDiffers || reason == FileReason::kNoEntry ||
         reason == FileReason::kPastCounter || reason == FileReason::kOutsideBody;
}

// The members of a checked file's object.
void FileFields(Json& json, const CheckedFile& file, std::uint32_t counter) {
  json.Field("name", QuotedName(file.name)).Bool("name_is_utf8", IsUtf8(file.name));
  json.Field("type", file.type ? Quoted(TypeKey(*file.type)) : "null");
  json.Number("size", file.size);
  json.Field("verdict", Quoted(VerdictKey(file.verdict)));
  const bool refused = file.verdict != FileVerdict::kAccepted;
  json.Field("reason", refused ? Quoted(ReasonKey(file.reason)) : "null");
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

// Its key in the documents; every AddReason has one (the compiler checks the switch).
std::string_view AddReasonKey(AddReason value) {
  switch (value) {
    case AddReason::kNone:
      return "";
    case AddReason::kNotFound:
      return "not_found";
    case AddReason::kAlreadyContainer:
      return "already_container";
    case AddReason::kTooLarge:
      return "too_large";
    case AddReason::kNoKey:
      return "no_key";
    case AddReason::kNameTooLong:
      return "name_too_long";
    case AddReason::kPathTooLong:
      return "path_too_long";
    case AddReason::kSameFile:
      return "same_file";
    case AddReason::kExists:
      return "exists";
    case AddReason::kCannotCreate:
      return "cannot_create";
    case AddReason::kNoTable:
      return "no_table";
    case AddReason::kDuplicate:
      return "duplicate";
    case AddReason::kReadFailure:
      return "read_failure";
    case AddReason::kWriteFailure:
      return "write_failure";
    case AddReason::kTableFull:
      return "table_full";
    case AddReason::kTableNotUpdated:
      return "table_not_updated";
    case AddReason::kReservedName:
      return "reserved_name";
  }
  return {};
}

void AddedFileJson(Json& json, const AddedFile& file) {
  json.Open('{');
  json.Field("input", QuotedName(file.input)).Bool("input_is_utf8", IsUtf8(file.input));
  json.Field("name", QuotedName(NameOf(file.input)));
  json.Field("type", file.type ? Quoted(TypeKey(*file.type)) : "null");
  json.Bool("added", file.added);
  const bool reason = file.reason != AddReason::kNone;
  json.Field("reason", reason ? Quoted(AddReasonKey(file.reason)) : "null");
  json.Field("message",
             reason ? Quoted(Rendered([&](Console& c) { AddReasonLine(c, file); })) : "null");
  const bool entries = file.lastEntry > 0;
  json.Field("first_entry", entries ? std::to_string(file.firstEntry) : "null");
  json.Field("last_entry", entries ? std::to_string(file.lastEntry) : "null");
  json.Bool("replaced", file.replaced);
  json.Number("entries_left_unused", file.entriesLeftUnused);
  json.Close('}');
}

// Its key in the documents; every ExtractReason has one (the compiler checks the switch).
std::string_view ExtractReasonKey(ExtractReason value) {
  switch (value) {
    case ExtractReason::kNone:
      return "";
    case ExtractReason::kNotRestored:
      return "not_restored";
    case ExtractReason::kExists:
      return "exists";
    case ExtractReason::kPathTooLong:
      return "path_too_long";
    case ExtractReason::kSameFile:
      return "same_file";
    case ExtractReason::kCannotCreate:
      return "cannot_create";
    case ExtractReason::kWriteFailure:
      return "write_failure";
    case ExtractReason::kNameTaken:
      return "name_taken";
  }
  return {};
}

// Its key in the documents; every BuildAction has one (the compiler checks the switch).
std::string_view BuildActionKey(BuildAction value) {
  switch (value) {
    case BuildAction::kAdd:
      return "add";
    case BuildAction::kReplace:
      return "replace";
    case BuildAction::kRemove:
      return "remove";
    case BuildAction::kKeep:
      return "keep";
    case BuildAction::kRefused:
      return "refused";
  }
  return {};
}

// Where an image was read from: its folder, or a disc image file holding its file system.
std::string_view SourceJson(bool inFile) { return inFile ? "image_file" : "folder"; }

}  // namespace

void WriteCheckJson(std::ostream& out, const ImageCheck& check, std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kCheckSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("check")).Field("folder", QuotedName(check.folder));
  json.Field("source", Quoted(SourceJson(check.inFile)));
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

void WriteExtractJson(std::ostream& out, const ImageExtract& extract, std::string_view version) {
  Json json(out);
  json.Open('{');
  json.Number("schema_version", kExtractSchemaVersion);
  json.Field("program", Quoted("velador-image")).Field("version", Quoted(version));
  json.Field("command", Quoted("extract")).Field("image", QuotedName(extract.folder));
  json.Field("source", Quoted(SourceJson(extract.inFile)));
  json.Field("kind", Quoted(extract.disc ? "disc_image" : "persistent_storage"));
  json.Field("output", QuotedName(extract.output));
  json.Open('[', "files");
  for (const ExtractedFile& file : extract.files) {
    json.Open('{');
    FileFields(json, file.file, extract.tableCounter);
    json.Bool("extracted", file.extracted);
    json.Field("result", file.result.empty() ? "null" : QuotedName(file.result));
    const bool reason = !file.extracted;
    json.Field("extract_reason", reason ? Quoted(ExtractReasonKey(file.reason)) : "null");
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
    json.Field("type", file.type ? Quoted(TypeKey(*file.type)) : "null");
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
    json.Field("type", file.type ? Quoted(TypeKey(*file.type)) : "null");
    json.Field("action", Quoted(BuildActionKey(file.action)));
    const bool refused = file.action == BuildAction::kRefused;
    json.Field("reason", refused ? Quoted(AddReasonKey(file.reason)) : "null");
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

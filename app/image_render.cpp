#include "app/image_render.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <sstream>
#include <string>

#include "app/texts.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "image_report_parts.h"

namespace velador {

namespace {

using texts::Text;
using namespace report;

using texts::TypeName;

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

// One line for the temporary files a stopped run left, and how they go.
void LeftoversLine(Console& console, std::uint64_t leftovers) {
  if (leftovers == 0) return;
  console.Text(texts::kLabelNote);
  console.Decimal(leftovers);
  console.Text(leftovers == 1 ? texts::kLeftoverOne : texts::kLeftoverMany);
  console.LineEnds();
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

}  // namespace

namespace report {

using texts::Text;

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

// The Catalan reason of an added file's line, as it follows ": ".
void AddReasonLine(Console& console, const AddedFile& file) {
  console.Text(AddReasonText(file.reason));
  if (file.reason == AddReason::kExists) {
    console.Name(file.result);
    console.Text(texts::kAddExistsAdvice);
  }
}

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

std::uint64_t AddedCount(const ImageAdd& add) {
  return static_cast<std::uint64_t>(std::count_if(add.files.begin(), add.files.end(),
                                                  [](const AddedFile& f) { return f.added; }));
}

}  // namespace report

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

void RenderCheckedFile(Console& console, const CheckedFile& file, std::uint32_t tableCounter) {
  FileLineStart(console, LabelOf(file.verdict), file.name, file.type);
  if (file.verdict != FileVerdict::kAccepted) {
    console.Text(": ");
    Reason(console, file, tableCounter);
  }
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

}  // namespace velador

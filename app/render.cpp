#include "app/render.h"

#include "app/texts.h"

namespace velador {

namespace {

using texts::Text;

Text Matches(bool matches, Text yes, Text no) { return matches ? yes : no; }

void Encapsulated(Console& console) {
  console.LineEnds();
  console.Text(texts::kEncapsulated);
}

void Decapsulated(Console& console) {
  console.LineEnds();
  console.Text(texts::kDecapsulated);
  console.LineEnds();
}

// One line end, the verdict's lines, one line end.
void Verdict(Console& console, Text text) {
  console.LineEnds();
  console.Text(text);
  console.LineEnds();
}

void KeyReport(Console& console, Text title, const Key& key) {
  console.LineEnds();
  console.Text(title);
  console.ByteDump(key.data(), texts::kEncapsulationDumpIndent);
  console.LineEnds(4);
}

void DecipheredKey(Console& console, Text title, const Key& key) {
  console.LineEnds();
  console.Text(title);
  console.ByteDump(key.data(), texts::kDecapsulationDumpIndent);
  console.LineEnds();
}

void DigestTailLine(Console& console, const DigestTail& tail) {
  console.LineEnds();
  console.Text(texts::kHashObtained);
  console.HexValues(tail.data(), tail.size());
}

void EncipheredNameVerdict(Console& console, bool nameMatches) {
  Verdict(console,
          Matches(nameMatches, texts::kEncipheredNameMatches, texts::kEncipheredNameDiffers));
  console.Text(Matches(nameMatches, texts::kPlayerAccepts20, texts::kPlayerRejects20));
  console.LineEnds(4);
}

// The MAC and Hash verdicts: the stored check, the stored name, then the player.
void StoredVerdicts(Console& console, Text checkVerdict, const OperationReport& report) {
  Decapsulated(console);
  Verdict(console, checkVerdict);
  Verdict(console,
          Matches(report.nameMatches, texts::kStoredNameMatches14, texts::kStoredNameDiffers14));
  console.LineEnds();
  console.Text(Matches(report.PlayerAccepts(), texts::kPlayerAccepts14, texts::kPlayerRejects14));
  console.LineEnds(4);
}

void HashTableMissing(Console& console, std::string_view tablePath) {
  console.LineEnds();
  console.Text(texts::kRestoredWithoutTable);
  console.LineEnds();
  Verdict(console, texts::kHashTableMissing);
  console.LineEnds();
  console.Text(texts::kExpectedTablePath);
  console.Path(tablePath);
  console.LineEnds(4);
}

void UnitTableMissing(Console& console, std::string_view tablePath) {
  console.LineEnds();
  console.Text(texts::kUnitTableMissing);
  console.LineEnds(2);
  console.Text(texts::kUnitExpectedTablePath);
  console.LineEnds();
  console.Text(texts::kUnitExpectedTablePathIndent);
  console.Path(tablePath);
  console.LineEnds(4);
}

void UnitVerdicts(Console& console, const OperationReport& report) {
  console.LineEnds();
  if (report.contentMatches) {
    console.Text(texts::kUnitHashesMatch);
    console.LineEnds();
    console.Text(texts::kUnitsCheckedBefore);
    console.Decimal(report.unitsChecked);
    console.Text(texts::kUnitsCheckedAfter);
    console.LineEnds();
    console.Text(texts::kPlayerAccepts20);
  } else {
    console.Text(texts::kUnitHashesDiffer);
    console.LineEnds();
    console.Text(texts::kUnitsCheckedDiffer);
    console.LineEnds();
    console.Text(texts::kPlayerRejects20);
  }
  console.LineEnds();
  Verdict(console,
          Matches(report.nameMatches, texts::kStoredNameMatches20, texts::kStoredNameDiffers20));
  console.LineEnds();
  console.Text(Matches(report.PlayerAccepts(), texts::kPlayerAccepts20, texts::kPlayerRejects20));
  console.LineEnds(4);
}

void RenderEncapsulation(Console& console, const OperationReport& report) {
  Encapsulated(console);
  switch (report.type) {
    case ContainerType::kNonProtected:
      KeyReport(console, texts::kNameEnciphered, report.key);
      break;
    case ContainerType::kEncryption:
      KeyReport(console, texts::kFileEnciphered, report.key);
      break;
    case ContainerType::kMac:
      console.LineEnds();
      console.Text(texts::kMacObtained);
      console.LineEnds();
      console.ByteDump(report.tag.data(), texts::kMacDumpIndent);
      console.LineEnds(4);
      break;
    case ContainerType::kHash:
      DigestTailLine(console, report.digestTail);
      console.LineEnds(4);
      break;
    case ContainerType::kEncryptionHash:
      DigestTailLine(console, report.digestTail);
      console.LineEnds();
      KeyReport(console, texts::kFileEnciphered, report.key);
      break;
  }
}

void RenderDecapsulation(Console& console, const OperationReport& report,
                         std::string_view tablePath) {
  switch (report.type) {
    case ContainerType::kNonProtected:
      Decapsulated(console);
      EncipheredNameVerdict(console, report.nameMatches);
      break;
    case ContainerType::kEncryption:
      Decapsulated(console);
      DecipheredKey(console, texts::kDecipheredNoColon, report.key);
      EncipheredNameVerdict(console, report.nameMatches);
      console.LineEnds(4);
      break;
    case ContainerType::kMac:
      StoredVerdicts(
          console, Matches(report.contentMatches, texts::kMacMatches, texts::kMacDiffers), report);
      break;
    case ContainerType::kHash:
      if (!report.tableFound) {
        HashTableMissing(console, tablePath);
      } else {
        StoredVerdicts(console,
                       Matches(report.contentMatches, texts::kHashMatches, texts::kHashDiffers),
                       report);
      }
      break;
    case ContainerType::kEncryptionHash:
      Decapsulated(console);
      DecipheredKey(console, texts::kDecipheredWithColon, report.key);
      if (report.tableFound) {
        UnitVerdicts(console, report);
      } else {
        UnitTableMissing(console, tablePath);
      }
      console.LineEnds(4);
      break;
  }
}

}  // namespace

void PrintHelp(Console& console) {
  console.LineEnds();
  for (Text line : texts::kHelpLines) {
    console.Text(line);
    console.LineEnds();
  }
  console.LineEnds();
}

void RenderOperationStart(Console& console, std::string_view resultPath, ContainerType type,
                          Direction direction) {
  console.LineEnds();
  console.Text(texts::kResultPath);
  console.Path(resultPath);
  console.LineEnds();
  console.Text(texts::Announcement(type, direction));
  console.LineEnds();
}

void PrintRefusal(Console& console, Refusal refusal, bool forDisc, std::string_view tablePath) {
  switch (refusal) {
    case Refusal::kInputNotFound:
      console.ErrorBlock({texts::kInputNotFound});
      return;
    case Refusal::kAlreadyContainer:
      console.ErrorBlock({texts::kAlreadyContainer});
      return;
    case Refusal::kTooLarge:
      console.ErrorBlock({texts::kInputTooLarge});
      return;
    case Refusal::kNameTooLong:
      console.ErrorBlock({texts::kNameTooLong});
      return;
    case Refusal::kPathTooLong:
      console.ErrorBlock({texts::kPathTooLong});
      return;
    case Refusal::kSameFile:
    case Refusal::kResultExists:
      console.ErrorBlock({texts::kSameFile, texts::kSameFileAdvice});
      return;
    case Refusal::kCannotCreate:
      console.ErrorBlock(
          {forDisc ? texts::kNoDiscFolder : texts::kNoOutputFolder, texts::kCheckWritable});
      return;
    case Refusal::kNoTable:
      console.ErrorBlock({texts::kNoTable,
                          texts::kNoTableConsequence,
                          texts::kNoTableExpected,
                          {texts::kNoTablePathIndent, tablePath}});
      return;
    case Refusal::kNone:
      return;
  }
}

void RenderReport(Console& console, const OperationReport& report, std::string_view tablePath) {
  for (TableEvent event : report.tableEvents) {
    console.Text(event == TableEvent::kFull ? texts::kTableFull : texts::kTableNotUpdated);
    console.LineEnds();
  }
  switch (report.failure) {
    case Failure::kRead:
      console.ErrorBlock({texts::kReadFailure});
      return;
    case Failure::kWrite:
      console.ErrorBlock({texts::kWriteFailure});
      return;
    case Failure::kNone:
      break;
  }
  if (report.direction == Direction::kEncapsulate) {
    RenderEncapsulation(console, report);
  } else {
    RenderDecapsulation(console, report, tablePath);
  }
}

}  // namespace velador

#include <array>
#include <cstdio>
#include <optional>
#include <string>

#include "app/front_end.h"
#include "app/messages.h"
#include "encapsulation/container_layout.h"
#include "encapsulation/content_hash_table.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

struct ExtensionRow {
  std::string_view extension;
  int forDisc;
  int forStorage;
};

// Compared in this order on the last three characters of the path, folded to lower case; no
// dot is looked for, so ".js" keeps its dot and "menuxml" counts as xml.
constexpr std::array<ExtensionRow, 17> kExtensionTable = {{
    {"jpg", kEncryption, kEncryption},
    {"png", kEncryption, kEncryption},
    {"mng", kEncryption, kEncryption},
    {"cvi", kEncryption, kEncryption},
    {"cdw", kEncryption, kEncryption},
    {"otf", kEncryption, kEncryption},
    {"ttf", kEncryption, kEncryption},
    {"ttc", kEncryption, kEncryption},
    {".js", kEncryptionHash, kMac},
    {"xml", kHash, kMac},
    {"xpl", kHash, kMac},
    {"xmf", kHash, kMac},
    {"xmu", kHash, kMac},
    {"xts", kHash, kMac},
    {"xas", kHash, kMac},
    {"xss", kHash, kMac},
    {"xul", kHash, kMac},
}};

int TypeFromName(std::string_view path, bool forDisc) {
  if (path.size() < 3) return kNonProtected;
  std::string extension(path.substr(path.size() - 3));
  for (char& c : extension) c = FoldLetter(c);
  for (const ExtensionRow& row : kExtensionTable) {
    if (row.extension == extension) return forDisc ? row.forDisc : row.forStorage;
  }
  return kNonProtected;
}

int TypeFromCode(std::optional<std::uint8_t> code) {
  if (!code) return kRefused;
  switch (*code) {
    case layout::kEncryptionCode:
      return kEncryption;
    case layout::kEncryptionHashCode:
      return kEncryptionHash;
    case layout::kMacCode:
      return kMac;
    case layout::kHashCode:
      return kHash;
    case layout::kNonProtectedCode:
      return kNonProtected;
    default:
      return kRefused;
  }
}

bool UsesTable(int typeNumber) {
  return typeNumber == kEncryptionHash || typeNumber == kHash;
}

// The table of the disc image a container lies in: the container's path cut before its
// second-to-last separator ("/" or "\"), then the table's place in the image.
std::string TablePathOfContainer(std::string_view containerPath) {
  std::size_t last = containerPath.find_last_of("/\\");
  std::size_t cut = 0;
  if (last != std::string_view::npos && last > 0) {
    std::size_t previous = containerPath.find_last_of("/\\", last - 1);
    if (previous != std::string_view::npos) cut = previous;
  }
  return std::string(containerPath.substr(0, cut)) + std::string(layout::kTableSuffix);
}

// The shortest container of each type that holds its whole fixed part.
std::uint64_t MinimumContainerLength(int typeNumber, const std::uint8_t* header,
                                     std::size_t headerRead) {
  switch (typeNumber) {
    case kMac:
      return layout::kContentOffset + layout::kMacLength;
    case kHash:
      return layout::kContentOffset + layout::kEntryNumberLength;
    case kEncryptionHash:
      if (headerRead < layout::kHeaderLength) return layout::kContentOffset;
      return layout::kContentOffset + std::uint64_t{DecodeNumber(header + layout::kSizeOffset)};
    default:
      return layout::kContentOffset;
  }
}

// What the classification needs from the input file: its length and first bytes.
struct InputStart {
  std::uint64_t length = 0;
  std::array<std::uint8_t, layout::kHeaderLength> bytes{};
  std::size_t read = 0;

  bool HasMagic() const {
    return read >= 4 &&
           std::equal(std::begin(layout::kMagic), std::end(layout::kMagic), bytes.begin());
  }
  std::optional<std::uint8_t> TypeCode() const {
    if (read <= layout::kTypeCodeOffset) return std::nullopt;
    return bytes[layout::kTypeCodeOffset];
  }
};

std::optional<InputStart> ReadInputStart(const char* path) {
  if (!platform::IsRegularFile(path)) return std::nullopt;
  UniqueFile file(std::fopen(path, "rb"));
  if (!file) return std::nullopt;
  InputStart start;
  auto length = platform::FileSize(file.get());
  if (!length) return std::nullopt;
  start.length = *length;
  start.read = std::fread(start.bytes.data(), 1, start.bytes.size(), file.get());
  if (std::ferror(file.get())) return std::nullopt;
  return start;
}

int ClassifyForEncapsulation(const InputStart& input, std::string_view path, bool forDisc,
                             Console& console) {
  if (input.HasMagic()) {
    console.ErrorBlock({messages::kAlreadyContainer});
    return kRefused;
  }
  if (input.length > layout::kMaxContentSize) {
    console.ErrorBlock({messages::kInputTooLarge});
    return kRefused;
  }
  return TypeFromName(path, forDisc);
}

int ClassifyForDecapsulation(const InputStart& input, std::string_view path, PathBuffer& tablePath,
                             Console& console) {
  if (!input.HasMagic()) {
    console.ErrorBlock({messages::kNotContainer});
    return kRefused;
  }
  std::string table = TablePathOfContainer(path);
  SetPath(tablePath, table);
  int typeNumber = TypeFromCode(input.TypeCode());
  if (typeNumber == kRefused) {
    console.LineEnds();
    console.Text(messages::kUnknownType);
    console.LineEnds(2);
    return kRefused;
  }
  if (input.length < MinimumContainerLength(typeNumber, input.bytes.data(), input.read)) {
    console.ErrorBlock({messages::kInputTooShort});
    return kRefused;
  }
  if (UsesTable(typeNumber) && table.size() > kMaxPathLength) {
    console.ErrorBlock({messages::kPathTooLong});
    return kRefused;
  }
  return typeNumber;
}

}  // namespace

int ClassifyInput(const PathBuffer& inputPath, PathBuffer& tablePath, int inputLength,
                  bool encapsulate, bool forDisc, Console& console) {
  std::string path(PathText(inputPath).substr(0, static_cast<std::size_t>(inputLength)));
  std::optional<InputStart> input = ReadInputStart(path.c_str());
  if (!input) {
    console.ErrorBlock({messages::kInputNotFound});
    return kRefused;
  }
  return encapsulate ? ClassifyForEncapsulation(*input, path, forDisc, console)
                     : ClassifyForDecapsulation(*input, path, tablePath, console);
}

}  // namespace velador

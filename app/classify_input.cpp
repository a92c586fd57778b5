#include "app/classify_input.h"

#include <cstdio>
#include <string>

#include "app/texts.h"
#include "encapsulation/container_layout.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

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

}  // namespace

std::optional<InputStart> ReadInputStart(const std::string& path) {
  UniqueFile file = OpenRegularFile(path);
  if (!file) return std::nullopt;
  auto length = platform::FileSize(file.get());
  if (!length) return std::nullopt;
  layout::HeaderBytes bytes{};
  std::size_t read = std::fread(bytes.data(), 1, bytes.size(), file.get());
  if (std::ferror(file.get())) return std::nullopt;
  return InputStart{*length, layout::DecodeHeader(bytes.data(), read)};
}

namespace {

std::optional<ContainerType> ClassifyForEncapsulation(const InputStart& input,
                                                      std::string_view path, bool forDisc,
                                                      Console& console) {
  if (input.header.hasMagic) {
    console.ErrorBlock({texts::kAlreadyContainer});
    return std::nullopt;
  }
  if (input.length > layout::kMaxContentSize) {
    console.ErrorBlock({texts::kInputTooLarge});
    return std::nullopt;
  }
  return TypeForName(path, forDisc);
}

std::optional<ContainerType> ClassifyForDecapsulation(const InputStart& input,
                                                      std::string_view path, PathBuffer& tablePath,
                                                      Console& console) {
  if (!input.header.hasMagic) {
    console.ErrorBlock({texts::kNotContainer});
    return std::nullopt;
  }
  std::string table = TablePathOfContainer(path);
  SetPath(tablePath, table);
  std::optional<ContainerType> type;
  if (input.header.typeCode) type = TypeOfCode(*input.header.typeCode);
  if (!type) {
    console.LineEnds();
    console.Text(texts::kUnknownType);
    console.LineEnds(2);
    return std::nullopt;
  }
  if (!layout::LocateRegions(*type, input.length, input.header.contentSize)) {
    console.ErrorBlock({texts::kInputTooShort});
    return std::nullopt;
  }
  if (FactsOf(*type).UsesTable() && table.size() > kMaxPathLength) {
    console.ErrorBlock({texts::kPathTooLong});
    return std::nullopt;
  }
  return type;
}

}  // namespace

std::optional<ContainerType> ClassifyInput(const Request& request, RunPaths& paths,
                                           Console& console) {
  const std::string path(PathText(paths.input));
  std::optional<InputStart> input = ReadInputStart(path);
  if (!input) {
    console.ErrorBlock({texts::kInputNotFound});
    return std::nullopt;
  }
  return request.direction == Direction::kEncapsulate
             ? ClassifyForEncapsulation(*input, path, request.forDisc, console)
             : ClassifyForDecapsulation(*input, path, paths.table, console);
}

}  // namespace velador

#include "app/classify_input.h"

#include <string>

#include "app/render.h"
#include "app/texts.h"
#include "image/paths.h"

namespace velador {

namespace {

std::optional<ContainerType> ClassifyForEncapsulation(const OpenedInput& input,
                                                      std::string_view path, bool forDisc,
                                                      Console& console) {
  if (const Refusal refusal = CheckInputForEncapsulation(input); refusal != Refusal::kNone) {
    PrintRefusal(console, refusal, forDisc);
    return std::nullopt;
  }
  return TypeForName(path, forDisc);
}

std::optional<ContainerType> ClassifyForDecapsulation(const OpenedInput& input,
                                                      std::string_view path, PathBuffer& tablePath,
                                                      Console& console) {
  if (!input.header.hasMagic) {
    console.ErrorBlock({texts::kNotContainer});
    return std::nullopt;
  }
  const std::string table = TablePathOfContainer(path);
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

std::optional<ClassifiedInput> ClassifyInput(const Request& request, RunPaths& paths,
                                             Console& console) {
  const std::string path(PathText(paths.input));
  std::optional<OpenedInput> input = OpenInput(path);
  if (!input) {
    PrintRefusal(console, Refusal::kInputNotFound, request.forDisc);
    return std::nullopt;
  }
  const std::optional<ContainerType> type =
      request.direction == Direction::kEncapsulate
          ? ClassifyForEncapsulation(*input, path, request.forDisc, console)
          : ClassifyForDecapsulation(*input, path, paths.table, console);
  if (!type) return std::nullopt;
  return ClassifiedInput{*type, std::move(*input)};
}

}  // namespace velador

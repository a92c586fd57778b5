#include "app/output_location.h"

#include <string>

#include "app/render.h"
#include "image/encapsulation_checks.h"

static_assert(velador::kMaxComposedPath == velador::kMaxPathLength);

namespace velador {

bool CheckOutputLocation(const Request& request, ContainerType type, RunPaths& paths,
                         Console& console) {
  DestinationRules rules;
  rules.direction = request.direction;
  rules.forDisc = request.forDisc;
  if (FactsOf(type).needsKey) rules.keyPath = std::string(PathText(paths.key));
  rules.tableRead = std::string(PathText(paths.table));
  Destination destination;
  const Refusal refusal =
      CheckDestination(PathText(paths.input), PathText(paths.output), type, rules, destination);
  if (!destination.result.empty()) {
    SetPath(paths.result, destination.result);
    SetPath(paths.fileName, destination.name);
  }
  if (!destination.table.empty()) SetPath(paths.table, destination.table);
  if (refusal == Refusal::kNone) return true;
  PrintRefusal(console, refusal, request.forDisc, destination.table);
  return false;
}

}  // namespace velador

#include "app/front_end.h"
#include "app/messages.h"

namespace velador {

void PrintHelp(Console& console) {
  console.LineEnds();
  for (messages::Text line : messages::kHelpLines) {
    console.Text(line);
    console.LineEnds();
  }
  console.LineEnds();
}

}  // namespace velador

#include "app/front_end.h"

#include <cstdio>

#include "app/classify_input.h"
#include "app/command_line.h"
#include "app/output_location.h"
#include "app/render.h"
#include "app/texts.h"
#include "encapsulation/encapsulator.h"
#include "io/checked_file.h"
#include "platform/platform.h"

namespace velador {

namespace {

// The key is the first 16 bytes of the key file; bytes past the end of a shorter file are zero.
// Only a regular file is read: a pipe or a device could keep the run waiting forever.
bool ReadKey(const PathBuffer& keyPath, Key& key) {
  UniqueFile file = OpenRegularFile(std::string(PathText(keyPath)));
  if (!file) return false;
  key.fill(0);
  (void)std::fread(key.data(), 1, key.size(), file.get());
  return !std::ferror(file.get());
}

// Keeps the console open after the help of a start without arguments (typically a double
// click) until the user answers. Without a command of the system's for it, the tool waits for
// Enter itself, but only when someone can press it, and prompts only where it can be seen.
void PauseAfterHelp(Console& console) {
  console.Flush();
  if (platform::RunPauseCommand() || !platform::IsTerminal(platform::StandardStream::kInput)) {
    return;
  }
  if (platform::IsTerminal(platform::StandardStream::kOutput)) {
    console.Text(texts::kPausePrompt);
    console.Flush();
  }
  platform::WaitForEnter();
}

void RunOperation(const Request& request, ContainerType type, const RunPaths& paths,
                  const Key& key, Console& console) {
  RenderOperationStart(console, PathText(paths.result), type, request.direction);
  OperationPaths operationPaths{std::string(PathText(paths.input)),
                                std::string(PathText(paths.result)),
                                std::string(PathText(paths.table))};
  Encapsulator encapsulator(std::move(operationPaths), PathText(paths.fileName));
  const OperationReport report = encapsulator.Run(type, request.direction, key);
  RenderReport(console, report, PathText(paths.table));
}

// Classifies the input, reads the key, checks the output location and runs the operation.
void RunCommand(const Request& request, RunPaths& paths, Console& console) {
  std::optional<ContainerType> type = ClassifyInput(request, paths, console);
  Key key{};
  if ((!type || FactsOf(*type).needsKey) && !ReadKey(paths.key, key)) {
    console.ErrorBlock({texts::kKeyFileError});
    return;
  }
  if (!type || !CheckOutputLocation(request, *type, paths, console)) return;
  RunOperation(request, *type, paths, key, console);
}

}  // namespace

int RunVelador(int argc, const char* const* argv, std::ostream& out) {
  Console console(out);
  if (argc <= 1) {
    PrintHelp(console);
    PauseAfterHelp(console);
    return 0;
  }
  if (argc == 2) {
    if (OptionLetter(argv[1]) == '?') {
      PrintHelp(console);
    } else {
      console.Text(texts::kTwoWordError);
      console.LineEnds();
    }
    return 0;
  }
  Request request;
  RunPaths paths;
  if (ParseCommandLine(argc, argv, request, paths, console)) RunCommand(request, paths, console);
  return 0;
}

}  // namespace velador

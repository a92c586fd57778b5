#include "app/front_end.h"

#include <cstdio>
#include <iostream>
#include <new>
#include <optional>

#include "app/classify_input.h"
#include "app/command_line.h"
#include "app/output_location.h"
#include "app/program_start.h"
#include "app/progress_line.h"
#include "app/render.h"
#include "app/texts.h"
#include "encapsulation/encapsulator.h"
#include "image/key_file.h"
#include "image/paths.h"
#include "image/transaction.h"
#include "image/trust.h"
#include "io/checked_file.h"
#include "platform/platform.h"
#include "platform/terminal.h"

namespace velador {

namespace {

bool ReadKey(const PathBuffer& keyPath, Key& key) {
  const std::optional<Key> read = ReadKeyFile(std::string(PathText(keyPath)));
  if (read) key = *read;
  return read.has_value();
}

void PrintUntrusted(Console& console, std::string_view path) {
  console.ErrorBlock({{texts::kImageNotTrusted, path}, texts::kImageNotTrustedAdvice});
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

// Runs the operation, showing its progress on `terminal` when there is one; the line is gone
// again when this returns.
OperationReport RunShowingProgress(Encapsulator& encapsulator, ContainerType type,
                                   std::uint64_t inputLength, Direction direction, const Key& key,
                                   std::ostream* terminal) {
  ByteCounter counter;
  encapsulator.CountReadsIn(&counter);
  std::optional<ProgressWatch> watch;
  if (terminal != nullptr) watch.emplace(*terminal, counter, inputLength);
  return encapsulator.Run(type, direction, key);
}

// An image is only read or written once it was found to be what it claims; otherwise says why.
bool ImageIsTrusted(const std::string& image, Console& console) {
  const ImageDistrust distrust = InspectImage(image);
  if (distrust.kind == Distrust::kNone) return true;
  PrintUntrusted(console, distrust.path);
  return false;
}

// Runs the operation on the input the checks opened, so that it reads what they read.
void RunOperation(const Request& request, ClassifiedInput& classified, const RunPaths& paths,
                  const Key& key, Console& console, std::ostream* progress) {
  const bool resultInImage = request.direction == Direction::kEncapsulate && request.forDisc;
  const OperationPaths operationPaths{
      std::string(PathText(paths.input)), std::string(PathText(paths.result)),
      std::string(PathText(paths.table)), 0, resultInImage ? platform::kImageFile : 0};
  // The image the result goes into, or whose ADV_OBJ a result of another kind is written to
  // (its leftovers there are swept under its lock): it must be what it claims first.
  std::string image;
  if (resultInImage) {
    image = ImageOfTable(operationPaths.table);
  } else if (const std::string table = TableOfDiscFolder(FolderOf(operationPaths.result));
             !table.empty()) {
    image = ImageOfTable(table);
  }
  if (!image.empty() && !ImageIsTrusted(image, console)) return;
  RenderOperationStart(console, PathText(paths.result), classified.type, request.direction);
  // What runs killed outright left in the folder goes before this run adds its own.
  RemoveAbandonedTemporariesIn(FolderOf(operationPaths.result));
  Encapsulator encapsulator(operationPaths, PathText(paths.fileName));
  encapsulator.AddEntriesThrough(EntriesOfTableAt(operationPaths.table));
  const std::uint64_t length = classified.input.length;
  encapsulator.ReadInputFrom(std::move(classified.input.file));
  const OperationReport report =
      RunShowingProgress(encapsulator, classified.type, length, request.direction, key, progress);
  RenderReport(console, report, PathText(paths.table));
}

// Classifies the input, reads the key, checks the output location and runs the operation.
void RunCommand(const Request& request, RunPaths& paths, Console& console, std::ostream* progress) {
  // A container of an image is read as the image stands before or after a change, never
  // midway: the image's lock is held from before the container is first opened to the end.
  std::optional<TableReadLock> readLock;
  if (request.direction == Direction::kDecapsulate) {
    const std::string table = TablePathOfContainer(PathText(paths.input));
    if (platform::KindOf(table.c_str()) != platform::EntryKind::kNone) {
      if (!ImageIsTrusted(ImageOfTable(table), console)) return;
      readLock.emplace(table);
      if (!readLock->RefusedRecord().empty()) {
        PrintUntrusted(console, readLock->RefusedRecord());
        return;
      }
      // Halfway through a change no run could finish: no verdict on it.
      if (!readLock->UnfinishedRecord().empty()) {
        console.ErrorBlock({{texts::kImageUnfinished, readLock->UnfinishedRecord()},
                            texts::kImageUnfinishedAdvice});
        return;
      }
    }
  }
  std::optional<ClassifiedInput> classified = ClassifyInput(request, paths, console);
  Key key{};
  if ((!classified || FactsOf(classified->type).needsKey) && !ReadKey(paths.key, key)) {
    console.ErrorBlock({texts::kKeyFileError});
    return;
  }
  if (!classified || !CheckOutputLocation(request, classified->type, paths, console)) return;
  RunOperation(request, *classified, paths, key, console, progress);
}

}  // namespace

int RunVelador(int argc, const char* const* argv, std::ostream& out, const RunOutput& output) {
  Console console(out, output.encoding);
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
  if (ParseCommandLine(argc, argv, request, paths, console)) {
    try {
      RunCommand(request, paths, console, output.progress);
    } catch (const std::bad_alloc&) {
      // A size read from a file bounds every allocation; what the system cannot give is
      // reported, never an abort.
      console.ErrorBlock({texts::kOutOfMemory});
    }
  }
  return 0;
}

StandardStreams::StandardStreams() {
  using platform::StandardStream;
  const bool utf8 = platform::LocaleTakesUtf8();
  const bool outputTerminal = platform::IsTerminal(StandardStream::kOutput);
  const bool errorTerminal = platform::IsTerminal(StandardStream::kError);
  // The code page belongs to the console, which both streams share: an error shown there must
  // read as well when standard output goes to a file.
  if (outputTerminal || errorTerminal) codePage_.emplace();
  if (outputTerminal && utf8) output.encoding = TextEncoding::kUtf8;
  if (errorTerminal) {
    output.progress = &std::cerr;
    if (utf8) errorEncoding = TextEncoding::kUtf8;
  }
}

int RunVeladorOnStandardStreams(int argc, const char* const* argv) {
  const StandardStreams streams = StartProgram();
  return RunVelador(argc, argv, std::cout, streams.output);
}

}  // namespace velador

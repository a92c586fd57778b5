#include "app/image_program.h"

#include <iostream>
#include <optional>

#include "app/image_command_line.h"
#include "app/image_render.h"
#include "app/program_start.h"
#include "app/progress_line.h"
#include "app/texts.h"
#include "image/add.h"
#include "image/check.h"

#ifndef VELADOR_VERSION
#error "VELADOR_VERSION must be defined by the build"
#endif

namespace velador {

namespace {

constexpr std::string_view kVersion = VELADOR_VERSION;

// The progress of a whole run on a terminal, and the lines printed meanwhile.
class RunProgress {
 public:
  RunProgress(std::ostream* terminal, Console& console) : terminal_(terminal), console_(console) {}

  // What the run reads, for the watch to follow.
  ByteCounter* Counter() { return &counter_; }

  void Start(std::uint64_t bytes) {
    if (terminal_ != nullptr) watch_.emplace(*terminal_, counter_, bytes);
  }

  // Prints through `print` without mixing its line with the progress line.
  template <class Print>
  void Line(Print&& print) {
    if (watch_) {
      watch_->StepAside([&] { print(console_); });
    } else {
      print(console_);
    }
  }

  void Stop() { watch_.reset(); }

 private:
  std::ostream* const terminal_;
  Console& console_;
  ByteCounter counter_;
  std::optional<ProgressWatch> watch_;
};

texts::Text CheckErrorText(ImageCheckError error) {
  switch (error) {
    case ImageCheckError::kKeyFile:
      return texts::kImageKeyFile;
    case ImageCheckError::kNoFolder:
      return texts::kImageNoFolder;
    case ImageCheckError::kUnreadableFolder:
      return texts::kImageUnreadableFolder;
    case ImageCheckError::kNoDiscFolder:
      return texts::kImageNoDiscFolder;
    case ImageCheckError::kUnreadableTable:
      return texts::kImageUnreadableTable;
    case ImageCheckError::kTableTooLarge:
      return texts::kImageTableTooLarge;
    case ImageCheckError::kNone:
      break;
  }
  return {};
}

texts::Text AddErrorText(ImageAddError error) {
  switch (error) {
    case ImageAddError::kKeyFile:
      return texts::kImageKeyFile;
    case ImageAddError::kNoDiscFolder:
      return texts::kImageNoDiscFolder;
    case ImageAddError::kNotWritable:
      return texts::kImageDiscFolderNotWritable;
    case ImageAddError::kUnusableTable:
      return texts::kImageUnusableTable;
    case ImageAddError::kNone:
      break;
  }
  return {};
}

int RunCheck(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
             std::ostream* terminal) {
  RunProgress progress(terminal, console);
  ImageCheck check;
  ImageCheckEvents events;
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes) { progress.Start(bytes); };
  if (!request.json) {
    events.checked = [&](const CheckedFile& file) {
      progress.Line([&](Console& c) { RenderCheckedFile(c, file, check.table.counter); });
    };
  }
  std::string where;
  const ImageCheckError error = CheckImage(request.folder, request.key, events, check, where);
  progress.Stop();
  if (error != ImageCheckError::kNone) {
    PrintImageError(errors, CheckErrorText(error), where, false);
    return 2;
  }
  if (request.json) {
    WriteCheckJson(out, check, kVersion);
  } else {
    RenderCheckEnd(console, check);
  }
  return check.ExitStatus();
}

int RunAdd(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
           std::ostream* terminal) {
  RunProgress progress(terminal, console);
  ImageAdd add;
  ImageAddEvents events;
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes) { progress.Start(bytes); };
  if (!request.json) {
    events.done = [&](const AddedFile& file) {
      progress.Line([&](Console& c) { RenderAddedFile(c, file); });
    };
  }
  std::string where;
  const ImageAddError error = AddToImage(request.folder, AddOptions{request.key, request.replace},
                                         request.files, events, add, where);
  progress.Stop();
  if (error != ImageAddError::kNone) {
    PrintImageError(errors, AddErrorText(error), where, false);
    return 2;
  }
  if (request.json) {
    WriteAddJson(out, add, request.folder, kVersion);
  } else {
    RenderAddSummary(console, add);
  }
  return add.ExitStatus();
}

}  // namespace

int RunVeladorImage(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    const RunOutput& output, TextEncoding errEncoding) {
  Console console(out, output.encoding);
  Console errors(err, errEncoding);
  ImageUsageError usage{};
  const std::optional<ImageRequest> request = ParseImageCommandLine(argc, argv, usage);
  if (!request) {
    PrintImageError(errors, usage.text, usage.word, true);
    return 2;
  }
  switch (request->command) {
    case ImageCommand::kUsage:  // no words at all: a usage error like any other
      PrintImageUsage(errors);
      return 2;
    case ImageCommand::kHelp:
      PrintImageUsage(console);
      return 0;
    case ImageCommand::kVersion:
      console.Text("velador-image ");
      console.Text(kVersion);
      console.LineEnds();
      return 0;
    case ImageCommand::kCheck:
      return RunCheck(*request, console, errors, out, output.progress);
    case ImageCommand::kAdd:
      return RunAdd(*request, console, errors, out, output.progress);
  }
  return 2;
}

int RunVeladorImageOnStandardStreams(int argc, const char* const* argv) {
  const StandardStreams streams = StartProgram();
  return RunVeladorImage(argc, argv, std::cout, std::cerr, streams.output, streams.errorEncoding);
}

}  // namespace velador

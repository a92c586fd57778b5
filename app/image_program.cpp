#include "app/image_program.h"

#include <filesystem>
#include <iostream>
#include <new>
#include <optional>

#include "app/image_command_line.h"
#include "app/image_json.h"
#include "app/image_render.h"
#include "app/interrupt_notice.h"
#include "app/program_start.h"
#include "app/progress_line.h"
#include "app/texts.h"
#include "crypto/crypto_paths.h"
#include "image/add.h"
#include "image/build.h"
#include "image/check.h"
#include "image/compact.h"
#include "image/extract.h"
#include "image/init.h"
#include "image/key_file.h"
#include "image/trust.h"
#include "platform/platform.h"

#ifndef VELADOR_VERSION
#error "VELADOR_VERSION must be defined by the build"
#endif

namespace velador {

namespace {

constexpr std::string_view kVersion = VELADOR_VERSION;

// The program and its release, then the code its crypto runs on here.
void PrintVersion(Console& console) {
  console.Text("velador-image ");
  console.Text(kVersion);
  console.LineEnds();
  const CryptoPaths paths = ChosenCryptoPaths();
  console.Text(texts::kCryptoPathsAes);
  console.Text(texts::AesPathName(paths.aes));
  console.Text(texts::kCryptoPathsSha1);
  console.Text(texts::Sha1PathName(paths.sha1));
  console.LineEnds();
}

// The progress of a whole run on a terminal, the lines printed meanwhile, and the line an
// interrupt leaves.
class RunProgress {
 public:
  RunProgress(std::ostream* terminal, Console& console, InterruptNotice& notice)
      : terminal_(terminal), console_(console), notice_(notice) {}

  // What the run reads, for the watch to follow.
  ByteCounter* Counter() { return &counter_; }

  // The run will read `bytes` more, which stand for `shown` bytes of its files; the line shows
  // the bytes from the first call on.
  void Expect(std::uint64_t bytes, std::uint64_t shown) {
    bytes_.Expect(bytes, shown);
    if (terminal_ != nullptr && !watch_) {
      watch_.emplace(*terminal_, [this] { return Covered(bytes_.Line()); });
    }
  }
  void Expect(std::uint64_t bytes) { Expect(bytes, bytes); }
  // The file at work, from any thread.
  void At(const std::string& name) { bytes_.At(name); }

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
  // `line`, about to be drawn: an interrupt from now on blanks it out first.
  std::string Covered(std::string line) {
    notice_.CoverProgress(line.size());
    return line;
  }

  std::ostream* const terminal_;
  Console& console_;
  InterruptNotice& notice_;
  ByteCounter counter_;
  ByteProgress bytes_{counter_};
  std::optional<ProgressWatch> watch_;
};

// What an interrupt says of an image no command has changed (yet), with `more` after it.
void SayUnchanged(InterruptNotice& notice, texts::Text more = {}, std::uint64_t count = 0) {
  notice.Say([&](Console& c) {
    c.Text(texts::kInterruptedUnchanged);
    if (more.empty() || count == 0) return;
    c.Text(more);
    c.Decimal(count);
  });
}

void SayChanged(InterruptNotice& notice) {
  notice.Say([](Console& c) { c.Text(texts::kInterruptedChanged); });
}

// What an interrupt of an add says: the files in the image, and those not (or not yet) added,
// as they were given.
class AddNotice {
 public:
  AddNotice(InterruptNotice& notice, const std::vector<std::string>& files)
      : notice_(notice), files_(files) {
    Say();
  }

  void Settled(const AddedFile& file) {
    if (file.added) ++added_;
    if (!file.added) notAdded_.push_back(settled_);
    ++settled_;
    Say();
  }

 private:
  void Say() {
    notice_.Say([&](Console& c) {
      c.Text(texts::kInterruptedAdded);
      c.Decimal(added_);
      c.Text(texts::kInterruptedOf);
      c.Decimal(files_.size());
      if (added_ == files_.size()) return;
      c.Text(texts::kInterruptedNotAdded);
      NoticeNameList names(c);
      for (std::size_t index : notAdded_) names.Add(files_[index]);
      for (std::size_t index = settled_; index < files_.size(); ++index) names.Add(files_[index]);
    });
  }

  InterruptNotice& notice_;
  const std::vector<std::string>& files_;
  std::size_t settled_ = 0;
  std::size_t added_ = 0;
  std::vector<std::size_t> notAdded_;
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
    case ImageCheckError::kRefusedRecord:
      return texts::kImageRefusedRecord;
    case ImageCheckError::kUnfinishedChange:
      return texts::kImageUnfinishedChange;
    case ImageCheckError::kUnreadableImageFile:
      return texts::kImageUnreadableImageFile;
    case ImageCheckError::kNoFileSystem:
      return texts::kImageNoFileSystem;
    case ImageCheckError::kImageFilesUnsupported:
      return texts::kImageFilesUnsupported;
    case ImageCheckError::kNone:
      break;
  }
  return {};
}

texts::Text AddErrorText(ImageAddError error) {
  switch (error) {
    case ImageAddError::kKeyFile:
      return texts::kImageKeyFile;
    case ImageAddError::kKeyDoesNotFit:
      return texts::kImageKeyDoesNotFit;
    case ImageAddError::kNoDiscFolder:
      return texts::kImageNoDiscFolder;
    case ImageAddError::kNotWritable:
      return texts::kImageDiscFolderNotWritable;
    case ImageAddError::kUnusableTable:
      return texts::kImageUnusableTable;
    case ImageAddError::kRefusedRecord:
      return texts::kImageRefusedRecord;
    case ImageAddError::kNone:
      break;
  }
  return {};
}

texts::Text InitErrorText(InitError error) {
  switch (error) {
    case InitError::kNoParent:
      return texts::kImageInitNoParent;
    case InitError::kNotFolder:
      return texts::kImageInitNotFolder;
    case InitError::kTableExists:
      return texts::kImageInitTableExists;
    case InitError::kDiscFolderNotEmpty:
      return texts::kImageInitDiscFolderNotEmpty;
    case InitError::kCannotCreate:
      return texts::kImageInitCannotCreate;
    case InitError::kWriteFailure:
      return texts::kImageInitWriteFailure;
    case InitError::kNone:
      break;
  }
  return {};
}

texts::Text ExtractErrorText(ImageExtractError error) {
  switch (error) {
    case ImageExtractError::kKeyFile:
      return texts::kImageKeyFile;
    case ImageExtractError::kKeyDoesNotFit:
      return texts::kImageKeyDoesNotFit;
    case ImageExtractError::kNoOutputFolder:
      return texts::kImageNoOutputFolder;
    case ImageExtractError::kOutputInImage:
      return texts::kImageOutputInImage;
    case ImageExtractError::kNoFolder:
      return texts::kImageNoFolder;
    case ImageExtractError::kUnreadableFolder:
      return texts::kImageUnreadableFolder;
    case ImageExtractError::kNoDiscFolder:
      return texts::kImageNoDiscFolder;
    case ImageExtractError::kUnreadableTable:
      return texts::kImageUnreadableTable;
    case ImageExtractError::kTableTooLarge:
      return texts::kImageTableTooLarge;
    case ImageExtractError::kRefusedRecord:
      return texts::kImageRefusedRecord;
    case ImageExtractError::kUnfinishedChange:
      return texts::kImageUnfinishedChange;
    case ImageExtractError::kUnreadableImageFile:
      return texts::kImageUnreadableImageFile;
    case ImageExtractError::kNoFileSystem:
      return texts::kImageNoFileSystem;
    case ImageExtractError::kImageFilesUnsupported:
      return texts::kImageFilesUnsupported;
    case ImageExtractError::kNone:
      break;
  }
  return {};
}

texts::Text ChangeErrorText(ImageChangeError error) {
  switch (error) {
    case ImageChangeError::kNoFolder:
      return texts::kImageNoFolder;
    case ImageChangeError::kNoDiscFolder:
      return texts::kImageNoDiscFolder;
    case ImageChangeError::kUnreadableFolder:
      return texts::kImageUnreadableFolder;
    case ImageChangeError::kNoTable:
      return texts::kImageChangeNoTable;
    case ImageChangeError::kUnusableTable:
      return texts::kImageChangeUnusableTable;
    case ImageChangeError::kUnreadableFile:
      return texts::kImageChangeUnreadableFile;
    case ImageChangeError::kNotInImage:
      return texts::kImageChangeNotInImage;
    case ImageChangeError::kWriteFailure:
      return texts::kImageChangeWriteFailure;
    case ImageChangeError::kRefusedRecord:
      return texts::kImageRefusedRecord;
    case ImageChangeError::kLinkInImage:
      return texts::kImageLinkInside;
    case ImageChangeError::kLeftToFinish:
      return texts::kImageLeftToFinish;
    case ImageChangeError::kNone:
      break;
  }
  return {};
}

texts::Text BuildErrorText(ImageBuildError error) {
  switch (error) {
    case ImageBuildError::kKeyFile:
      return texts::kImageKeyFile;
    case ImageBuildError::kKeyDoesNotFit:
      return texts::kImageKeyDoesNotFit;
    case ImageBuildError::kKeyNeeded:
      return texts::kImageKeyNeeded;
    case ImageBuildError::kNoSource:
      return texts::kImageBuildNoSource;
    case ImageBuildError::kUnreadableSource:
      return texts::kImageBuildUnreadableSource;
    case ImageBuildError::kSourceSubFolder:
      return texts::kImageBuildSubFolder;
    case ImageBuildError::kSourceInImage:
      return texts::kImageBuildSourceInImage;
    case ImageBuildError::kNoFolder:
      return texts::kImageNoFolder;
    case ImageBuildError::kNoDiscFolder:
      return texts::kImageNoDiscFolder;
    case ImageBuildError::kNoTable:
      return texts::kImageChangeNoTable;
    case ImageBuildError::kUnusableTable:
      return texts::kImageChangeUnusableTable;
    case ImageBuildError::kUnreadableFile:
      return texts::kImageBuildUnreadableFile;
    case ImageBuildError::kWriteFailure:
      return texts::kImageChangeWriteFailure;
    case ImageBuildError::kRefusedRecord:
      return texts::kImageRefusedRecord;
    case ImageBuildError::kLeftToFinish:
      return texts::kImageLeftToFinish;
    case ImageBuildError::kNone:
      break;
  }
  return {};
}

texts::Text DistrustText(Distrust kind) {
  switch (kind) {
    case Distrust::kLink:
      return texts::kImageLinkInside;
    case Distrust::kNotFolder:
      return texts::kImageNotFolderInside;
    case Distrust::kNotFile:
      return texts::kImageNotFileInside;
    case Distrust::kRefusedRecord:
      return texts::kImageRefusedRecord;
    case Distrust::kNone:
      break;
  }
  return {};
}

// Where build keeps what it learned of an image: the folder asked for, else velador's in the
// user's cache folder; none with --no-cache, or where the environment names no such folder.
std::optional<std::string> CacheFolderFor(const ImageRequest& request) {
  if (request.noCache) return std::nullopt;
  if (request.cacheFolder) return request.cacheFolder;
  const std::optional<std::string> user = platform::UserCacheFolder();
  if (!user) return std::nullopt;
  return (std::filesystem::path(*user) / "velador").string();
}

// build: one transaction, whose lines come once it is over; the progress line names the source
// file at work.
int RunBuild(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
             std::ostream* terminal, InterruptNotice& notice) {
  RunProgress progress(terminal, console, notice);
  ImageBuildEvents events;
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes, std::uint64_t sourceBytes) {
    progress.Expect(bytes, sourceBytes);
  };
  events.moreToRead = [&](std::uint64_t bytes) { progress.Expect(bytes, 0); };
  events.working = [&](const std::string& name, std::uint64_t) { progress.At(name); };
  events.committed = [&] { SayChanged(notice); };
  ImageBuild build;
  const ImageError<ImageBuildError> error =
      BuildImage(request.source, request.folder,
                 BuildOptions{request.key, request.dryRun, request.changeKey, request.exclude,
                              request.defaultExclude, CacheFolderFor(request)},
                 events, build);
  progress.Stop();
  if (error) {
    PrintImageError(errors, BuildErrorText(error.code), error.path, false);
    return 2;
  }
  if (request.json) {
    WriteBuildJson(out, build, request.source, request.folder, kVersion);
  } else {
    RenderBuild(console, build, request.quiet);
  }
  return build.NeedsAttention() ? 1 : 0;
}

// compact and remove: one transaction, whose lines come once it is over.
int RunChange(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
              std::ostream* terminal, InterruptNotice& notice) {
  const bool remove = request.command == ImageCommand::kRemove;
  RunProgress progress(terminal, console, notice);
  ImageChangeEvents events;
  events.committed = [&] { SayChanged(notice); };
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes) { progress.Expect(bytes); };
  events.reading = [&](const std::string& name, std::uint64_t) { progress.At(name); };
  ImageCompact compact;
  const ImageError<ImageChangeError> error =
      remove ? RemoveFromImage(request.folder, request.files, events, compact)
             : CompactImage(request.folder, events, compact);
  progress.Stop();
  if (error) {
    PrintImageError(errors, ChangeErrorText(error.code), error.path, false);
    return 2;
  }
  if (request.json) {
    WriteCompactJson(out, compact, remove ? "remove" : "compact", request.folder, kVersion);
  } else {
    RenderCompact(console, compact, remove, request.quiet);
  }
  return compact.NeedsAttention() ? 1 : 0;
}

int RunInit(const ImageRequest& request, Console& console, Console& errors, std::ostream& out) {
  ImageInit init;
  const ImageError<InitError> error = InitImage(request.folder, init);
  if (error) {
    PrintImageError(errors, InitErrorText(error.code), error.path, false);
    return 2;
  }
  if (request.json) {
    WriteInitJson(out, init, request.folder, kVersion);
  } else {
    RenderInit(console, init, request.folder);
  }
  return 0;
}

int RunExtract(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
               std::ostream* terminal, InterruptNotice& notice) {
  RunProgress progress(terminal, console, notice);
  std::uint64_t extracted = 0;
  SayUnchanged(notice, texts::kInterruptedExtracted, extracted);
  ImageExtract extract;
  ImageExtractEvents events;
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes, std::uint64_t fileBytes) {
    progress.Expect(bytes, fileBytes);
  };
  events.working = [&](const std::string& name) { progress.At(name); };
  events.done = [&](const ExtractedFile& file) {
    if (file.extracted) SayUnchanged(notice, texts::kInterruptedExtracted, ++extracted);
    const bool fine = file.extracted && file.file.verdict == FileVerdict::kAccepted;
    if (request.json || (request.quiet && fine)) return;
    progress.Line([&](Console& c) { RenderExtractedFile(c, file, extract.tableCounter); });
  };
  const ImageError<ImageExtractError> error = ExtractImage(
      request.folder, request.output, ExtractOptions{request.key, request.force}, events, extract);
  progress.Stop();
  if (error) {
    PrintImageError(errors, ExtractErrorText(error.code), error.path, false);
    return 2;
  }
  if (request.json) {
    WriteExtractJson(out, extract, kVersion);
  } else {
    RenderExtractSummary(console, extract);
  }
  return extract.NeedsAttention() ? 1 : 0;
}

int RunCheck(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
             std::ostream* terminal, InterruptNotice& notice) {
  RunProgress progress(terminal, console, notice);
  std::uint64_t checked = 0;
  SayUnchanged(notice, texts::kInterruptedChecked, checked);
  ImageCheck check;
  ImageCheckEvents events;
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes) { progress.Expect(bytes); };
  events.working = [&](const std::string& name) { progress.At(name); };
  events.checked = [&](const CheckedFile& file) {
    SayUnchanged(notice, texts::kInterruptedChecked, ++checked);
    if (request.json || (request.quiet && file.verdict == FileVerdict::kAccepted)) return;
    progress.Line([&](Console& c) { RenderCheckedFile(c, file, check.table.counter); });
  };
  const ImageError<ImageCheckError> error = CheckImage(request.folder, request.key, events, check);
  progress.Stop();
  if (error) {
    PrintImageError(errors, CheckErrorText(error.code), error.path, false);
    return 2;
  }
  if (request.json) {
    WriteCheckJson(out, check, kVersion);
  } else {
    RenderCheckEnd(console, check);
  }
  return check.NeedsAttention() ? 1 : 0;
}

int RunAdd(const ImageRequest& request, Console& console, Console& errors, std::ostream& out,
           std::ostream* terminal, InterruptNotice& notice) {
  RunProgress progress(terminal, console, notice);
  AddNotice addNotice(notice, request.files);
  ImageAdd add;
  ImageAddEvents events;
  events.read = progress.Counter();
  events.started = [&](std::uint64_t bytes) { progress.Expect(bytes); };
  events.working = [&](const std::string& input) { progress.At(input); };
  events.settled = [&](const AddedFile& file) { addNotice.Settled(file); };
  if (!request.json) {
    events.done = [&](const AddedFile& file) {
      if (request.quiet && file.Complete()) return;
      progress.Line([&](Console& c) { RenderAddedFile(c, file); });
    };
  }
  const ImageError<ImageAddError> error = AddToImage(
      request.folder, AddOptions{request.key, request.replace}, request.files, events, add);
  progress.Stop();
  if (error) {
    PrintImageError(errors, AddErrorText(error.code), error.path, false);
    return 2;
  }
  if (request.json) {
    WriteAddJson(out, add, request.folder, kVersion);
  } else {
    RenderAddSummary(console, add, request.folder);
  }
  return add.NeedsAttention() ? 1 : 0;
}

bool WritesImage(ImageCommand command) {
  switch (command) {
    case ImageCommand::kAdd:
    case ImageCommand::kBuild:
    case ImageCommand::kCompact:
    case ImageCommand::kRemove:
    case ImageCommand::kInit:
      return true;
    case ImageCommand::kUsage:
    case ImageCommand::kHelp:
    case ImageCommand::kVersion:
    case ImageCommand::kCheck:
    case ImageCommand::kExtract:
      break;
  }
  return false;
}

// A key file that holds anything but the 16 bytes of a key is refused before any command reads
// the image: one wrong byte of key would encipher every file wrongly. (One that does not open is
// the command's to report, in its order of checks.)
bool KeyFileRefused(const ImageRequest& request, Console& errors) {
  if (!request.key) return false;
  Key key{};
  texts::Text text;
  switch (ReadImageKeyFile(*request.key, key)) {
    case KeyFileProblem::kStandardInput:
      text = texts::kImageKeyFromStandardInput;
      break;
    case KeyFileProblem::kHexText:
      text = texts::kImageKeyHexText;
      break;
    case KeyFileProblem::kWrongLength:
      text = texts::kImageKeyWrongLength;
      break;
    case KeyFileProblem::kNone:
    case KeyFileProblem::kUnopenable:
      return false;
  }
  PrintImageError(errors, text, *request.key, false);
  return true;
}

int RunImageCommand(const ImageRequest& request, Console& console, Console& errors,
                    std::ostream& out, std::ostream* progress, InterruptNotice& notice) {
  if (KeyFileRefused(request, errors)) return 2;
  switch (request.command) {
    case ImageCommand::kUsage:  // no words at all: a usage error like any other
      PrintImageUsage(errors);
      return 2;
    case ImageCommand::kHelp:
      PrintImageUsage(console);
      return 0;
    case ImageCommand::kVersion:
      PrintVersion(console);
      return 0;
    case ImageCommand::kCheck:
      return RunCheck(request, console, errors, out, progress, notice);
    case ImageCommand::kAdd:
      return RunAdd(request, console, errors, out, progress, notice);
    case ImageCommand::kInit:
      return RunInit(request, console, errors, out);
    case ImageCommand::kExtract:
      return RunExtract(request, console, errors, out, progress, notice);
    case ImageCommand::kCompact:
    case ImageCommand::kRemove:
      return RunChange(request, console, errors, out, progress, notice);
    case ImageCommand::kBuild:
      return RunBuild(request, console, errors, out, progress, notice);
  }
  return 2;
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
  const bool onImage = request->command != ImageCommand::kUsage &&
                       request->command != ImageCommand::kHelp &&
                       request->command != ImageCommand::kVersion;
  // From here on an interrupt says what it left; nothing has been done yet.
  InterruptNotice notice(errEncoding);
  if (onImage) SayUnchanged(notice);
  // A disc image file is only read: what changes an image changes the folder it is made from.
  if (WritesImage(request->command) && platform::IsRegularFile(request->folder.c_str())) {
    PrintImageError(errors, texts::kImageFileNotWritable, request->folder, false);
    return 2;
  }
  // Nothing of an image is read or changed before it was found to be what it claims.
  if (const ImageDistrust distrust = onImage ? InspectImage(request->folder) : ImageDistrust{};
      distrust.kind != Distrust::kNone) {
    PrintImageError(errors, DistrustText(distrust.kind), distrust.path, false);
    return 2;
  }
  int status = 2;
  try {
    status = RunImageCommand(*request, console, errors, out, output.progress, notice);
  } catch (const std::bad_alloc&) {
    // Every size an image states bounds what is allocated; what the system cannot give is a
    // refusal like any other, never an abort.
    PrintImageError(errors, texts::kImageOutOfMemory, request->folder, false);
    return 2;
  }
  // A report that did not reach its reader (a full disk, a closed pipe) is no success: what the
  // command did is not known to whoever ran it.
  console.Flush();
  if (!out.flush()) {
    PrintImageError(errors, texts::kImageReportNotWritten, request->folder, false);
    return 2;
  }
  return status;
}

int RunVeladorImageOnStandardStreams(int argc, const char* const* argv) {
  const StandardStreams streams = StartProgram();
  RunOutput output = streams.output;
  TextEncoding errorEncoding = streams.errorEncoding;
  // Its texts are in the locale's character set, a terminal's or not, so that a pipe into grep
  // or less reads as the terminal does (and as the UTF-8 file names around them); --json is
  // UTF-8 whatever the locale. Elsewhere they keep their own Windows-1252 bytes.
  if (platform::LocaleTakesUtf8()) {
    output.encoding = TextEncoding::kUtf8;
    errorEncoding = TextEncoding::kUtf8;
  }
  return RunVeladorImage(argc, argv, std::cout, std::cerr, output, errorEncoding);
}

}  // namespace velador

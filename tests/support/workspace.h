#pragma once

// Test support: a fresh temporary folder per test, and a way to run the built tool in it.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/bytes.h"
#include "support/json_schema.h"
#include "support/tool_process.h"

namespace velador::testing {

// The two programs the tests run.
enum class Program { kVelador, kImage };

struct ToolRun {
  Bytes out;        // standard output, byte for byte
  Bytes err;        // standard error
  int status = -1;  // exit status, or -1 when the process did not exit normally
};

// A new empty folder under the system's temporary folder, removed with everything in it when
// the object goes. velador-image's JSON documents of the runs made in it are validated against
// their commands' schemas then (support/json_schema.h): each breach fails the running test.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path Path(const std::string& relative) const { return root_ / relative; }
  // The user's cache folder of the tools run here (XDG_CACHE_HOME): beside the workspace, so
  // that what they keep there is no file of it.
  std::filesystem::path CacheFolder() const { return root_.string() + ".cache"; }

  // Writes a file (making its folders), reads one whole, tells whether one exists.
  void Write(const std::string& relative, const Bytes& content) const;
  Bytes Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;

  // Flips the bits of `mask` in the byte at `offset` of a file.
  void FlipBits(const std::string& relative, std::size_t offset, char mask = 1) const;

  // Every entry below the root, as relative paths with "/" separators, sorted.
  std::vector<std::string> List() const;

  // Runs the tool (see ToolCommand) with `arguments`, the workspace as working folder and
  // /dev/null as standard input; a JSON document it prints (exit status 0 or 1) is noted for
  // validation. Under wine, standard output comes back with its CR LF line ends
  // turned into LF, and a line end without CR is reported on `err`.
  // velador-image's standard error comes back with its line ends turned so too. With a
  // `fileSizeLimit` other than 0, no file of the tool's may grow past that many bytes: a write
  // beyond fails as on a full disk.
  ToolRun Run(const std::vector<std::string>& arguments, Program program = Program::kVelador,
              std::uint64_t fileSizeLimit = 0) const;

  // Runs the tool as Run does, but with its standard output closed: `out` stays empty.
  ToolRun RunWithOutputClosed(const std::vector<std::string>& arguments,
                              Program program = Program::kVelador) const;

  // Starts the tool as Run does without waiting for it; its standard output and error go to the
  // files `outPath` and `errPath`. Answers the process id for WaitForExit.
  pid_t Start(const std::vector<std::string>& arguments, const std::string& outPath,
              const std::string& errPath, Program program = Program::kVelador,
              std::uint64_t fileSizeLimit = 0) const;

  // Notes `out`, the standard output of velador-image's run with `arguments`, for validation
  // when it is a JSON document: for the runs a test starts itself.
  void NoteJson(const std::vector<std::string>& arguments, const Bytes& out) const;

  // The locale (LC_ALL) the tools run in from now on. By default a fixed one, whatever the
  // machine's, since velador-image writes its texts in the locale's character set: "C" (the
  // texts' own Windows-1252 bytes), and under wine the one the tests' environment gives it.
  void UseLocale(std::string locale) { locale_ = std::move(locale); }

 private:
  std::vector<std::string> ToolEnvironment() const;

  std::filesystem::path root_;
  std::string locale_;
  mutable std::vector<JsonDocument> json_;
};

// Path of the built velador binary, and of velador-image.
std::string ToolBinary();
std::string ImageBinary();

// True when the environment variable VELADOR_E2E_WINE_EXE names a Windows build of the tool:
// the tests then run `wine <that file>` instead of the native binary. CTest sets it for the
// tests it registers under wine; the tool itself never reads it.
bool UnderWine();

// The words that start the tool with `arguments`: the native binary or wine and velador.exe
// (velador-image.exe beside it for velador-image). In a cross build the binary is started
// through the emulator the tests run under.
std::vector<std::string> ToolCommand(const std::vector<std::string>& arguments,
                                     Program program = Program::kVelador);

// Standard output of velador.exe as the native build prints it: each CR LF becomes LF. Sets
// `bareLineFeed` when some LF had no CR before it (the C runtime's text mode adds one to every
// line end, so such a line was written past it).
Bytes FromWindowsLineEnds(const Bytes& out, bool& bareLineFeed);

// A disc image inside `workspace` at `folder`: ADV_OBJ/ and a fresh table (40060 zero bytes).
void MakeDiscImage(const Workspace& workspace, const std::string& folder);

// Deterministic content of `length` bytes (a simple generator seeded by `seed`).
Bytes SampleContent(std::size_t length, std::uint32_t seed = 1);

}  // namespace velador::testing

#pragma once

// The command line of velador-image: `check <folder> [--key <file>] [--json]`,
// `add <disc image> [--key <file>] [--replace] [--json] <file>...`, `init <folder> [--json]`,
// `extract <image> <output folder> [--key <file>] [--force] [--json]`, `compact <image> [--json]`,
// `remove <image> [--json] <name>...`,
// `build <source folder> <image> [--key <file>] [--dry-run] [--json]`, `--help`, `--version`. A
// name for remove is a file's name in ADV_OBJ, taken as it stands: empty, ".", ".." or with a
// "/" or "\\" it is refused. --key goes only with check, add, extract and build; --replace only
// with add, --force only with extract, --dry-run only with build.
// Options may stand before or after the other words; `--key` takes the next word (or
// `--key=<file>`); after
// `--` every word is a plain word, even one that starts with "-". A lone "-" is a plain word too.

#include <optional>
#include <string>
#include <vector>

#include "app/texts.h"

namespace velador {

enum class ImageCommand {
  kUsage,
  kHelp,
  kVersion,
  kCheck,
  kAdd,
  kInit,
  kExtract,
  kCompact,
  kRemove,
  kBuild
};

struct ImageRequest {
  ImageCommand command = ImageCommand::kUsage;
  std::string folder;              // check, init: the folder; the others: the disc image
  std::string output;              // extract: the output folder
  std::string source;              // build: the source folder
  std::optional<std::string> key;  // the key file, when --key was given
  bool json = false;
  bool replace = false;                    // add: replace a file of the same name in the image
  bool force = false;                      // extract: replace a file of the same name in the output
  bool dryRun = false;                     // build: say what would be done, writing nothing
  bool quiet = false;                      // only what needs attention, and the summary
  bool changeKey = false;                  // build: encipher the image anew under the key given
  std::vector<std::string> exclude;        // build: globs of source names left out
  bool defaultExclude = true;              // build: leave out the junk editors and systems drop too
  bool noCache = false;                    // build: compare every file in full, keeping nothing
  std::optional<std::string> cacheFolder;  // build: where to keep what it learned, if not the
                                           // user's cache folder
  std::vector<std::string> files;          // add: the files; remove: the names in ADV_OBJ; as given
};

// A command line that names no run: the text saying why, and the word concerned (may be empty).
struct ImageUsageError {
  texts::Text text;
  std::string word;
};

// Reads `argv[1]` to `argv[argc - 1]`. No words at all ask for the usage (kUsage); --help and
// --version win over everything else, wherever they stand.
std::optional<ImageRequest> ParseImageCommandLine(int argc, const char* const* argv,
                                                  ImageUsageError& error);

}  // namespace velador

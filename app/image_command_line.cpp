#include "app/image_command_line.h"

#include <algorithm>
#include <string_view>

namespace velador {

namespace {

struct Words {
  std::vector<std::string> plain;
  std::vector<std::string> keys;
  bool json = false;
  bool replace = false;
  bool force = false;
  bool dryRun = false;
  bool changeKey = false;
  std::vector<std::string> exclude;
  bool noDefaultExclude = false;
  bool noCache = false;
  std::vector<std::string> cacheFolders;
  bool quiet = false;
  bool help = false;
  bool version = false;
};

constexpr std::string_view kKeyOption = "--key";
constexpr std::string_view kExcludeOption = "--exclude";
constexpr std::string_view kCacheFolderOption = "--cache-dir";

// Whether `word` is `option`, given as "<option> <value>" or "<option>=<value>": then the value,
// when there is one, is added to `values` (the next word is taken, and `i` moves past it);
// `missing` says whether there was none.
bool TakesValue(std::string_view word, std::string_view option, int argc, const char* const* argv,
                int& i, std::vector<std::string>& values, bool& missing) {
  missing = false;
  if (word == option) {
    missing = i + 1 == argc;
    if (!missing) values.emplace_back(argv[++i]);
    return true;
  }
  if (word.size() > option.size() && word.substr(0, option.size()) == option &&
      word[option.size()] == '=') {
    values.emplace_back(word.substr(option.size() + 1));
    return true;
  }
  return false;
}

// Sorts the words into options and plain words; false, with the error of the first word it
// does not take, when there was one. Every word is sorted all the same, so that --help is
// found wherever it stands.
bool SortWords(int argc, const char* const* argv, Words& words, ImageUsageError& error) {
  bool options = true;
  bool sorted = true;
  const auto fail = [&](texts::Text text, std::string_view word) {
    if (sorted) error = {text, std::string(word)};
    sorted = false;
  };
  bool missing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view word = argv[i];
    if (!options || word.size() < 2 || word[0] != '-') {
      words.plain.emplace_back(word);
    } else if (word == "--") {
      options = false;
    } else if (word == "--help" || word == "-h") {
      words.help = true;
    } else if (word == "--version") {
      words.version = true;
    } else if (word == "--json") {
      words.json = true;
    } else if (word == "--quiet" || word == "-q") {
      words.quiet = true;
    } else if (word == "--replace") {
      words.replace = true;
    } else if (word == "--force") {
      words.force = true;
    } else if (word == "--dry-run") {
      words.dryRun = true;
    } else if (word == "--change-key") {
      words.changeKey = true;
    } else if (word == "--no-default-exclude") {
      words.noDefaultExclude = true;
    } else if (word == "--no-cache") {
      words.noCache = true;
    } else if (TakesValue(word, kCacheFolderOption, argc, argv, i, words.cacheFolders, missing)) {
      if (missing) fail(texts::kImageMissingCacheFolder, {});
    } else if (TakesValue(word, kExcludeOption, argc, argv, i, words.exclude, missing)) {
      if (missing) fail(texts::kImageMissingPattern, {});
    } else if (TakesValue(word, kKeyOption, argc, argv, i, words.keys, missing)) {
      if (missing) fail(texts::kImageMissingKey, {});
    } else {
      fail(texts::kImageUnknownOption, word);
    }
  }
  return sorted;
}

// Only the commands that read or write a container's content take a key.
bool TakesKey(ImageCommand command) {
  return command == ImageCommand::kCheck || command == ImageCommand::kAdd ||
         command == ImageCommand::kExtract || command == ImageCommand::kBuild;
}

texts::Text MissingFirstWord(ImageCommand command) {
  switch (command) {
    case ImageCommand::kCheck:
      return texts::kImageMissingFolder;
    case ImageCommand::kInit:
      return texts::kImageMissingNewImage;
    case ImageCommand::kBuild:
      return texts::kImageMissingSource;
    default:
      return texts::kImageMissingImage;
  }
}

// A name in ADV_OBJ, which remove takes as it stands: never a path, nor a word that names no
// file of a folder.
bool IsName(std::string_view word) {
  return !word.empty() && word != "." && word != ".." &&
         word.find_first_of("/\\") == std::string_view::npos;
}

bool TakesMoreWords(ImageCommand command) {
  return command == ImageCommand::kAdd || command == ImageCommand::kRemove;
}

// The plain words of a command: its folder or image first (for build, the source folder then
// the image), then, for add, the files, for remove, the names, for extract, the output folder.
bool TakeOperands(ImageRequest& request, std::vector<std::string> plain, ImageUsageError& error) {
  if (plain.empty()) {
    error = {MissingFirstWord(request.command), {}};
    return false;
  }
  request.folder = plain.front();
  plain.erase(plain.begin());
  if (request.command == ImageCommand::kBuild) {
    if (plain.empty()) {
      error = {texts::kImageMissingImage, {}};
      return false;
    }
    request.source = std::move(request.folder);
    request.folder = plain.front();
    plain.erase(plain.begin());
  }
  if (request.command == ImageCommand::kExtract) {
    if (plain.empty()) {
      error = {texts::kImageMissingOutput, {}};
      return false;
    }
    request.output = plain.front();
    plain.erase(plain.begin());
  }
  const bool more = TakesMoreWords(request.command);
  if (!more && !plain.empty()) {
    error = {texts::kImageExtraWord, plain.front()};
    return false;
  }
  const bool remove = request.command == ImageCommand::kRemove;
  if (more && plain.empty()) {
    error = {remove ? texts::kImageMissingNames : texts::kImageMissingFiles, {}};
    return false;
  }
  if (remove) {
    const auto path = std::find_if_not(plain.begin(), plain.end(), IsName);
    if (path != plain.end()) {
      error = {texts::kImageNotAName, *path};
      return false;
    }
  }
  request.files = std::move(plain);
  return true;
}

}  // namespace

std::optional<ImageRequest> ParseImageCommandLine(int argc, const char* const* argv,
                                                  ImageUsageError& error) {
  ImageRequest request;
  if (argc <= 1) return request;
  Words words;
  const bool sorted = SortWords(argc, argv, words, error);
  if (words.help || words.version) {
    request.command = words.help ? ImageCommand::kHelp : ImageCommand::kVersion;
    return request;
  }
  if (!sorted) return std::nullopt;
  if (words.plain.empty()) {
    error = {texts::kImageNoCommand, {}};
    return std::nullopt;
  }
  const std::string command = words.plain.front();
  words.plain.erase(words.plain.begin());
  if (command == "check") {
    request.command = ImageCommand::kCheck;
  } else if (command == "add") {
    request.command = ImageCommand::kAdd;
  } else if (command == "init") {
    request.command = ImageCommand::kInit;
  } else if (command == "extract") {
    request.command = ImageCommand::kExtract;
  } else if (command == "compact") {
    request.command = ImageCommand::kCompact;
  } else if (command == "remove") {
    request.command = ImageCommand::kRemove;
  } else if (command == "build") {
    request.command = ImageCommand::kBuild;
  } else {
    error = {texts::kImageUnknownCommand, command};
    return std::nullopt;
  }
  if (words.keys.size() > 1) {
    error = {texts::kImageTwoKeys, {}};
    return std::nullopt;
  }
  if (!words.keys.empty()) request.key = words.keys.front();
  request.json = words.json;
  request.quiet = words.quiet;
  request.replace = words.replace;
  request.force = words.force;
  request.dryRun = words.dryRun;
  request.changeKey = words.changeKey;
  request.exclude = std::move(words.exclude);
  request.defaultExclude = !words.noDefaultExclude;
  request.noCache = words.noCache;
  if (!words.cacheFolders.empty()) request.cacheFolder = words.cacheFolders.back();
  if ((request.noCache || request.cacheFolder) && request.command != ImageCommand::kBuild) {
    error = {texts::kImageCacheOnlyBuild, {}};
    return std::nullopt;
  }
  if (request.replace && request.command != ImageCommand::kAdd) {
    error = {texts::kImageReplaceOnlyAdd, {}};
    return std::nullopt;
  }
  if (request.force && request.command != ImageCommand::kExtract) {
    error = {texts::kImageForceOnlyExtract, {}};
    return std::nullopt;
  }
  if (request.dryRun && request.command != ImageCommand::kBuild) {
    error = {texts::kImageDryRunOnlyBuild, {}};
    return std::nullopt;
  }
  if (request.changeKey && request.command != ImageCommand::kBuild) {
    error = {texts::kImageChangeKeyOnlyBuild, {}};
    return std::nullopt;
  }
  if ((!request.exclude.empty() || !request.defaultExclude) &&
      request.command != ImageCommand::kBuild) {
    error = {texts::kImageExcludeOnlyBuild, {}};
    return std::nullopt;
  }
  if (request.key && !TakesKey(request.command)) {
    error = {texts::kImageKeyNotInit, {}};
    return std::nullopt;
  }
  if (!TakeOperands(request, std::move(words.plain), error)) return std::nullopt;
  return request;
}

}  // namespace velador

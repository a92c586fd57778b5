#include "app/image_command_line.h"

#include <string_view>

namespace velador {

namespace {

struct Words {
  std::vector<std::string> plain;
  std::vector<std::string> keys;
  bool json = false;
  bool replace = false;
  bool help = false;
  bool version = false;
};

constexpr std::string_view kKeyOption = "--key";

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
    } else if (word == "--replace") {
      words.replace = true;
    } else if (word == kKeyOption) {
      if (i + 1 == argc) {
        fail(texts::kImageMissingKey, {});
      } else {
        words.keys.emplace_back(argv[++i]);
      }
    } else if (word.substr(0, kKeyOption.size() + 1) == "--key=") {
      words.keys.emplace_back(word.substr(kKeyOption.size() + 1));
    } else {
      fail(texts::kImageUnknownOption, word);
    }
  }
  return sorted;
}

// The plain words of a command: its folder or image first, then, for add, the files.
bool TakeOperands(ImageRequest& request, std::vector<std::string> plain, ImageUsageError& error) {
  const bool check = request.command == ImageCommand::kCheck;
  if (plain.empty()) {
    error = {check ? texts::kImageMissingFolder : texts::kImageMissingImage, {}};
    return false;
  }
  request.folder = plain.front();
  plain.erase(plain.begin());
  if (check && !plain.empty()) {
    error = {texts::kImageExtraWord, plain.front()};
    return false;
  }
  if (!check && plain.empty()) {
    error = {texts::kImageMissingFiles, {}};
    return false;
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
  if (command != "check" && command != "add") {
    error = {texts::kImageUnknownCommand, command};
    return std::nullopt;
  }
  request.command = command == "check" ? ImageCommand::kCheck : ImageCommand::kAdd;
  if (words.keys.size() > 1) {
    error = {texts::kImageTwoKeys, {}};
    return std::nullopt;
  }
  if (!words.keys.empty()) request.key = words.keys.front();
  request.json = words.json;
  request.replace = words.replace;
  if (request.replace && request.command != ImageCommand::kAdd) {
    error = {texts::kImageReplaceOnlyAdd, {}};
    return std::nullopt;
  }
  if (!TakeOperands(request, std::move(words.plain), error)) return std::nullopt;
  return request;
}

}  // namespace velador

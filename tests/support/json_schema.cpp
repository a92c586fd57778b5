#include "support/json_schema.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "support/tool_process.h"
#include "support/workspace.h"

namespace velador::testing {

namespace {

constexpr const char* kCommands[] = {"check",   "add",    "init", "extract",
                                     "compact", "remove", "build"};

std::string Origin(const std::vector<std::string>& arguments) {
  std::string line = "velador-image";
  for (const std::string& word : arguments) line += " " + word;
  return line;
}

}  // namespace

std::optional<JsonDocument> JsonDocumentOf(const std::vector<std::string>& arguments,
                                           const std::string& out) {
  // The words sorted as velador-image sorts them: its command is the first plain word.
  bool json = false;
  bool options = true;
  std::optional<std::string> command;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& word = arguments[i];
    if (!options || word.size() < 2 || word[0] != '-') {
      if (!command) command = word;
    } else if (word == "--") {
      options = false;
    } else if (word == "--json") {
      json = true;
    } else if (word == "--help" || word == "-h" || word == "--version") {
      return {};
    } else if (word == "--key" || word == "--exclude") {
      ++i;  // its value
    }
  }
  if (!json || !command ||
      std::find(std::begin(kCommands), std::end(kCommands), *command) == std::end(kCommands)) {
    return std::nullopt;
  }
  return JsonDocument{*command, out, Origin(arguments)};
}

bool SchemaValidationOn(std::string& why) {
  if (UnderWine()) {
    why =
        "the end-to-end tests under wine do not validate velador-image's JSON documents "
        "against doc/schema (the native run does)";
    return false;
  }
  why = VELADOR_SCHEMA_CHECK_OFF;
  return why.empty();
}

std::string SchemaErrors(const std::vector<JsonDocument>& documents) {
  Workspace files;
  std::vector<std::string> words = {VELADOR_SCHEMA_PYTHON, VELADOR_SCHEMA_CHECK_SCRIPT,
                                    VELADOR_SCHEMA_DIR};
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const std::string name = "document " + std::to_string(i);
    files.Write(name, documents[i].text);
    words.push_back(documents[i].command);
    words.push_back(name);
  }
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(files.Path("said").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  pid_t child = -1;
  if (in >= 0 && out >= 0) {
    child = StartTool(files.Root(), words, {in, out, out},
                      {"LC_ALL=C.UTF-8", "PYTHONIOENCODING=utf-8", "PYTHONDONTWRITEBYTECODE=1"});
  }
  for (int descriptor : {in, out}) {
    if (descriptor >= 0) close(descriptor);
  }
  const int status = child < 0 ? -1 : WaitForExit(child);
  const std::string said = files.Read("said");
  if (status != 0 && status != 1) {
    throw std::runtime_error(std::string("the JSON schema check (") + VELADOR_SCHEMA_PYTHON + " " +
                             VELADOR_SCHEMA_CHECK_SCRIPT + ") ended with status " +
                             std::to_string(status) + ":\n" + said);
  }
  if (status == 1 && said.empty()) throw std::runtime_error("a document failed, and none is named");
  return said;
}

void ExpectDocumentsValid(const std::vector<JsonDocument>& documents) {
  if (documents.empty()) return;
  std::string why;
  if (!SchemaValidationOn(why)) {
    static bool said = false;
    if (!said) std::cerr << "[test runner] " << why << "\n";
    said = true;
    return;
  }
  std::string errors;
  try {
    errors = SchemaErrors(documents);
  } catch (const std::exception& failure) {
    ADD_FAILURE() << failure.what();
    return;
  }
  for (std::size_t i = 0; i < documents.size(); ++i) {
    const std::string name = "document " + std::to_string(i) + ": ";
    std::string own;
    std::istringstream lines(errors);
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind(name, 0) == 0) own += "  " + line.substr(name.size()) + "\n";
    }
    if (!own.empty()) {
      ADD_FAILURE() << "velador-image's JSON document breaks doc/schema/" << documents[i].command
                    << ".schema.json:\n"
                    << own << "made by: " << documents[i].origin << "\n"
                    << documents[i].text;
    }
  }
}

}  // namespace velador::testing

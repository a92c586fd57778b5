#include "support/disc_image_file.h"

#include <cstdlib>

namespace velador::testing {

namespace {

// Single-quoted for the shell: the workspace's paths hold no quote of their own, but a name may
// hold a blank.
void AppendQuoted(std::string& command, const std::string& word) {
  command += " '";
  command += word;
  command += '\'';
}

}  // namespace

bool MasterDiscImageFile(const std::filesystem::path& folder, const std::filesystem::path& file,
                         std::string& why) {
  const std::string program = VELADOR_GENISOIMAGE;
  if (program.empty()) {
    why = "genisoimage was not found when the tests were configured (Debian: genisoimage)";
    return false;
  }
  std::string command;
  AppendQuoted(command, program);
  command += " -quiet -udf -o";
  AppendQuoted(command, file.string());
  AppendQuoted(command, folder.string());
  command += " >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) {
    why = "genisoimage failed: " + command;
    return false;
  }
  return true;
}

}  // namespace velador::testing

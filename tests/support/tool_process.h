#pragma once

// Starting the built tool as a child process with standard streams chosen by the test.

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace velador::testing {

// Open descriptors that become the child's standard input, output and error; kClosed leaves
// that one closed in the child.
inline constexpr int kClosed = -1;
struct StandardStreams {
  int in;
  int out;
  int err;
};

// Starts the command `words` (see ToolCommand: the native binary, or wine and the .exe, then
// the arguments) in `folder`, on `streams`, with `environment` ("NAME=value" entries) as its
// whole environment. The caller still owns the descriptors and must wait for the process. A
// `fileSizeLimit` other than 0 keeps every file the process writes to at most that many bytes
// (a write past it fails as on a full disk).
pid_t StartTool(const std::filesystem::path& folder, const std::vector<std::string>& words,
                StandardStreams streams, const std::vector<std::string>& environment,
                std::uint64_t fileSizeLimit = 0);

// Waits for the process: its exit status, or -1 when it did not exit normally.
int WaitForExit(pid_t process);

// The test's own environment, with `name` set to `value` when a name is given.
std::vector<std::string> EnvironmentWith(const std::string& name = {},
                                         const std::string& value = {});

}  // namespace velador::testing

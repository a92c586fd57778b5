#include "support/tool_process.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <stdexcept>

#include "support/workspace.h"

extern char** environ;

namespace velador::testing {

namespace {

// The pointers execve takes, into `words`, null-terminated.
std::vector<char*> PointersTo(std::vector<std::string>& words) {
  std::vector<char*> pointers;
  for (std::string& word : words) pointers.push_back(word.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Makes `descriptor` the child's `standard` one, or closes that one for kClosed.
bool Become(int descriptor, int standard) {
  if (descriptor == kClosed) return close(standard) == 0 || errno == EBADF;
  return dup2(descriptor, standard) >= 0;
}

}  // namespace

pid_t StartTool(const std::filesystem::path& folder, const std::vector<std::string>& command,
                StandardStreams streams, const std::vector<std::string>& environment,
                std::uint64_t fileSizeLimit) {
  // Everything the child needs is prepared here: after fork it only rearranges descriptors.
  std::vector<std::string> words = command;
  std::vector<std::string> variables = environment;
  std::vector<char*> argv = PointersTo(words);
  std::vector<char*> envp = PointersTo(variables);
  const std::string where = folder.string();
  const rlimit bound{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
  // The tool ignores the signal of a write past the limit itself; wine does not.
  const bool ignoreLimitSignal = fileSizeLimit != 0 && UnderWine();

  pid_t child = fork();
  if (child < 0) throw std::runtime_error("fork failed");
  if (child == 0) {
    if (!Become(streams.in, STDIN_FILENO) || !Become(streams.out, STDOUT_FILENO) ||
        !Become(streams.err, STDERR_FILENO) || chdir(where.c_str()) != 0 ||
        (ignoreLimitSignal && signal(SIGXFSZ, SIG_IGN) == SIG_ERR) ||
        (fileSizeLimit != 0 && setrlimit(RLIMIT_FSIZE, &bound) != 0)) {
      _exit(127);
    }
    execvpe(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  return child;
}

int WaitForExit(pid_t process) {
  int status = 0;
  while (waitpid(process, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<std::string> EnvironmentWith(const std::string& name, const std::string& value) {
  std::vector<std::string> variables;
  const std::string prefix = name + "=";
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string variable = *entry;
    if (name.empty() || variable.rfind(prefix, 0) != 0) variables.push_back(variable);
  }
  if (!name.empty()) variables.push_back(prefix + value);
  return variables;
}

}  // namespace velador::testing

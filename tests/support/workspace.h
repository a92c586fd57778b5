#pragma once

// Test support: a fresh temporary folder per test, and a way to run the built tool in it.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/bytes.h"

namespace velador::testing {


struct ToolRun {
  Bytes out;        // standard output, byte for byte
  Bytes err;        // standard error
  int status = -1;  // exit status, or -1 when the process did not exit normally
};

// A new empty folder under the system's temporary folder, removed with everything in it when
// the object goes.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  std::filesystem::path Path(const std::string& relative) const { return root_ / relative; }

  // Writes a file (making its folders), reads one whole, tells whether one exists.
  void Write(const std::string& relative, const Bytes& content) const;
  Bytes Read(const std::string& relative) const;
  bool Exists(const std::string& relative) const;
  void MakeFolder(const std::string& relative) const;

  // Every entry below the root, as relative paths with "/" separators, sorted.
  std::vector<std::string> List() const;

  // Runs the velador binary with `arguments` (argv[0] is added), the workspace as working
  // folder and /dev/null as standard input.
  ToolRun Run(const std::vector<std::string>& arguments) const;

 private:
  std::filesystem::path root_;
};

// Path of the built velador binary.
std::string ToolBinary();

// A disc image inside `workspace` at `folder`: ADV_OBJ/ and a fresh table (40060 zero bytes).
void MakeDiscImage(const Workspace& workspace, const std::string& folder);

// Deterministic content of `length` bytes (a simple generator seeded by `seed`).
Bytes SampleContent(std::size_t length, std::uint32_t seed = 1);

}  // namespace velador::testing

#pragma once

// A disc image in a fresh folder for the fuzz targets, and the checks they make after every
// input: nothing but the expected files may exist, and the table must be unchanged.

#include <filesystem>
#include <set>
#include <string>

namespace velador::fuzz {

class Sandbox {
 public:
  // Makes img/ADV_OBJ, img/AACS with a copy of the committed table, out/, and the key file
  // "key" in a new folder (in memory where the system offers it, so syncs cost nothing).
  Sandbox();
  ~Sandbox();

  const std::filesystem::path& Root() const { return root_; }
  std::string Path(const std::string& relative) const { return (root_ / relative).string(); }
  void Write(const std::string& relative, const std::uint8_t* data, std::size_t size) const;

  // Aborts (a finding) when a temporary file of the tool's is left anywhere below the root.
  void ExpectNoTemporaryFiles() const;

  // Aborts (a finding) when anything but the entries in `allowed` (relative paths) and the
  // fixed files of the image exists below the root, or when the table changed.
  void ExpectOnly(const std::set<std::string>& allowed) const;

  // Removes every entry that is not part of the fixed image and puts the table and the key
  // file back as they were.
  void Reset() const;

 private:
  std::filesystem::path root_;
  std::string table_;
};

}  // namespace velador::fuzz

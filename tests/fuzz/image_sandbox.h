#pragma once

// A small disc image for the targets that change whole images, made afresh for every input in a
// folder (in memory where the system offers it) that also holds files which are no part of the
// image, some of them within reach of a name or a link inside it:
//
//   sentinel                         a file beside the image
//   outside/sentinel.txt             a plain file
//   outside/decoy.js                 a hashed container, as a record could patch one
//   outside/AACS/CONTENT_HASH_TABLE2.AACS  a second table
//   img/AACS/CONTENT_HASH_TABLE2.AACS      the committed table: counter 30, entries 1 to 30
//   img/ADV_OBJ/m.xml s.js long.js e.js    hashed containers naming entries 1, 2-5, 6-29, 30
//   img/ADV_OBJ/p.png a.txt          containers that use no table
//   img/ADV_OBJ/.velador-0000abcd.tmp  a staged container a record can rename into place
//   img/ADV_OBJ/sub/inner.js         a folder, with a file in it
//   img/ADV_OBJ/link.js -> ../../outside/decoy.js
//   img/ADV_OBJ/up -> ../../outside
//
// After every input a target checks that nothing outside img/ changed: no entry appeared or
// went, and each kept its kind, mode, bytes and link target.

#include <cstdint>
#include <map>
#include <string>

namespace velador::fuzz {

inline constexpr const char* kTableOfImage = "img/AACS/CONTENT_HASH_TABLE2.AACS";
inline constexpr const char* kStagedName = ".velador-0000abcd.tmp";

class ImageSandbox {
 public:
  ImageSandbox();
  ~ImageSandbox();
  ImageSandbox(const ImageSandbox&) = delete;
  ImageSandbox& operator=(const ImageSandbox&) = delete;

  std::string Path(const std::string& relative) const;

  // Removes img/ with all it holds and makes it again as above.
  void MakeImage() const;

  // The committed table, whole.
  const std::string& Table() const { return table_; }

  // Writes a file, replacing what stood there.
  void Write(const std::string& relative, const std::string& bytes) const;
  std::string Read(const std::string& relative) const;

  // Each entry at or below `relative` (not following links), keyed by its path relative to
  // the root: kind, mode and bytes (for a link, its target). Files over 1 MiB are described by
  // their size alone, so that a long sparse file costs nothing to look at.
  std::map<std::string, std::string> Snapshot(const std::string& relative) const;

  // The bytes of the regular files below img/, those whose names end in `except` left out.
  std::uint64_t ImageBytes(const std::string& except = {}) const;

  // Aborts (a finding) when anything outside img/ is not as the constructor made it.
  void ExpectOutsideUnchanged() const;

 private:
  std::string root_;
  std::string table_;
  std::map<std::string, std::string> containers_;  // name in ADV_OBJ -> bytes
  std::map<std::string, std::string> outside_;     // as made
};

// Reports a finding and aborts, so that libFuzzer keeps the input.
[[noreturn]] void Finding(const std::string& what);

}  // namespace velador::fuzz

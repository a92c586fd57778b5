#pragma once

// What a build learned of each file of an image, kept outside the image (it ships as it is) so
// that the next build can tell a file that did not change without reading it (internal to the
// image library). A cached file counts as unchanged only when everything its comparison
// depended on is as it was: the source's and the container's stamps (size, times to the
// nanosecond, identity), the key, and the table entries the container's trailer names, which
// are as they were when the table's own stamp is, or else when their digest is. A cache that is
// missing, unreadable, damaged, made under another key or for another image is empty; a stamp
// too close to the moment the cache was taken to be told from a write in that same instant is
// not trusted. The cache may so only ever make a build faster, never different.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "encapsulation/container_types.h"
#include "platform/platform.h"

namespace velador {

using Digest = std::array<std::uint8_t, 20>;

// The numbers of a trailer that run up one by one: first, first + 1, ... (count of them).
struct NumberRun {
  std::uint32_t first = 0;
  std::uint32_t count = 0;  // 0: none known
  friend bool operator==(const NumberRun&, const NumberRun&) = default;
};

struct CachedFile {
  platform::FileStamp source;
  platform::FileStamp container;
  Digest entries{};   // SHA-1 of the table entries the trailer names, in its order; zeros: none
  NumberRun numbers;  // the trailer's numbers, when they make one run
  friend bool operator==(const CachedFile&, const CachedFile&) = default;
};

class BuildCache {
 public:
  // Writes within this long before the cache was taken may share a time stamp with it.
  static constexpr std::int64_t kRacyWindowNs = 3'000'000'000;

  // Where the cache of the image at `image` lies in `folder`: a name made from the image's
  // absolute path.
  static std::string PathFor(const std::string& folder, const std::string& image);

  // The cache at `path` for the image at `image` built under `key`; empty when there is none
  // that holds.
  static BuildCache Load(const std::string& path, const std::string& image, const Key& key);

  // What was cached of the file `name` of ADV_OBJ, if it can be trusted: each of its stamps
  // older than the cache by kRacyWindowNs.
  const CachedFile* Find(const std::string& name) const;

  // Whether the table, stamped `table` now, stands as it stood when the cache was taken: the
  // same stamp, older than the cache by kRacyWindowNs. Every entry a cached file named is then
  // as it was.
  bool TableUnchanged(const std::optional<platform::FileStamp>& table) const;

  // Whether the cache holds `files` and `table` already, every stamp of them trusted, so that
  // saving them again (later) would let a later build trust nothing more.
  bool Holds(const std::map<std::string, CachedFile>& files,
             const std::optional<platform::FileStamp>& table) const;

  // Replaces the cache at `path` in one step, making its folder when needed; `takenAtNs` is the
  // wall-clock time before the first stamp of `files` was taken, `table` the table's stamp once
  // the build was made. False when it could not be written: a build goes on as it would without.
  static bool Save(const std::string& path, const std::string& image, const Key& key,
                   std::int64_t takenAtNs, const std::optional<platform::FileStamp>& table,
                   const std::map<std::string, CachedFile>& files);

  // The wall-clock time, in the units of the stamps.
  static std::int64_t NowNs();

 private:
  std::int64_t takenAtNs_ = 0;
  std::optional<platform::FileStamp> table_;
  std::map<std::string, CachedFile> files_;
};

// Reads `count` bytes of the table from `offset`; false when they are not all there.
using TableReader =
    std::function<bool(std::uint64_t offset, std::uint8_t* data, std::size_t count)>;

// Hands to `entries` the table entries the 4-byte numbers of `trailer` name, in its order, a run
// of consecutive numbers (at most 8192 entries) at a time; false when a number is 0 or past
// `counter`, an entry cannot be read, or `entries` said stop.
bool ForEachNamedRun(
    const TableReader& table, std::uint32_t counter, const std::vector<std::uint8_t>& trailer,
    const std::function<bool(const std::uint8_t* entries, std::size_t count)>& entries);

// SHA-1 of the table entries the 4-byte numbers of `trailer` name, in its order; none when a
// number is 0 or past `counter`, or an entry cannot be read.
std::optional<Digest> DigestOfNamedEntries(const TableReader& table, std::uint32_t counter,
                                           const std::vector<std::uint8_t>& trailer);

// SHA-1 of `bytes`: the entries as a build lays them out, one after the other.
Digest DigestOf(const std::uint8_t* bytes, std::size_t count);

}  // namespace velador

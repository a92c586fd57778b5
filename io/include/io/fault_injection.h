#pragma once

// A seam for tests: every file the io layer creates and every write, sync and rename it makes
// passes a fault point, and an injector a test sets may make any point fail as the system would
// (or do something else there, such as interrupt the process). Nothing is set in normal use,
// where a point costs one relaxed load.

#include <cstdint>
#include <string>

namespace velador::fault_injection {

enum class Point : std::uint8_t {
  kCreate,         // a new file (a probe, a result's temporary file, a spool) just created
  kResultWrite,    // bytes of a result (or its flush to the system)
  kResultSync,     // a result put on the disk
  kResultRename,   // a finished result renamed into place
  kFolderSync,     // the folder's record of that rename put on the disk
  kSystemCopy,     // a copy inside the system (a failure falls back to a copy through memory)
  kSpoolWrite,     // bytes spooled past the memory bound
  kTableWrite,     // entries or the counter written to a table
  kTableSync,      // a table put on the disk
  kTableTruncate,  // a table cut back to its earlier length
  kJournalWrite,   // the record of a table transaction written or put on the disk
  kJournalSeal,    // that record marked sealed (or not) and put on the disk
  kRemove,         // a file removed from an image by a change of the whole image
  kClose,          // a file written closed (the stream is closed all the same)
};

// Decides, point by point, whether a point fails. Called from any thread the io layer runs on,
// so an implementation must be thread-safe.
class FaultInjector {
 public:
  virtual ~FaultInjector() = default;

  // True when `point` is to fail as the system would make it fail.
  virtual bool Fails(Point point) = 0;

  // Told that what `path` holds is now on the disk: a file's bytes after a sync, or a
  // folder's entries after a folder sync. A test that models a power cut keeps this and
  // drops whatever it was never told of. Nothing by default.
  virtual void OnDisk(const std::string& path) { (void)path; }

  // The path under which the file system finds what `path` names: `path` itself here. A test
  // that stands in for a file system that folds letters (Windows, macOS) answers the entry of
  // the folder whose name folds alike when none is spelt exactly so.
  virtual std::string NameOnDisk(const std::string& path) { return path; }
};

// Makes `injector` decide every point from now on; null (the default): no point fails. The
// injector must outlive its use: set null again before it is destroyed, while no operation runs.
void SetFaultInjector(FaultInjector* injector);

// What the injector set says of `point`; false when none is set, at the cost of one relaxed
// load. Thread-safe.
bool Fails(Point point);

// Tells the injector set, if any, that `path` (a file's bytes or a folder's entries) was just
// put on the disk. Every sync the io layer and the layers above it make calls this after it
// succeeded. Thread-safe; one relaxed load when none is set.
void OnDisk(const std::string& path);

// What the injector set, if any, says of where the file system finds `path` (see
// FaultInjector::NameOnDisk); `path` itself when none is set. Thread-safe.
std::string NameOnDisk(const std::string& path);

}  // namespace velador::fault_injection

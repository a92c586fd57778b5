#pragma once

// A seam for tests: every file the io layer creates and every write, sync and rename it makes
// passes a numbered fault point, and a test may make one chosen point fail as the system would,
// or have the process interrupted (SIGINT) right there. Nothing arms it in normal use, where a
// point costs one relaxed load.

#include <cstdint>
#include <optional>
#include <vector>

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
};

// True when this point is the one armed to fail. Thread-safe.
bool Fails(Point point);

enum class Action : std::uint8_t { kFail, kInterrupt };

// For tests. Arm(n) counts the points passed from now on and makes the n-th fail (n = 0: none
// fails) or, with kInterrupt, raises SIGINT there and lets it pass; Disarm stops counting.
void Arm(std::uint64_t failingPoint, Action action = Action::kFail);
void Disarm();
std::uint64_t PointsPassed();
std::optional<Point> FailedPoint();

// The points passed since Arm, in order (the first thousand).
std::vector<Point> PointsSeen();

}  // namespace velador::fault_injection

#pragma once

// How OpenFile reads its `mode` on every system (internal to the platform layer).

#include <optional>

namespace velador::platform {

// For "rb": false; for "r+b": true (the file is opened for updating); none, errno set to
// EINVAL, for any mode OpenFile does not take.
std::optional<bool> OpensForUpdate(const char* mode);

}  // namespace velador::platform

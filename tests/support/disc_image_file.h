#pragma once

// Disc image files for the tests, mastered from an image folder the test made: UDF 1.02, as
// genisoimage -udf writes it (Debian package genisoimage), so that no such file is kept in the
// source tree.

#include <filesystem>
#include <string>

namespace velador::testing {

// Masters the folder `folder` into the UDF image file `file`; false (and `why` says why) when
// genisoimage is not there or fails. The folder becomes the file system's root.
bool MasterDiscImageFile(const std::filesystem::path& folder, const std::filesystem::path& file,
                         std::string& why);

}  // namespace velador::testing

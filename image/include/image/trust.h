#pragma once

// What an image must be before any command reads or changes it. An image may come from anyone:
// its folders and files are what they claim to be (AACS and ADV_OBJ real folders, the table and
// its records regular files, none of them a link that could lead outside the image), and the
// records a stopped run left beside the table are ones this tool would act on. Both programs
// look before they start, so that a hostile image is refused with a clear word instead of being
// half used; the layers below check again as they go, so that a change made meanwhile is
// refused too.

#include <cstdint>
#include <string>

namespace velador {

enum class Distrust : std::uint8_t {
  kNone,
  kLink,           // a symbolic link (a reparse point) stands where the image has a folder or file
  kNotFolder,      // something else than a folder stands where the image has one
  kNotFile,        // something else than a regular file stands where the image has one
  kRefusedRecord,  // a record beside the table asks for what no run of this tool would
};

struct ImageDistrust {
  Distrust kind = Distrust::kNone;
  std::string path;  // what was found wanting
};

// Looks at the image at `image` (its own path is the user's and may be a link): AACS, ADV_OBJ,
// the table and its records, where they exist. Reads the records, writes nothing.
ImageDistrust InspectImage(const std::string& image);

}  // namespace velador

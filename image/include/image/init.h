#pragma once

// velador-image init: a new, empty disc image: its folder (when missing), its ADV_OBJ folder and
// a content hash table with no entry. An existing table is never touched.

#include <cstdint>
#include <string>

#include "image/image_error.h"

namespace velador {

// Why no image was made; the error's path then names the path concerned.
enum class InitError : std::uint8_t {
  kNone,
  kNoParent,            // the image's folder is missing and so is the folder it would go in
  kNotFolder,           // something that is no folder stands where a folder goes
  kTableExists,         // the image has a table already (left as it was)
  kDiscFolderNotEmpty,  // ADV_OBJ holds files already, whose entries a fresh table would lack
  kCannotCreate,        // a folder could not be created
  kWriteFailure,        // the table could not be written and put in place
};

// What init made. The table is always new when init succeeds.
struct ImageInit {
  std::string discFolder;
  std::string table;
  std::uint64_t tableLength = 0;
  bool madeFolder = false;
  bool madeDiscFolder = false;
  bool madeTableFolder = false;
};

// Makes the image at `folder`. Every check is made before anything is created; the table is
// written under a temporary name, put on the disk and renamed into place, with the folders'
// records of what was made synced too.
ImageError<InitError> InitImage(const std::string& folder, ImageInit& init);

}  // namespace velador

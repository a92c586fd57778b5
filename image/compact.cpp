#include "image/compact.h"

namespace velador {

ImageChangeError CompactImage(const std::string& image, const ImageChangeEvents&,
                              ImageCompact& compact, std::string& where) {
  compact.folder = image;
  where = image;
  return ImageChangeError::kWriteFailure;
}

ImageChangeError RemoveFromImage(const std::string& image, const std::vector<std::string>&,
                                 const ImageChangeEvents& events, ImageCompact& compact,
                                 std::string& where) {
  return CompactImage(image, events, compact, where);
}

}  // namespace velador

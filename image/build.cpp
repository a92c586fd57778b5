#include "image/build.h"

#include <algorithm>

namespace velador {

int ImageBuild::ExitStatus() const {
  return std::any_of(files.begin(), files.end(),
                     [](const BuiltFile& file) { return file.action == BuildAction::kRefused; })
             ? 1
             : 0;
}

ImageBuildError BuildImage(const std::string& source, const std::string& image,
                           const BuildOptions& options, const ImageBuildEvents&, ImageBuild& build,
                           std::string& where) {
  build.source = source;
  build.image = image;
  build.dryRun = options.dryRun;
  where = image;
  return ImageBuildError::kWriteFailure;
}

}  // namespace velador

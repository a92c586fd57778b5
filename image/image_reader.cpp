#include "image/image_reader.h"

#include "platform/platform.h"

namespace velador {

ImageEntryKind FolderImageReader::KindOf(const std::string& path) const {
  switch (platform::KindOf(path.c_str())) {
    case platform::EntryKind::kNone:
      return ImageEntryKind::kNone;
    case platform::EntryKind::kFile:
      return ImageEntryKind::kFile;
    case platform::EntryKind::kFolder:
      return ImageEntryKind::kFolder;
    case platform::EntryKind::kLink:
    case platform::EntryKind::kOther:
      break;
  }
  return ImageEntryKind::kOther;
}

std::optional<std::vector<std::string>> FolderImageReader::Entries(const std::string& path,
                                                                   int linkFree) const {
  return platform::FolderEntries(path.c_str(), linkFree);
}

std::unique_ptr<InputFile> FolderImageReader::Open(const std::string& path, ByteCounter* counter,
                                                   int linkFree) const {
  return std::make_unique<InputFile>(path, counter, linkFree);
}

#if !VELADOR_READS_UDF

bool ReadsImageFiles() { return false; }

std::unique_ptr<ImageReader> OpenImageFile(const std::string&, ImageFileProblem& problem) {
  problem = ImageFileProblem::kUnsupported;
  return nullptr;
}

std::unique_ptr<ImageReader> OpenImageBytes(const std::string&, std::unique_ptr<ReadableBytes>,
                                            ImageFileProblem& problem) {
  problem = ImageFileProblem::kUnsupported;
  return nullptr;
}

#endif

}  // namespace velador

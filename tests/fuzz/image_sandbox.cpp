#include "image_sandbox.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace velador::fuzz {

namespace fs = std::filesystem;

namespace {

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

constexpr const char* kContainers[] = {"m.xml", "s.js", "long.js", "e.js", "p.png", "a.txt"};
constexpr std::uint64_t kDescribedWhole = 1 << 20;

// Kind, mode and bytes (or link target) of what stands at `path`, a link not followed.
std::string Describe(const fs::path& path) {
  struct stat facts {};
  if (lstat(path.c_str(), &facts) != 0) return "gone";
  std::string description = std::to_string(facts.st_mode) + ":";
  if (S_ISLNK(facts.st_mode)) return description + "link:" + fs::read_symlink(path).string();
  if (!S_ISREG(facts.st_mode)) return description;
  description += std::to_string(facts.st_size) + ":";
  if (static_cast<std::uint64_t>(facts.st_size) > kDescribedWhole) return description;
  return description + ReadWhole(path);
}

}  // namespace

void Finding(const std::string& what) {
  std::fprintf(stderr, "finding: %s\n", what.c_str());
  std::abort();
}

ImageSandbox::ImageSandbox() {
  const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "velador-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Finding("no sandbox");
  root_ = pattern;
  table_ = ReadWhole(VELADOR_FUZZ_DATA_DIR "/CONTENT_HASH_TABLE2.AACS");
  if (table_.size() != 40300) Finding("the committed table is missing");
  for (const char* name : kContainers) {
    containers_[name] = ReadWhole(fs::path(VELADOR_FUZZ_DATA_DIR "/ADV_OBJ") / name);
    if (containers_[name].size() < 283)
      Finding(std::string("a committed container is missing: ") + name);
  }
  fs::create_directories(Path("outside/AACS"));
  Write("sentinel", "beside the image");
  Write("outside/sentinel.txt", "outside the image");
  Write("outside/decoy.js", containers_["s.js"]);
  Write("outside/AACS/CONTENT_HASH_TABLE2.AACS", table_);
  outside_ = Snapshot("");
  MakeImage();
}

ImageSandbox::~ImageSandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::string ImageSandbox::Path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "/" + relative;
}

void ImageSandbox::MakeImage() const {
  std::error_code error;
  // A folder left without permissions by an input would stop the removal.
  fs::permissions(Path("img"), fs::perms::owner_all, fs::perm_options::add, error);
  fs::remove_all(Path("img"), error);
  if (error) Finding("img/ cannot be removed: " + error.message());
  fs::create_directories(Path("img/AACS"));
  fs::create_directories(Path("img/ADV_OBJ/sub"));
  Write(kTableOfImage, table_);
  for (const auto& [name, bytes] : containers_) Write("img/ADV_OBJ/" + name, bytes);
  Write(std::string("img/ADV_OBJ/") + kStagedName, containers_.at("e.js"));
  Write("img/ADV_OBJ/sub/inner.js", containers_.at("e.js"));
  fs::create_symlink("../../outside/decoy.js", Path("img/ADV_OBJ/link.js"));
  fs::create_directory_symlink("../../outside", Path("img/ADV_OBJ/up"));
}

void ImageSandbox::Write(const std::string& relative, const std::string& bytes) const {
  std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) Finding("cannot write " + relative);
}

std::string ImageSandbox::Read(const std::string& relative) const {
  return ReadWhole(Path(relative));
}

std::map<std::string, std::string> ImageSandbox::Snapshot(const std::string& relative) const {
  std::map<std::string, std::string> entries;
  const fs::path top = Path(relative);
  entries[relative] = Describe(top);
  std::error_code error;
  if (fs::symlink_status(top, error).type() != fs::file_type::directory) return entries;
  for (fs::recursive_directory_iterator it(top, error), end; !error && it != end;
       it.increment(error)) {
    entries[fs::relative(it->path(), root_).generic_string()] = Describe(it->path());
  }
  if (error) Finding("cannot list " + relative + ": " + error.message());
  return entries;
}

std::uint64_t ImageSandbox::ImageBytes(const std::string& except) const {
  std::uint64_t bytes = 0;
  std::error_code error;
  for (fs::recursive_directory_iterator it(Path("img"), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!except.empty() && name.size() >= except.size() &&
        name.compare(name.size() - except.size(), except.size(), except) == 0) {
      continue;
    }
    std::error_code sizeError;
    if (it->symlink_status(sizeError).type() == fs::file_type::regular) {
      bytes += it->file_size(sizeError);
    }
  }
  return bytes;
}

void ImageSandbox::ExpectOutsideUnchanged() const {
  std::map<std::string, std::string> now = Snapshot("");
  for (auto it = now.begin(); it != now.end();) {
    const bool inImage = it->first == "img" || it->first.rfind("img/", 0) == 0;
    it = inImage ? now.erase(it) : std::next(it);
  }
  std::map<std::string, std::string> made = outside_;
  made.erase("img");
  if (now == made) return;
  for (const auto& [path, description] : made) {
    if (now.count(path) == 0) Finding("gone from outside the image: " + path);
    if (now[path] != description) Finding("changed outside the image: " + path);
  }
  for (const auto& [path, description] : now) {
    if (made.count(path) == 0) Finding("appeared outside the image: " + path);
  }
  Finding("the root folder changed");
}

}  // namespace velador::fuzz

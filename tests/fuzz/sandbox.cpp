#include "sandbox.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

namespace velador::fuzz {

namespace fs = std::filesystem;

namespace {

const char* const kFixed[] = {"img", "img/ADV_OBJ", "img/AACS", "img/AACS/CONTENT_HASH_TABLE2.AACS",
                              "out", "key"};

std::string ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

bool IsFixed(const std::string& relative) {
  for (const char* name : kFixed) {
    if (relative == name) return true;
  }
  return false;
}

[[noreturn]] void Finding(const std::string& what) {
  std::fprintf(stderr, "finding: %s\n", what.c_str());
  std::abort();
}

}  // namespace

Sandbox::Sandbox() {
  const fs::path base = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
  std::string pattern = (base / "velador-fuzz-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) Finding("no sandbox");
  root_ = pattern;
  fs::create_directories(root_ / "img/ADV_OBJ");
  fs::create_directories(root_ / "img/AACS");
  fs::create_directories(root_ / "out");
  table_ = ReadWhole(VELADOR_FUZZ_DATA_DIR "/CONTENT_HASH_TABLE2.AACS");
  if (table_.size() < 40060) Finding("the committed table is missing");
  std::ofstream(root_ / "img/AACS/CONTENT_HASH_TABLE2.AACS", std::ios::binary) << table_;
  std::ofstream(root_ / "key", std::ios::binary) << "0123456789abcdef";
}

Sandbox::~Sandbox() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

void Sandbox::Write(const std::string& relative, const std::uint8_t* data, std::size_t size) const {
  std::ofstream out(root_ / relative, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void Sandbox::ExpectNoTemporaryFiles() const {
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
    if (entry.path().filename().string().rfind(".velador-", 0) == 0)
      Finding("temporary file left: " + entry.path().string());
  }
}

void Sandbox::ExpectOnly(const std::set<std::string>& allowed) const {
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
    const std::string relative = fs::relative(entry.path(), root_).generic_string();
    if (!IsFixed(relative) && allowed.count(relative) == 0) Finding("unexpected file " + relative);
  }
  if (ReadWhole(root_ / "img/AACS/CONTENT_HASH_TABLE2.AACS") != table_) Finding("table changed");
}

void Sandbox::Reset() const {
  std::vector<fs::path> extra;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root_)) {
    if (!IsFixed(fs::relative(entry.path(), root_).generic_string())) extra.push_back(entry.path());
  }
  std::error_code ignored;
  for (auto it = extra.rbegin(); it != extra.rend(); ++it) fs::remove_all(*it, ignored);
  const fs::path table = root_ / "img/AACS/CONTENT_HASH_TABLE2.AACS";
  if (ReadWhole(table) != table_)
    std::ofstream(table, std::ios::binary | std::ios::trunc) << table_;
  std::ofstream(root_ / "key", std::ios::binary | std::ios::trunc) << "0123456789abcdef";
}

}  // namespace velador::fuzz

#include "support/workspace.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/emulator.h"
#include "support/tool_process.h"

namespace velador::testing {

namespace fs = std::filesystem;

Workspace::Workspace() {
  std::string pattern = (fs::temp_directory_path() / "velador-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  root_ = pattern;
}

Workspace::~Workspace() {
  ExpectDocumentsValid(json_);
  std::error_code ignored;
  // Tests may leave read-only folders behind; give the owner its rights back first.
  for (auto it = fs::recursive_directory_iterator(root_, ignored);
       it != fs::recursive_directory_iterator(); it.increment(ignored)) {
    if (it->is_directory(ignored))
      fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(root_, ignored);
  fs::remove_all(CacheFolder(), ignored);
}

void Workspace::FlipBits(const std::string& relative, std::size_t offset, char mask) const {
  Bytes bytes = Read(relative);
  bytes.at(offset) = static_cast<char>(bytes[offset] ^ mask);
  Write(relative, bytes);
}

void Workspace::Write(const std::string& relative, const Bytes& content) const {
  fs::path path = Path(relative);
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

Bytes Workspace::Read(const std::string& relative) const {
  std::ifstream in(Path(relative), std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + relative);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool Workspace::Exists(const std::string& relative) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(Path(relative), ignored));
}

void Workspace::MakeFolder(const std::string& relative) const {
  fs::create_directories(Path(relative));
}

std::vector<std::string> Workspace::List() const {
  std::vector<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root_)) {
    entries.push_back(fs::relative(entry.path(), root_).generic_string());
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

std::vector<std::string> Workspace::ToolEnvironment() const {
  std::vector<std::string> environment =
      !locale_.empty() ? EnvironmentWith("LC_ALL", locale_)
                       : (UnderWine() ? EnvironmentWith() : EnvironmentWith("LC_ALL", "C"));
  // What builds keep of an image goes beside the workspace, never to the user's own cache.
  std::erase_if(environment, [](const std::string& variable) {
    return variable.rfind("XDG_CACHE_HOME=", 0) == 0;
  });
  environment.push_back("XDG_CACHE_HOME=" + CacheFolder().string());
  return environment;
}

ToolRun Workspace::Run(const std::vector<std::string>& arguments, Program program,
                       std::uint64_t fileSizeLimit) const {
  // The captured streams go to a folder of their own, so the workspace holds only what the tool
  // itself leaves there.
  Workspace capture;
  const std::string outPath = capture.Path("stdout").string();
  const std::string errPath = capture.Path("stderr").string();
  const int status = WaitForExit(Start(arguments, outPath, errPath, program, fileSizeLimit));
  ToolRun run;
  run.out = capture.Read("stdout");
  run.err = capture.Read("stderr");
  run.status = status;
  if (UnderWine()) {
    bool bareLineFeed = false;
    run.out = FromWindowsLineEnds(run.out, bareLineFeed);
    if (program == Program::kImage) run.err = FromWindowsLineEnds(run.err, bareLineFeed);
    if (bareLineFeed) run.err += "[test runner] the .exe wrote a line end without CR\n";
  }
  if (program == Program::kImage && (status == 0 || status == 1)) NoteJson(arguments, run.out);
  return run;
}

void Workspace::NoteJson(const std::vector<std::string>& arguments, const Bytes& out) const {
  if (std::optional<JsonDocument> document = JsonDocumentOf(arguments, out)) {
    json_.push_back(std::move(*document));
  }
}

ToolRun Workspace::RunWithOutputClosed(const std::vector<std::string>& arguments,
                                       Program program) const {
  Workspace capture;
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int err =
      open(capture.Path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t child = -1;
  if (in >= 0 && err >= 0) {
    child =
        StartTool(root_, ToolCommand(arguments, program), {in, kClosed, err}, ToolEnvironment());
  }
  for (int descriptor : {in, err}) {
    if (descriptor >= 0) close(descriptor);
  }
  if (child < 0) throw std::runtime_error("cannot open the captured streams");
  ToolRun run;
  run.status = WaitForExit(child);
  run.err = capture.Read("stderr");
  return run;
}

pid_t Workspace::Start(const std::vector<std::string>& arguments, const std::string& outPath,
                       const std::string& errPath, Program program,
                       std::uint64_t fileSizeLimit) const {
  const int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  pid_t child = -1;
  if (in >= 0 && out >= 0 && err >= 0) {
    child = StartTool(root_, ToolCommand(arguments, program), {in, out, err}, ToolEnvironment(),
                      fileSizeLimit);
  }
  for (int descriptor : {in, out, err}) {
    if (descriptor >= 0) close(descriptor);
  }
  if (child < 0) throw std::runtime_error("cannot open the captured streams");
  return child;
}

std::string ToolBinary() { return VELADOR_BINARY; }

std::string ImageBinary() { return VELADOR_IMAGE_BINARY; }

namespace {

const char* WineExe() {
  const char* exe = std::getenv("VELADOR_E2E_WINE_EXE");
  return exe != nullptr && exe[0] != '\0' ? exe : nullptr;
}

}  // namespace

bool UnderWine() { return WineExe() != nullptr; }

std::vector<std::string> ToolCommand(const std::vector<std::string>& arguments, Program program) {
  std::vector<std::string> words;
  const bool image = program == Program::kImage;
  if (const char* exe = WineExe()) {
    const std::string velador = exe;
    const std::string folder = velador.substr(0, velador.find_last_of("/\\") + 1);
    // Wine now and then fails to start a program, with status 1 and "failed to map the shared
    // user data", when address-space randomisation has put something where it needs its fixed
    // pages; started without randomisation, it always finds them free.
    words = {"setarch", "-R", "wine", image ? folder + "velador-image.exe" : velador};
  } else {
    words = {VELADOR_EMULATOR_WORDS};  // none in a native build
    words.push_back(image ? ImageBinary() : ToolBinary());
  }
  words.insert(words.end(), arguments.begin(), arguments.end());
  return words;
}

Bytes FromWindowsLineEnds(const Bytes& out, bool& bareLineFeed) {
  Bytes lines;
  lines.reserve(out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == '\r' && i + 1 < out.size() && out[i + 1] == '\n') continue;
    if (out[i] == '\n' && (i == 0 || out[i - 1] != '\r')) bareLineFeed = true;
    lines += out[i];
  }
  return lines;
}

void MakeDiscImage(const Workspace& workspace, const std::string& folder) {
  std::string prefix = folder.empty() ? "" : folder + "/";
  workspace.MakeFolder(prefix + "ADV_OBJ");
  workspace.Write(prefix + "AACS/CONTENT_HASH_TABLE2.AACS", Bytes(40060, '\0'));
}

Bytes SampleContent(std::size_t length, std::uint32_t seed) {
  Bytes content(length, '\0');
  std::uint32_t state = seed * 2654435761u + 12345u;
  for (char& c : content) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 24);
  }
  return content;
}

}  // namespace velador::testing

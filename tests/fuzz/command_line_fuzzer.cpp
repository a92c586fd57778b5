// Arbitrary command lines of 0 to 7 words (the input split at zero bytes), run through the
// whole front end in a folder holding a disc image, a key and a few inputs. No run may leave a
// temporary file behind. Words that could reach outside the folder (absolute paths, "..") are
// not tried, so that a fuzzed output folder never writes among the machine's own files.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "sandbox.h"

namespace {

using velador::fuzz::Sandbox;

const Sandbox& TheSandbox() {
  static const Sandbox sandbox = [] {
    // A start without arguments waits for Enter when standard input is a terminal.
    if (std::freopen("/dev/null", "r", stdin) == nullptr) std::abort();
    return Sandbox();
  }();
  return sandbox;
}

void WriteInputs(const Sandbox& sandbox) {
  std::ofstream(sandbox.Path("a.txt")) << "notes";
  std::ofstream(sandbox.Path("m.xml")) << "<menu/>";
  std::ofstream(sandbox.Path("s.js")) << std::string(1500, 'j');
  std::ofstream(sandbox.Path("p.png")) << std::string(700, 'p');
}

bool StaysInside(const std::string& word) {
  return word.find("..") == std::string::npos &&
         (word.empty() || (word[0] != '/' && word[0] != '\\'));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Sandbox& sandbox = TheSandbox();
  std::vector<std::string> words;
  std::string word;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  if (size > 0) words.push_back(word);
  if (words.size() > 7) return 0;
  for (const std::string& w : words) {
    if (!StaysInside(w)) return 0;
  }
  if (chdir(sandbox.Root().c_str()) != 0) std::abort();
  WriteInputs(sandbox);
  std::vector<const char*> argv = {"velador"};
  for (const std::string& w : words) argv.push_back(w.c_str());
  std::ostringstream printed;
  velador::RunVelador(static_cast<int>(argv.size()), argv.data(), printed);
  sandbox.ExpectNoTemporaryFiles();
  sandbox.Reset();
  return 0;
}

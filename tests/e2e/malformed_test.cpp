// The kit of malformed containers in tests/data/malformed: each file's name starts with the
// refusal it must give (see the README there). Every file is decapsulated; nothing may be
// written, and the output must be that refusal byte for byte.

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e/tool_test.h"

namespace velador::testing {
namespace {

using namespace expected;
namespace fs = std::filesystem;

class MalformedKit : public ToolTest {};

TEST_F(MalformedKit, EveryFileGetsTheRefusalItIsNamedFor) {
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(VELADOR_MALFORMED_DIR)) {
    const std::string name = entry.path().filename().string();
    const std::size_t dashes = name.find("--");
    if (dashes == std::string::npos) continue;  // the README
    SCOPED_TRACE(name);
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    w.Write("img/ADV_OBJ/" + name, bytes.str());
    ExpectRefusal({"-d", "img/ADV_OBJ/" + name, "out", "key"}, Refusal(name.substr(0, dashes)));
    ++files;
  }
  EXPECT_GE(files, 10);
}

}  // namespace
}  // namespace velador::testing

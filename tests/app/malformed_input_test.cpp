// Malformed containers through the whole front end, in-process: the committed kit in
// tests/data/malformed (each file named for the refusal it must give), then every truncation of
// a small container of each type and changed header bytes, each case with the outcome an
// independent reading of the format predicts.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/front_end.h"
#include "support/expected_output.h"
#include "support/workspace.h"

namespace velador::testing {
namespace {

namespace fs = std::filesystem;
using expected::Refusal;

// What decapsulating `bytes` must give: the name of a refusal, or "" when the container is
// taken and a file restored. Written apart from the tool's own format code.
std::string PredictedRefusal(const Bytes& bytes) {
  if (bytes.size() < 4 || bytes.compare(0, 4, "AACS") != 0) return "not_container";
  if (bytes.size() < 5) return "unknown_type";
  std::size_t fixedPart = 0;
  switch (static_cast<unsigned char>(bytes[4])) {
    case 0x01:
    case 0x21:
      fixedPart = 283;
      break;
    case 0x02:
      fixedPart = 299;
      break;
    case 0x12:
      fixedPart = 287;
      break;
    case 0x11:
      fixedPart = 283;
      if (bytes.size() >= 11) {
        std::uint64_t size = 0;
        for (int i = 7; i < 11; ++i) size = size << 8 | static_cast<unsigned char>(bytes[i]);
        fixedPart += size;
      }
      break;
    default:
      return "unknown_type";
  }
  return bytes.size() < fixedPart ? "too_short" : "";
}

class MalformedInput : public ::testing::Test {
 protected:
  MalformedInput() {
    MakeDiscImage(w, "img");
    w.MakeFolder("out");
    w.Write("key", expected::kKey);
  }

  std::string Run(std::vector<std::string> words) {
    words.insert(words.begin(), "velador");
    std::vector<const char*> argv;
    for (const std::string& word : words) argv.push_back(word.c_str());
    std::ostringstream out;
    RunVelador(static_cast<int>(argv.size()), argv.data(), out);
    return out.str();
  }

  // Decapsulates `bytes` as img/ADV_OBJ/c.bin and checks the outcome `refusal` names.
  void ExpectOutcome(const Bytes& bytes, const std::string& refusal) {
    w.Write("img/ADV_OBJ/c.bin", bytes);
    const std::string out = Run({"-d", w.Path("img/ADV_OBJ/c.bin").string(), w.Path("out").string(),
                                 w.Path("key").string()});
    if (refusal.empty()) {
      EXPECT_EQ(out.rfind(expected::ResultPath(w.Path("out/c.bin").string()), 0), 0u) << out;
      EXPECT_TRUE(w.Exists("out/c.bin"));
    } else {
      EXPECT_EQ(out, Refusal(refusal));
      EXPECT_FALSE(w.Exists("out/c.bin"));
    }
    fs::remove(w.Path("out/c.bin"));
  }

  // A container of every type, made by the tool from `content` (one of each code).
  std::vector<Bytes> SmallContainers(const Bytes& content) {
    std::vector<Bytes> containers;
    for (const char* name : {"a.txt", "a.png", "a.xml", "a.js"}) {
      w.Write(name, content);
      for (const char* destination : {"-d", "-p"}) {
        const std::string folder = destination[1] == 'd' ? "img" : "store";
        w.MakeFolder(folder);
        Run({"-e", destination, w.Path(name).string(), w.Path(folder).string(),
             w.Path("key").string()});
        const std::string made = folder + (folder == "img" ? "/ADV_OBJ/" : "/") + name;
        containers.push_back(w.Read(made));
        fs::remove(w.Path(made));
      }
    }
    return containers;
  }

  Workspace w;
};

TEST_F(MalformedInput, EveryFileOfTheKitGetsTheRefusalItIsNamedFor) {
  int files = 0;
  for (const fs::directory_entry& entry : fs::directory_iterator(VELADOR_MALFORMED_DIR)) {
    const std::string name = entry.path().filename().string();
    const std::size_t dashes = name.find("--");
    if (dashes == std::string::npos) continue;  // the README
    SCOPED_TRACE(name);
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(PredictedRefusal(bytes.str()), name.substr(0, dashes));
    ExpectOutcome(bytes.str(), name.substr(0, dashes));
    ++files;
  }
  EXPECT_GE(files, 10);
}

TEST_F(MalformedInput, EveryTruncationOfASmallContainerOfEachType) {
  for (const Bytes& container : SmallContainers("short")) {
    SCOPED_TRACE(static_cast<int>(container.at(4)));
    for (std::size_t length = 0; length <= container.size(); ++length) {
      SCOPED_TRACE(length);
      const Bytes cut = container.substr(0, length);
      ExpectOutcome(cut, PredictedRefusal(cut));
    }
  }
}

// Every value of the magic and the type code; a few of the bytes the tool reads no type from
// (5 and 6) or only the Encryption-and-Hash type reads (the size field, 7 to 10).
TEST_F(MalformedInput, HeaderByteValues) {
  for (const Bytes& container : SmallContainers(Bytes(600, 'x'))) {
    SCOPED_TRACE(static_cast<int>(container.at(4)));
    for (std::size_t offset = 0; offset < 11; ++offset) {
      const bool every = offset < 5;
      for (int value = 0; value < 256; ++value) {
        if (!every && value != 0x00 && value != 0x02 && value != 0x80 && value != 0xFF) continue;
        Bytes changed = container;
        changed[offset] = static_cast<char>(value);
        SCOPED_TRACE(offset);
        SCOPED_TRACE(value);
        ExpectOutcome(changed, PredictedRefusal(changed));
      }
    }
  }
}

}  // namespace
}  // namespace velador::testing

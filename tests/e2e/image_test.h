#pragma once

// The fixture of velador-image's end-to-end tests: disc images made by velador itself (so that
// a check is judged against the reference program's containers), runs of velador-image, and
// the pieces of its expected output.

#include <string>
#include <vector>

#include "e2e/tool_test.h"
#include "support/json.h"

namespace velador::testing {

// The standard image "img", made by `velador -e -d` in this order: menu.xml (Hash, entry 1),
// anim.js (Encryption-and-Hash, 3000 bytes: 7 units, entries 2 to 8), logo.png (Encryption),
// notes.txt (Non-Protected). Folder order: anim.js, logo.png, menu.xml, notes.txt.
class ImageTest : public ToolTest {
 public:
  static constexpr std::size_t kTableEntriesAt = 40060;

  void MakeStandardImage() {
    Source("menu.xml", Bytes("<menu><item/></menu>\n"));
    Source("anim.js", SampleContent(3000, 7));
    Source("logo.png", SampleContent(700, 8));
    Source("notes.txt", Bytes("notes\n"));
    for (const char* name : {"menu.xml", "anim.js", "logo.png", "notes.txt"}) {
      Out({"-e", "-d", std::string("src/") + name, "img", "key"});
    }
  }

  void Source(const std::string& name, const Bytes& content) { w.Write("src/" + name, content); }

  ToolRun Image(const std::vector<std::string>& arguments) {
    return w.Run(arguments, Program::kImage);
  }

  // The JSON document of `check img --key key`, parsed; its exit status must be `status`.
  JsonValue CheckJson(int status,
                      std::vector<std::string> arguments = {"check", "img", "--key", "key"}) {
    arguments.push_back("--json");
    const ToolRun run = Image(arguments);
    EXPECT_EQ(run.status, status);
    EXPECT_EQ(run.err, "");
    std::string error;
    const auto document = ParseJson(run.out, error);
    EXPECT_TRUE(document.has_value()) << error << "\n" << run.out;
    return document.value_or(JsonValue{});
  }

  // The file object named `name` in a check's JSON document.
  static const JsonValue& FileIn(const JsonValue& document, const std::string& name) {
    for (const JsonValue& file : document["files"].items) {
      if (file["name"].string == name) return file;
    }
    ADD_FAILURE() << "no file " << name;
    static const JsonValue none;
    return none;
  }
};

}  // namespace velador::testing

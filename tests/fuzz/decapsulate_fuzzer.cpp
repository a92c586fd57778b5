// Arbitrary bytes decapsulated as a container: once through the whole front end (the header's
// type code decides, as for a user), then as a container of each of the five types. The disc
// image around it is real, with a table holding entries. After every input nothing but the
// restored file may exist and the table must be unchanged.

#include <cstdint>
#include <filesystem>
#include <sstream>

#include "app/front_end.h"
#include "encapsulation/encapsulator.h"
#include "sandbox.h"

namespace {

using velador::fuzz::Sandbox;

const Sandbox& TheSandbox() {
  static const Sandbox sandbox;
  return sandbox;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Sandbox& sandbox = TheSandbox();
  sandbox.Write("img/ADV_OBJ/f.js", data, size);
  const std::string container = sandbox.Path("img/ADV_OBJ/f.js");
  const std::string out = sandbox.Path("out");
  const std::string key = sandbox.Path("key");
  const char* argv[] = {"velador", "-d", container.c_str(), out.c_str(), key.c_str()};
  std::ostringstream printed;
  velador::RunVelador(5, argv, printed);
  sandbox.ExpectOnly({"img/ADV_OBJ/f.js", "out/f.js"});

  const velador::Key fixedKey = {'0', '1', '2', '3', '4', '5', '6', '7',
                                 '8', '9', 'a', 'b', 'c', 'd', 'e', 'f'};
  const std::string result = out + "/f.js";
  for (const velador::TypeFacts& facts : velador::AllTypes()) {
    std::filesystem::remove(result);
    velador::Encapsulator encapsulator(
        {container, result, sandbox.Path("img/AACS/CONTENT_HASH_TABLE2.AACS")}, "f.js");
    const velador::OperationReport report =
        encapsulator.Run(facts.type, velador::Direction::kDecapsulate, fixedKey);
    // A result exists exactly when the operation says it completed.
    if (report.Completed() != std::filesystem::exists(result)) __builtin_trap();
    sandbox.ExpectOnly({"img/ADV_OBJ/f.js", "out/f.js"});
  }
  sandbox.Reset();
  return 0;
}

#pragma once

// Expected console texts and file pieces for the end-to-end tests. The texts live in
// tests/e2e/expected as the exact Windows-1252 bytes the tool must print, written by hand;
// the parts that vary are placeholders such as {result}. Nothing here comes from the tool's own
// sources: a typo on either side fails a test.

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

#include "support/bytes.h"
#include "support/workspace.h"

namespace velador::testing::expected {

// The key most tests use; printed, it shows one-digit values (0, f) and two-digit ones.
inline const Bytes kKey("\x00\x0f\x10\xab\x2b\x7e\x15\x16\x28\xae\xd2\xa6\xab\xf7\x15\x88", 16);
inline const Bytes kOtherKey = "fedcba9876543210";
inline const std::string kTablePath = "img/AACS/CONTENT_HASH_TABLE2.AACS";

// A small Hash content, and bytes 12 to 19 of the SHA-1 of its body ("<menu/>\n" as the content
// of h.xml), worked out independently: its table entry's digest tail.
inline const Bytes kMenuContent = "<menu/>\n";
inline const Bytes kMenuTail = FromHex("dfaa449b521a22d1");

// The text of expected/`name`.txt with each {placeholder} replaced by its value. A missing file,
// a placeholder without a value or a value without a placeholder fails the test.
std::string Expected(
    std::string_view name,
    std::initializer_list<std::pair<std::string_view, std::string_view>> values = {});

// A refusal or table message: expected/refusal/`name`.txt.
inline std::string Refusal(std::string_view name, std::string_view tablePath = {}) {
  if (name == "no_table") return Expected("refusal/no_table", {{"table", tablePath}});
  return Expected("refusal/" + std::string(name));
}

// ---- Operation reports ------------------------------------------------------------------

inline std::string Matches(bool yes) { return yes ? "COINCIDEIX" : "NO COINCIDEIX"; }
inline std::string Player(bool accepts) { return accepts ? "acceptaria" : "descartaria"; }

// The printed start of a run: the result-path line (no line end follows) and the announcement
// `type` (encryption, encryption_hash, mac, hash, non_protected or hash_decapsulation).
inline std::string ResultPath(std::string_view path) {
  return Expected("fragment/result_path", {{"result", path}});
}
inline std::string Start(std::string_view path, std::string_view type) {
  return ResultPath(path) + Expected("fragment/announce_" + std::string(type));
}

inline std::string NonProtectedEncapsulation(std::string_view result, const Bytes& key) {
  return Expected("report/non_protected_encapsulation",
                  {{"result", result},
                   {"key_head", HexValues(key.substr(0, 8))},
                   {"key_tail", HexValues(key.substr(8, 8))}});
}

inline std::string NonProtectedDecapsulation(std::string_view result, bool nameMatches) {
  return Expected(
      "report/non_protected_decapsulation",
      {{"result", result}, {"name_match", Matches(nameMatches)}, {"player", Player(nameMatches)}});
}

inline std::string EncryptionEncapsulation(std::string_view result, const Bytes& key) {
  return Expected("report/encryption_encapsulation", {{"result", result},
                                                      {"key_head", HexValues(key.substr(0, 8))},
                                                      {"key_tail", HexValues(key.substr(8, 8))}});
}

inline std::string EncryptionDecapsulation(std::string_view result, const Bytes& key,
                                           bool nameMatches) {
  return Expected("report/encryption_decapsulation", {{"result", result},
                                                      {"key_head", HexValues(key.substr(0, 8))},
                                                      {"key_tail", HexValues(key.substr(8, 8))},
                                                      {"name_match", Matches(nameMatches)},
                                                      {"player", Player(nameMatches)}});
}

inline std::string MacEncapsulation(std::string_view result, const Bytes& mac) {
  return Expected("report/mac_encapsulation", {{"result", result},
                                               {"mac_head", HexValues(mac.substr(0, 8))},
                                               {"mac_tail", HexValues(mac.substr(8, 8))}});
}

inline std::string MacDecapsulation(std::string_view result, bool macMatches, bool nameMatches) {
  return Expected("report/mac_decapsulation", {{"result", result},
                                               {"mac_match", Matches(macMatches)},
                                               {"name_match", Matches(nameMatches)},
                                               {"player", Player(macMatches && nameMatches)}});
}

// `tableMessages` is what the table work prints, right after the announcement.
inline std::string HashEncapsulation(std::string_view result, const Bytes& digestTail,
                                     std::string_view tableMessages = "") {
  return Expected(
      "report/hash_encapsulation",
      {{"result", result}, {"table_messages", tableMessages}, {"hash", HexValues(digestTail)}});
}

inline std::string HashDecapsulation(std::string_view result, bool hashMatches, bool nameMatches) {
  return Expected("report/hash_decapsulation", {{"result", result},
                                                {"hash_match", Matches(hashMatches)},
                                                {"name_match", Matches(nameMatches)},
                                                {"player", Player(hashMatches && nameMatches)}});
}

inline std::string HashDecapsulationWithoutTable(std::string_view result,
                                                 std::string_view tablePath) {
  return Expected("report/hash_decapsulation_without_table",
                  {{"result", result}, {"table", tablePath}});
}

inline std::string EncryptionHashEncapsulation(std::string_view result, const Bytes& lastTail,
                                               const Bytes& key,
                                               std::string_view tableMessages = "") {
  return Expected("report/encryption_hash_encapsulation",
                  {{"result", result},
                   {"table_messages", tableMessages},
                   {"hash", HexValues(lastTail)},
                   {"key_head", HexValues(key.substr(0, 8))},
                   {"key_tail", HexValues(key.substr(8, 8))}});
}

// `unitsChecked` < 0 stands for the mismatching hash group.
inline std::string EncryptionHashDecapsulation(std::string_view result, const Bytes& key,
                                               int unitsChecked, bool nameMatches) {
  const std::string head = HexValues(key.substr(0, 8)), tail = HexValues(key.substr(8, 8));
  if (unitsChecked < 0)
    return Expected("report/encryption_hash_decapsulation_mismatch",
                    {{"result", result},
                     {"key_head", head},
                     {"key_tail", tail},
                     {"name_match", Matches(nameMatches)}});
  return Expected("report/encryption_hash_decapsulation", {{"result", result},
                                                           {"key_head", head},
                                                           {"key_tail", tail},
                                                           {"count", std::to_string(unitsChecked)},
                                                           {"name_match", Matches(nameMatches)},
                                                           {"player", Player(nameMatches)}});
}

inline std::string EncryptionHashDecapsulationWithoutTable(std::string_view result,
                                                           const Bytes& key,
                                                           std::string_view tablePath) {
  return Expected("report/encryption_hash_decapsulation_without_table",
                  {{"result", result},
                   {"key_head", HexValues(key.substr(0, 8))},
                   {"key_tail", HexValues(key.substr(8, 8))},
                   {"table", tablePath}});
}

// ---- File pieces ------------------------------------------------------------------------

// No temporary file of the tool's, nor one of the old fixed names, is left anywhere.
inline void ExpectNoLeftovers(const Workspace& w) {
  for (const std::string& entry : w.List()) {
    const std::string name = entry.substr(entry.find_last_of('/') + 1);
    EXPECT_NE(name.rfind(".velador-", 0), 0u) << entry;
    EXPECT_NE(name, "temp_aacs.tmp");
    EXPECT_NE(name, "temp_hash_aacs.tmp");
  }
}

}  // namespace velador::testing::expected

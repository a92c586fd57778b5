#pragma once

// A small JSON reader for the tests that check a program's JSON output: it parses the whole
// text strictly (RFC 8259: no trailing commas, no comments, strings valid UTF-8 with their
// escapes) and fails the parse on anything else.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velador::testing {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  double number = 0;
  std::string string;  // UTF-8, escapes resolved
  std::vector<JsonValue> items;
  std::map<std::string, JsonValue> members;
  std::vector<std::string> keys;  // the members' keys in the order they came

  bool IsNull() const { return kind == Kind::kNull; }
  // The member `key`; a test failure and a null value when there is none.
  const JsonValue& operator[](const std::string& key) const;
  const JsonValue& operator[](std::size_t index) const;
  std::uint64_t Unsigned() const { return static_cast<std::uint64_t>(number); }
};

// The document `text`; none, with `error` saying where, when it is no valid JSON.
std::optional<JsonValue> ParseJson(std::string_view text, std::string& error);

}  // namespace velador::testing

#pragma once

// Readers for the known-answer files in tests/vectors: NIST CAVP .rsp text and the subset of
// JSON that Wycheproof files use. A reader throws std::runtime_error on a file it cannot
// read, so a missing or mangled file fails its test instead of passing with zero cases.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace velador::test {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(std::string_view hex);
std::string ToHex(const std::uint8_t* data, std::size_t n);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

// Path of a file under tests/vectors.
std::string VectorPath(std::string_view relative);

// One blank-line-separated record of NAME = value lines, with the [SECTION] it appeared in.
// Names are kept as written; values have surrounding blanks removed.
struct RspRecord {
  std::string section;
  std::map<std::string, std::string> fields;

  bool Has(const std::string& name) const { return fields.count(name) != 0; }
  const std::string& Text(const std::string& name) const;
  Bytes Hex(const std::string& name) const { return FromHex(Text(name)); }
  long Number(const std::string& name) const { return std::stol(Text(name)); }
};

std::vector<RspRecord> ReadRsp(const std::string& path);

// A parsed JSON value: null, bool, number, string, array or object.
struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](std::string_view key) const;  // throws if absent
  long Int() const { return static_cast<long>(number); }
};

Json ReadJson(const std::string& path);

}  // namespace velador::test

#pragma once

// Byte helpers of the crypto tests, and readers for the known-answer files in tests/vectors:
// NIST CAVP .rsp text and Wycheproof JSON. A reader throws std::runtime_error on a file it cannot
// read, so a missing or mangled file fails its test instead of passing with zero cases.

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace velador::test {

using Bytes = std::vector<std::uint8_t>;

Bytes FromHex(std::string_view hex);
std::string ToHex(const std::uint8_t* data, std::size_t n);
inline std::string ToHex(const Bytes& b) { return ToHex(b.data(), b.size()); }

// `n` bytes drawn from `rng`.
Bytes RandomBytes(std::mt19937& rng, std::size_t n);

// Empty when `actual` equals `expected`, else where they first differ: a short message in
// place of a dump of two long buffers.
std::string Mismatch(const Bytes& actual, const Bytes& expected);

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

// The test cases of a Wycheproof file, one map per case, holding the case's own fields
// (tcId, key, msg, result, ...) and its group's scalar fields (keySize, ivSize, tagSize).
// It relies on the files' one-field-per-line layout; callers check the case count.
using WycheproofCase = std::map<std::string, std::string>;
std::vector<WycheproofCase> ReadWycheproof(const std::string& path);

}  // namespace velador::test

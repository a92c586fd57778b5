#include "crypto/vector_files.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace velador::test {

namespace {

std::string Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  const auto last = s.find_last_not_of(" \t\r\n");
  return std::string(s.substr(first, last - first + 1));
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open vector file " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

Bytes FromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) throw std::runtime_error("odd hex length");
  Bytes out(hex.size() / 2);
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
  }
  return out;
}

std::string ToHex(const std::uint8_t* data, std::size_t n) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < n; ++i) {
    out += kDigits[data[i] >> 4];
    out += kDigits[data[i] & 15];
  }
  return out;
}

Bytes RandomBytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

std::string Mismatch(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return {};
  if (actual.size() != expected.size()) {
    return "size " + std::to_string(actual.size()) + ", expected " +
           std::to_string(expected.size());
  }
  std::size_t at = 0;
  while (actual[at] == expected[at]) ++at;
  return "first difference at byte " + std::to_string(at) + " of " + std::to_string(actual.size());
}

std::string VectorPath(std::string_view relative) {
  return std::string(VELADOR_VECTOR_DIR) + "/" + std::string(relative);
}

const std::string& RspRecord::Text(const std::string& name) const {
  const auto it = fields.find(name);
  if (it == fields.end()) throw std::runtime_error("record has no field " + name);
  return it->second;
}

std::vector<RspRecord> ReadRsp(const std::string& path) {
  std::istringstream in(Slurp(path));
  std::vector<RspRecord> records;
  std::string section;
  RspRecord current;
  auto flush = [&] {
    if (!current.fields.empty()) records.push_back(std::move(current));
    current = RspRecord{};
  };
  std::string line;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty()) {
      flush();
    } else if (t[0] == '#') {
      continue;
    } else if (t[0] == '[') {
      flush();
      section = Trim(std::string_view(t).substr(1, t.size() - 2));
    } else if (const auto eq = t.find('='); eq != std::string::npos) {
      current.section = section;
      current.fields[Trim(std::string_view(t).substr(0, eq))] =
          Trim(std::string_view(t).substr(eq + 1));
    }
  }
  flush();
  if (records.empty()) throw std::runtime_error("no records in " + path);
  return records;
}

std::vector<WycheproofCase> ReadWycheproof(const std::string& path) {
  std::istringstream in(Slurp(path));
  std::vector<WycheproofCase> cases;
  WycheproofCase current;
  std::string line;
  while (std::getline(in, line)) {
    // Lines of interest look like: "name" : value,   with value a number or a string.
    const auto open = line.find('"');
    const auto close = line.find('"', open + 1);
    const auto colon = line.find(':', close);
    if (open == std::string::npos || close == std::string::npos || colon == std::string::npos) {
      continue;
    }
    std::string value = Trim(std::string_view(line).substr(colon + 1));
    if (!value.empty() && value.back() == ',') value.pop_back();
    if (value.size() >= 2 && value.front() == '"') value = value.substr(1, value.size() - 2);
    const std::string name = line.substr(open + 1, close - open - 1);
    current[name] = value;
    if (name == "result") {  // the last field of every case
      cases.push_back(current);
      for (const char* field : {"tcId", "key", "iv", "msg", "ct", "tag", "result"}) {
        current.erase(field);
      }
    }
  }
  if (cases.empty()) throw std::runtime_error("no test cases in " + path);
  return cases;
}

}  // namespace velador::test

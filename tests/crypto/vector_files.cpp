#include "crypto/vector_files.h"

#include <cctype>
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

class JsonParser {
 public:
  explicit JsonParser(std::string text) : s(std::move(text)) {}

  Json Document() {
    Json v = Value();
    Skip();
    if (pos != s.size()) Fail("trailing data");
    return v;
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw std::runtime_error(std::string("JSON: ") + what + " at offset " + std::to_string(pos));
  }
  void Skip() {
    while (pos < s.size() && std::isspace(static_cast<unsigned char>(s[pos]))) ++pos;
  }
  bool Eat(char c) {
    Skip();
    if (pos < s.size() && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  void Expect(char c) {
    if (!Eat(c)) Fail("unexpected character");
  }
  std::string String() {
    Expect('"');
    std::string out;
    while (pos < s.size() && s[pos] != '"') {
      char c = s[pos++];
      if (c == '\\') {
        if (pos >= s.size()) Fail("bad escape");
        char e = s[pos++];
        // Escapes only occur in comments, which no test reads; keep them approximately.
        if (e == 'u') {
          pos += 4;
          out += '?';
        } else {
          out += e == 'n' ? '\n' : e == 't' ? '\t' : e;
        }
      } else {
        out += c;
      }
    }
    Expect('"');
    return out;
  }
  Json Value() {
    Skip();
    if (pos >= s.size()) Fail("unexpected end");
    Json v;
    const char c = s[pos];
    if (c == '{') {
      ++pos;
      v.kind = Json::Kind::Object;
      if (!Eat('}')) {
        do {
          Skip();
          std::string key = String();
          Expect(':');
          v.members.emplace_back(std::move(key), Value());
        } while (Eat(','));
        Expect('}');
      }
    } else if (c == '[') {
      ++pos;
      v.kind = Json::Kind::Array;
      if (!Eat(']')) {
        do v.items.push_back(Value());
        while (Eat(','));
        Expect(']');
      }
    } else if (c == '"') {
      v.kind = Json::Kind::String;
      v.text = String();
    } else if (s.compare(pos, 4, "true") == 0 || s.compare(pos, 5, "false") == 0) {
      v.kind = Json::Kind::Bool;
      v.boolean = s[pos] == 't';
      pos += v.boolean ? 4 : 5;
    } else if (s.compare(pos, 4, "null") == 0) {
      pos += 4;
    } else {
      std::size_t used = 0;
      v.kind = Json::Kind::Number;
      v.number = std::stod(s.substr(pos, 32), &used);
      pos += used;
    }
    return v;
  }

  std::string s;
  std::size_t pos = 0;
};

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

const Json& Json::operator[](std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return value;
  }
  throw std::runtime_error("JSON object has no member " + std::string(key));
}

Json ReadJson(const std::string& path) { return JsonParser(Slurp(path)).Document(); }

}  // namespace velador::test

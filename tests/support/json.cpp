#include "support/json.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace velador::testing {

namespace {

const JsonValue kNullValue;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<JsonValue> Document(std::string& error) {
    JsonValue value;
    if (Value(value)) {
      Blanks();
      if (at_ == text_.size()) return value;
      Fail("text after the document");
    }
    error = error_ + " at byte " + std::to_string(at_);
    return std::nullopt;
  }

 private:
  bool Fail(const char* what) {
    if (error_.empty()) error_ = what;
    return false;
  }

  void Blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }

  bool Take(char c) {
    Blanks();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }

  bool Word(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Fail("unknown word");
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& value) {
    Blanks();
    if (at_ >= text_.size()) return Fail("missing value");
    switch (text_[at_]) {
      case '{':
        return Object(value);
      case '[':
        return Array(value);
      case '"':
        value.kind = JsonValue::Kind::kString;
        return String(value.string);
      case 't':
        value.kind = JsonValue::Kind::kBool;
        value.boolean = true;
        return Word("true");
      case 'f':
        value.kind = JsonValue::Kind::kBool;
        return Word("false");
      case 'n':
        return Word("null");
      default:
        return Number(value);
    }
  }

  bool Number(JsonValue& value) {
    const std::size_t start = at_;
    if (at_ < text_.size() && text_[at_] == '-') ++at_;
    const std::size_t digits = at_;
    while (at_ < text_.size() &&
           std::string_view("0123456789.eE+-").find(text_[at_]) != std::string_view::npos) {
      ++at_;
    }
    if (at_ == digits) return Fail("no value");
    if (text_[digits] == '0' && at_ > digits + 1 && text_[digits + 1] != '.') {
      return Fail("leading zero");
    }
    const std::string number(text_.substr(start, at_ - start));
    char* end = nullptr;
    value.kind = JsonValue::Kind::kNumber;
    value.number = std::strtod(number.c_str(), &end);
    return *end == '\0' || Fail("bad number");
  }

  static bool ValidUtf8(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
      const auto lead = static_cast<unsigned char>(bytes[i]);
      std::size_t length = lead < 0x80             ? 1
                           : (lead & 0xE0) == 0xC0 ? 2
                           : (lead & 0xF0) == 0xE0 ? 3
                           : (lead & 0xF8) == 0xF0 ? 4
                                                   : 0;
      if (length == 0 || (length == 2 && lead < 0xC2) || i + length > bytes.size()) return false;
      for (std::size_t k = 1; k < length; ++k) {
        if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
      }
      i += length;
    }
    return true;
  }

  static void AppendUtf8(std::uint32_t code, std::string& out) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    const std::size_t start = at_;
    while (at_ < text_.size() && text_[at_] != '"') {
      const char c = text_[at_++];
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= text_.size()) return Fail("cut escape");
      const char e = text_[at_++];
      const std::string_view simple = "\"\\/bfnrt", meaning = "\"\\/\b\f\n\r\t";
      if (const std::size_t i = simple.find(e); i != std::string_view::npos) {
        out += meaning[i];
      } else if (e == 'u' && at_ + 4 <= text_.size()) {
        const std::string hex(text_.substr(at_, 4));
        char* end = nullptr;
        const auto code = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), &end, 16));
        if (*end != '\0') return Fail("bad \\u escape");
        AppendUtf8(code, out);
        at_ += 4;
      } else {
        return Fail("bad escape");
      }
    }
    if (at_ >= text_.size()) return Fail("unterminated string");
    if (!ValidUtf8(text_.substr(start, at_ - start))) return Fail("string not UTF-8");
    ++at_;
    return true;
  }

  bool Array(JsonValue& value) {
    ++at_;
    value.kind = JsonValue::Kind::kArray;
    if (Take(']')) return true;
    do {
      if (!Value(value.items.emplace_back())) return false;
    } while (Take(','));
    return Take(']') || Fail("expected ] or ,");
  }

  bool Object(JsonValue& value) {
    ++at_;
    value.kind = JsonValue::Kind::kObject;
    if (Take('}')) return true;
    do {
      Blanks();
      std::string key;
      if (at_ >= text_.size() || text_[at_] != '"' || !String(key)) return Fail("expected a key");
      if (value.members.count(key) != 0) return Fail("key given twice");
      if (!Take(':')) return Fail("expected :");
      if (!Value(value.members[key])) return false;
      value.keys.push_back(key);
    } while (Take(','));
    return Take('}') || Fail("expected } or ,");
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue& JsonValue::operator[](const std::string& key) const {
  const auto found = members.find(key);
  if (found != members.end()) return found->second;
  ADD_FAILURE() << "no member \"" << key << "\"";
  return kNullValue;
}

const JsonValue& JsonValue::operator[](std::size_t index) const {
  if (index < items.size()) return items[index];
  ADD_FAILURE() << "no item " << index;
  return kNullValue;
}

std::optional<JsonValue> ParseJson(std::string_view text, std::string& error) {
  return Parser(text).Document(error);
}

}  // namespace velador::testing

#include "symbolize/json_reader.h"

#include <cstdint>

namespace kx {
namespace {

constexpr int kMostDepth = 32;

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Document(JsonValue& value) { return Value(value, 0) && (Blanks(), at_ == text_.size()); }

 private:
  void Blanks() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
      ++at_;
    }
  }
  bool Take(char c) {
    Blanks();
    if (at_ >= text_.size() || text_[at_] != c) return false;
    ++at_;
    return true;
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return false;
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& value, int depth) {
    Blanks();
    if (depth > kMostDepth || at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '"') return value.kind = JsonValue::Kind::kString, String(value.text);
    if (c == '{') return Object(value, depth);
    if (c == '[') return Array(value, depth);
    const std::size_t start = at_;
    if (Literal("true") || Literal("false")) {
      value.kind = JsonValue::Kind::kBool;
    } else if (Literal("null")) {
      value.kind = JsonValue::Kind::kNull;
    } else {
      value.kind = JsonValue::Kind::kNumber;
      while (at_ < text_.size() &&
             std::string_view("+-0123456789.eE").find(text_[at_]) != std::string_view::npos)
        ++at_;
      if (at_ == start) return false;
    }
    value.text = std::string(text_.substr(start, at_ - start));
    return true;
  }

  bool Object(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kObject;
    ++at_;
    if (Take('}')) return true;
    do {
      std::string key;
      JsonValue member;
      Blanks();
      if (at_ >= text_.size() || text_[at_] != '"' || !String(key) || !Take(':') ||
          !Value(member, depth + 1)) {
        return false;
      }
      value.members.emplace_back(std::move(key), std::move(member));
    } while (Take(','));
    return Take('}');
  }

  bool Array(JsonValue& value, int depth) {
    value.kind = JsonValue::Kind::kArray;
    ++at_;
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      value.items.push_back(std::move(item));
    } while (Take(','));
    return Take(']');
  }

  static void AppendUtf8(std::string& out, std::uint32_t point) {
    if (point < 0x80) {
      out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (point >> 6)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (point >> 12)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (point >> 18)));
      out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
  }

  bool Hex4(std::uint32_t& unit) {
    if (text_.size() - at_ < 4) return false;
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[at_++];
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (digit < 0) return false;
      unit = unit * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
  }

  // At the opening quote; up to and past the closing one.
  bool String(std::string& out) {
    static constexpr std::string_view kEscapes = "\"\\/bfnrt", kMeanings = "\"\\/\b\f\n\r\t";
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (at_ >= text_.size()) return false;
      const char escape = text_[at_++];
      if (kEscapes.find(escape) != std::string_view::npos) {
        out.push_back(kMeanings[kEscapes.find(escape)]);
        continue;
      }
      std::uint32_t unit = 0;
      if (escape != 'u' || !Hex4(unit)) return false;
      if (unit >= 0xD800 && unit <= 0xDBFF && text_.substr(at_, 2) == "\\u") {
        const std::size_t back = at_;
        std::uint32_t low = 0;
        at_ += 2;
        if (Hex4(low) && low >= 0xDC00 && low <= 0xDFFF) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        } else {
          at_ = back;
        }
      }
      AppendUtf8(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit);
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

}  // namespace

const JsonValue* JsonValue::Member(std::string_view key) const {
  for (const auto& [name, value] : members) {
    if (name == key) return &value;
  }
  return nullptr;
}

std::optional<JsonValue> ReadJson(std::string_view text) {
  JsonValue value;
  if (!Reader(text).Document(value)) return std::nullopt;
  return value;
}

}  // namespace kx

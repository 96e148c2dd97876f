// Helpers the fuzz targets share: a failed property aborts (libFuzzer keeps the input), the fuzzer's bytes
// read as UTF-16 code units, and small readers that parse the program's JSON and XML text back.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../support/latin1_json.h"

namespace kx::fuzz {

using test::WidenLatin1;

// Not assert(): the fuzz build defines NDEBUG, and a property must hold there too.
#define KX_FUZZ_CHECK(condition)                                                            \
  do {                                                                                      \
    if (!(condition)) {                                                                     \
      std::fprintf(stderr, "%s:%d: property failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                         \
    }                                                                                       \
  } while (0)

inline std::string_view Bytes(const std::uint8_t* data, std::size_t size) {
  return std::string_view(reinterpret_cast<const char*>(data), size);
}

// Pairs of bytes as little-endian UTF-16 code units, the width wchar_t has on Windows; an odd last byte
// is dropped.
inline std::wstring Utf16Units(std::string_view bytes) {
  std::wstring units;
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                         (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  return units;
}

// A JSON value: strings (as UTF-16 units), objects with their members in order (a key may repeat), arrays,
// and numbers, true, false and null (their text as written).
struct JsonValue {
  enum class Kind { kString, kObject, kArray, kOther } kind = Kind::kString;
  std::wstring text;
  std::vector<std::pair<std::wstring, JsonValue>> members;
  std::vector<JsonValue> items;
};

// A strict reader of documents that must be plain ASCII JSON: nothing when the text is not one.
class JsonReader {
 public:
  static std::optional<JsonValue> Parse(std::string_view text) {
    JsonReader reader(text);
    JsonValue value;
    // Take("") takes the blanks only.
    const bool read = reader.Value(value, 0) && (reader.Take(""), reader.at_ == text.size());
    return read ? std::optional<JsonValue>(std::move(value)) : std::nullopt;
  }

 private:
  explicit JsonReader(std::string_view text) : text_(text) {}

  // Takes the next character when it is one of `any`.
  bool Skip(const char* any) {
    return at_ < text_.size() && text_[at_] != '\0' && std::strchr(any, text_[at_]) && (++at_, true);
  }
  // The same after any blanks.
  bool Take(const char* any) {
    while (Skip(" \t\n\r")) {
    }
    return Skip(any);
  }
  std::size_t Digits() {
    const std::size_t start = at_;
    while (Skip("0123456789")) {
    }
    return at_ - start;
  }

  bool Value(JsonValue& value, int depth) {
    if (depth > 16) return false;
    if (Take("\"")) return String(value.text);
    const bool object = Take("{");
    if (!object && !Take("[")) return Scalar(value);
    value.kind = object ? JsonValue::Kind::kObject : JsonValue::Kind::kArray;
    const char* close = object ? "}" : "]";
    if (Take(close)) return true;
    do {
      std::wstring key;
      JsonValue item;
      if ((object && !(Take("\"") && String(key) && Take(":"))) || !Value(item, depth + 1)) return false;
      if (object) {
        value.members.emplace_back(std::move(key), std::move(item));
      } else {
        value.items.push_back(std::move(item));
      }
    } while (Take(","));
    return Take(close);
  }

  bool Scalar(JsonValue& value) {
    value.kind = JsonValue::Kind::kOther;
    const std::size_t start = at_;
    for (const std::string_view word : {"true", "false", "null"}) {
      if (text_.substr(at_, word.size()) == word && (at_ += word.size())) break;
    }
    if (at_ == start) {
      Skip("-");
      if (Digits() == 0 || (Skip(".") && Digits() == 0)) return false;
      if (Skip("eE") && (Skip("+-"), Digits() == 0)) return false;
    }
    value.text.assign(text_.begin() + start, text_.begin() + at_);
    return true;
  }

  // After the opening quote, up to and past the closing one.
  bool String(std::wstring& out) {
    static constexpr std::string_view kEscapes = "\"\\/bfnrt", kMeanings = "\"\\/\b\f\n\r\t";
    while (at_ < text_.size()) {
      const auto c = static_cast<unsigned char>(text_[at_++]);
      if (c == '"') return true;
      if (c < 0x20 || c > 0x7E) return false;
      if (c != '\\') {
        out.push_back(static_cast<wchar_t>(c));
      } else if (at_ < text_.size() && kEscapes.find(text_[at_]) != std::string_view::npos) {
        out.push_back(static_cast<wchar_t>(kMeanings[kEscapes.find(text_[at_++])]));
      } else {
        const std::string hex(text_.substr(std::min(at_ + 1, text_.size()), 4));
        if (!Skip("u") || hex.size() < 4 || hex.find_first_not_of("0123456789abcdefABCDEF") != hex.npos) {
          return false;
        }
        out.push_back(static_cast<wchar_t>(std::stoul(hex, nullptr, 16)));
        at_ += 4;
      }
    }
    return false;
  }

  std::string_view text_;
  std::size_t at_ = 0;
};

// XML text with decimal character references ("&#60;") read back into code points; nothing when an "&" does
// not open a whole reference. The escapers write no other kind of reference.
template <typename Char>
std::optional<std::vector<std::uint32_t>> DecodeCharacterReferences(std::basic_string_view<Char> text) {
  std::vector<std::uint32_t> codes;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<std::uint32_t>(text[i]) & (sizeof(Char) == 1 ? 0xFFu : 0xFFFFFFFFu);
    if (c != '&') {
      codes.push_back(c);
      continue;
    }
    if (++i >= text.size() || text[i] != static_cast<Char>('#')) return std::nullopt;
    std::uint32_t code = 0;
    std::size_t digits = 0;
    for (++i; i < text.size() && text[i] >= static_cast<Char>('0') && text[i] <= static_cast<Char>('9');
         ++i) {
      if (++digits > 7) return std::nullopt;
      code = code * 10 + static_cast<std::uint32_t>(text[i] - static_cast<Char>('0'));
    }
    if (digits == 0 || i >= text.size() || text[i] != static_cast<Char>(';')) return std::nullopt;
    codes.push_back(code);
  }
  return codes;
}

}  // namespace kx::fuzz

// A small, strict reader of one JSON document, for the answers of the symbolizer's child process: strings
// (UTF-8, \u escapes decoded), numbers (as their text), objects, arrays, true, false and null. Nesting is
// bounded, so no answer can exhaust the stack.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

struct JsonValue {
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = Kind::kNull;
  std::string text;  // a string's value, a number's or a literal's text
  std::vector<JsonValue> items;
  std::vector<std::pair<std::string, JsonValue>> members;

  // The first member named `key`, or null.
  const JsonValue* Member(std::string_view key) const;
};

// Nothing when `text` is not exactly one JSON value (blanks around it allowed).
std::optional<JsonValue> ReadJson(std::string_view text);

}  // namespace kx

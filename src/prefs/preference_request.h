// The body of the preference exchange: a JSON array with one object per product build, each object written
// in exactly this spacing (the server's parser has always seen it so):
//
//   {"product": "<product>","version" : "<version>","build" : "<build>","preferences" : "<text>"}
//
// objects joined by "," without blanks, the whole enclosed in "[" and "]"; the empty text when no build
// qualifies. Every value is a JSON string with its special characters escaped and every character outside
// ASCII written as \u escapes (UTF-16 code units), so the body is ASCII and valid JSON whatever the code
// page. No object is ever cut short.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/json_text.h"
#include "prefs/pvb_key.h"

namespace kx {

struct PvbParts {
  std::string product;
  std::string version;
  std::string build;
};

// A pvb key split at ";": exactly three pieces, empty ones included ("a;;c"), or nothing ("a;b;" has two).
std::optional<PvbParts> SplitPvbKey(std::string_view pvbKey);

// The request body for the builds whose pvb key splits into three parts, in map order. The store's narrow
// texts are in the ANSI code page, which only the platform can widen.
std::string BuildPreferenceRequestBody(const PreferenceMap& preferences, TextWidener widen);

}  // namespace kx

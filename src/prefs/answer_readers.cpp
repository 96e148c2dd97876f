#include "prefs/answer_readers.h"

#include <utility>

#include "common/text_utils.h"
#include "common/wire_names.h"

namespace kx {
namespace {

constexpr std::string_view kUpdatedPreferences = wire::kUpdatedPreferencesHeader;

// Calls visit(line) for each line split at LF (a CR stays at the end of its line) until it returns true.
template <typename Visit>
void ForEachLineUntil(std::string_view text, Visit visit) {
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (visit(text.substr(0, end))) return;
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

std::string FieldOrEmpty(const PreferenceMap& object, const char* name) {
  const auto found = object.find(name);
  return found == object.end() ? std::string() : found->second;
}

}  // namespace

std::string ExtractHeaderValue(std::wstring_view answer, std::string_view key) {
  const std::string narrow = NarrowByTruncation(answer);
  std::string value = kNoHeaderValue;
  if (narrow.find(key) == std::string::npos) return value;
  ForEachLineUntil(narrow, [&](std::string_view line) {
    if (line.find(key) == std::string_view::npos) return false;
    const size_t colon = line.find(':');
    value = TrimText(colon == std::string_view::npos ? line : line.substr(colon + 1));
    return true;
  });
  return value;
}

void ReadUpdatedPreferences(std::wstring_view answer, PreferenceMap& preferences) {
  const std::string narrow = NarrowByTruncation(answer);
  if (narrow.find("preferences") == std::string::npos) return;
  ForEachLineUntil(narrow, [&](std::string_view line) {
    const size_t phrase = line.find(kUpdatedPreferences);
    if (phrase == std::string_view::npos) return false;
    const size_t rest = phrase + kUpdatedPreferences.size() + 1;
    ScanPreferenceObjects(rest < line.size() ? line.substr(rest) : std::string_view(), preferences);
    return true;
  });
}

void ScanPreferenceObjects(std::string_view text, PreferenceMap& preferences) {
  std::string pendingName;
  std::string buffer;
  PreferenceMap object;  // field name -> field value of the object being read
  bool inString = false;
  bool expectingName = true;

  for (const char c : text) {
    if (c == '}') {
      preferences[MakePvbKey(FieldOrEmpty(object, "product"), FieldOrEmpty(object, "version"),
                             FieldOrEmpty(object, "build"))] = FieldOrEmpty(object, "preferences");
      pendingName.clear();
      buffer.clear();
      object.clear();
    } else if (c == '"') {
      if (inString) {
        LowerAsciiInPlace(buffer);
        if (expectingName) {
          pendingName = std::move(buffer);
        } else {
          object[pendingName] = std::move(buffer);
          pendingName.clear();
        }
        buffer.clear();
        expectingName = !expectingName;
      }
      inString = !inString;
    } else if (inString) {
      buffer.push_back(c);
    }
  }
}

}  // namespace kx

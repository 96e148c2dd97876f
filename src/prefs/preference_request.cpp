#include "prefs/preference_request.h"

#include <vector>

#include "common/text_utils.h"

namespace kx {
namespace {

void AppendUnicodeEscape(std::string& out, unsigned int unit) {
  static const char kDigits[] = "0123456789abcdef";
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out.push_back(kDigits[(unit >> shift) & 0xF]);
}

std::string JsonValue(std::string_view narrow, TextWidener widen) {
  return EscapeJsonString(narrow.empty() ? std::wstring() : widen(narrow));
}

}  // namespace

std::optional<PvbParts> splitPvbKey(std::string_view pvbKey) {
  std::vector<std::string> pieces;
  splitText(pvbKey, ";", pieces);
  if (pieces.size() != 3) return std::nullopt;
  return PvbParts{pieces[0], pieces[1], pieces[2]};
}

std::string EscapeJsonString(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (const wchar_t c : text) {
    const auto unit = static_cast<unsigned int>(c);
    switch (unit) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (unit < 0x20 || unit > 0x7E) {
          AppendUnicodeEscape(out, unit);
        } else {
          out.push_back(static_cast<char>(unit));
        }
    }
  }
  return out;
}

std::string buildPreferenceRequestBody(const PreferenceMap& preferences, TextWidener widen) {
  std::string body;
  for (const auto& [pvbKey, text] : preferences) {
    const std::optional<PvbParts> parts = splitPvbKey(pvbKey);
    if (!parts) continue;
    body += body.empty() ? "[" : ",";
    body += "{\"product\": \"" + JsonValue(parts->product, widen) + "\",\"version\" : \"" +
            JsonValue(parts->version, widen) + "\",\"build\" : \"" + JsonValue(parts->build, widen) +
            "\",\"preferences\" : \"" + JsonValue(text, widen) + "\"}";
  }
  if (!body.empty()) body += "]";
  return body;
}

}  // namespace kx

#include "prefs/preference_request.h"

#include <vector>

#include "common/text_utils.h"

namespace kx {

std::optional<PvbParts> SplitPvbKey(std::string_view pvbKey) {
  std::vector<std::string> pieces;
  SplitText(pvbKey, ";", pieces);
  if (pieces.size() != 3) return std::nullopt;
  return PvbParts{pieces[0], pieces[1], pieces[2]};
}

std::string BuildPreferenceRequestBody(const PreferenceMap& preferences, TextWidener widen) {
  std::string body;
  for (const auto& [pvbKey, text] : preferences) {
    const std::optional<PvbParts> parts = SplitPvbKey(pvbKey);
    if (!parts) continue;
    body += body.empty() ? "[" : ",";
    body += "{\"product\": \"" + EscapeNarrowJsonString(parts->product, widen) +
            "\",\"version\" : \"" + EscapeNarrowJsonString(parts->version, widen) +
            "\",\"build\" : \"" + EscapeNarrowJsonString(parts->build, widen) +
            "\",\"preferences\" : \"" + EscapeNarrowJsonString(text, widen) + "\"}";
  }
  if (!body.empty()) body += "]";
  return body;
}

}  // namespace kx

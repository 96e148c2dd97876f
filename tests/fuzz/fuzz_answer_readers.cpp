// The servers' answer headers: ExtractHeaderValue and ReadUpdatedPreferences over any answer; the
// preferences read then go back out in the request body, which must be JSON that gives them back.
#include "fuzz_support.h"
#include "prefs/answer_readers.h"
#include "prefs/preference_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The first line is the key asked for; the rest is the answer, as UTF-16 units.
  const std::string_view bytes = kx::fuzz::Bytes(data, size);
  const std::size_t end = bytes.find('\n');
  if (end == std::string_view::npos) return 0;
  const std::string_view key = bytes.substr(0, end);
  const std::wstring answer = kx::fuzz::Utf16Units(bytes.substr(end + 1));

  const std::string value = kx::ExtractHeaderValue(answer, key);
  KX_FUZZ_CHECK(value.find('\n') == std::string::npos);

  kx::PreferenceMap preferences;
  kx::ReadUpdatedPreferences(answer, preferences);
  const std::string body = kx::BuildPreferenceRequestBody(preferences, &kx::fuzz::WidenLatin1);
  if (body.empty()) return 0;
  const std::optional<kx::fuzz::JsonValue> read = kx::fuzz::JsonReader::Parse(body);
  KX_FUZZ_CHECK(read && read->kind == kx::fuzz::JsonValue::Kind::kArray);
  auto item = read->items.begin();
  for (const auto& [pvbKey, text] : preferences) {
    const std::optional<kx::PvbParts> parts = kx::SplitPvbKey(pvbKey);
    if (!parts) continue;
    KX_FUZZ_CHECK(item != read->items.end() && item->members.size() == 4);
    const std::string expected[] = {parts->product, parts->version, parts->build, text};
    for (std::size_t i = 0; i < 4; ++i) {
      KX_FUZZ_CHECK(item->members[i].second.text == kx::fuzz::WidenLatin1(expected[i]));
    }
    ++item;
  }
  KX_FUZZ_CHECK(item == read->items.end());
  return 0;
}

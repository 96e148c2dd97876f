#include "prefs/preference_request.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/latin1_json.h"

namespace kx {
namespace {

TEST(PreferenceRequestTest, OnlyKeysOfExactlyThreePartsSplit) {
  const std::pair<const char*, bool> cases[] = {
      {"appx;1.0;77", true}, {"appx;;77", true}, {";1.0;77", true},        {"appx;1.0;", false},
      {"appx;1.0", false},   {"a;b;c;d", false}, {"no separators", false}, {"", false},
  };
  for (const auto& [key, splits] : cases) {
    SCOPED_TRACE(key);
    EXPECT_EQ(splits, splitPvbKey(key).has_value());
  }
  const std::optional<PvbParts> parts = splitPvbKey("appx;;77");
  ASSERT_TRUE(parts);
  EXPECT_EQ("appx", parts->product);
  EXPECT_EQ("", parts->version);
  EXPECT_EQ("77", parts->build);
}

TEST(PreferenceRequestTest, TheBodyKeepsItsSpacingAndListsQualifyingBuildsInOrder) {
  EXPECT_EQ("", buildPreferenceRequestBody({}, &test::WidenLatin1));
  EXPECT_EQ("", buildPreferenceRequestBody({{"appx;1.0", "1"}, {"x", "2"}}, &test::WidenLatin1));
  EXPECT_EQ(
      "[{\"product\": \"appx\",\"version\" : \"1.0\",\"build\" : \"77\",\"preferences\" : \"0_1_100\"}]",
      buildPreferenceRequestBody({{"appx;1.0;77", "0_1_100"}, {"bad;key", "1"}}, &test::WidenLatin1));
  EXPECT_EQ(
      "[{\"product\": \"a\",\"version\" : \"1\",\"build\" : \"2\",\"preferences\" : \"1\"},"
      "{\"product\": \"b\",\"version\" : \"\",\"build\" : \"3\",\"preferences\" : \"\"}]",
      buildPreferenceRequestBody({{"b;;3", ""}, {"a;1;2", "1"}}, &test::WidenLatin1));
  // Every part of the key is escaped, not only the preference text.
  EXPECT_EQ(
      "[{\"product\": \"q\\\"}\",\"version\" : \"1\\\\\",\"build\" : \"\\u00e9\",\"preferences\" : "
      "\"\\u0001\"}]",
      buildPreferenceRequestBody({{"q\"};1\\;\xe9", "\x01"}}, &test::WidenLatin1));
}

TEST(PreferenceRequestTest, ValuesAreEscapedIntoAsciiJsonStrings) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"0_1_100", "0_1_100"},
      {L"say \"hi\"\\", "say \\\"hi\\\"\\\\"},
      {L"\b\f\n\r\t", "\\b\\f\\n\\r\\t"},
      {std::wstring(L"\x01\x1f\x7f", 3), "\\u0001\\u001f\\u007f"},
      {std::wstring(1, L'\0'), "\\u0000"},
      // A character beyond the first plane is a surrogate pair: two escapes.
      {L"caf\xe9 \x20ac \xd83d\xde00", "caf\\u00e9 \\u20ac \\ud83d\\ude00"},
  };
  for (const auto& [text, escaped] : cases) {
    SCOPED_TRACE(escaped);
    EXPECT_EQ(escaped, EscapeJsonString(text));
  }
}

}  // namespace
}  // namespace kx

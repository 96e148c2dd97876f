#include "prefs/preference_request.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/latin1_json.h"

namespace kx {
namespace {

TEST(PreferenceRequestTest, OnlyKeysOfExactlyThreePartsSplit) {
  const std::pair<const char*, bool> cases[] = {
      {"appx;1.0;77", true}, {";1.0;77", true},  {"appx;1.0;", false},
      {"appx;1.0", false},   {"a;b;c;d", false}, {"", false},
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
  EXPECT_EQ("", buildPreferenceRequestBody({{"appx;1.0", "1"}, {"x", "2"}}, &test::WidenLatin1));
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

}  // namespace
}  // namespace kx

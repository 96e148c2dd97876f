#include "prefs/answer_readers.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace kx {
namespace {

// One JSON object of string fields, as the preferences server writes them.
std::string Object(const std::string& product, const std::string& version, const std::string& build,
                   const std::string& preferences) {
  return "{\"product\": \"" + product + "\", \"version\": \"" + version + "\", \"build\": \"" + build +
         "\", \"preferences\": \"" + preferences + "\"}";
}

PreferenceMap Scan(const std::string& text) {
  PreferenceMap preferences;
  scanPreferenceObjects(text, preferences);
  return preferences;
}

TEST(AnswerReadersTest, HeaderValueIsTheFirstMatchingLineAfterItsFirstColon) {
  const std::wstring answer =
      L"HTTP/1.1 200 OK\r\n"
      L"X-Solution_url-Origin: cache\r\n"
      L"Solution_url: https://help.example.com:8443/a?b=c \r\n"
      L"Attach_Dump:\r\n"
      L"Odd-Line without colon Marker\r\n"
      L"Solution_url: https://second.example.com\r\n"
      L"\r\n";
  const std::pair<const char*, std::string> cases[] = {
      // Matching is by substring: the key inside a longer header name is found first.
      {"Solution_url", "cache"}, {"Solution_url:", "https://help.example.com:8443/a?b=c"},
      {"Attach_Dump", ""},       {"Marker", "Odd-Line without colon Marker"},
      {"attach_dump", "-1"},  // case-sensitive
      {"Missing", "-1"},
  };
  for (const auto& [key, value] : cases) {
    SCOPED_TRACE(key);
    EXPECT_EQ(value, extractHeaderValue(answer, key));
  }
  // The colon may come before the key; a line without CR LF at the end of the block still counts.
  EXPECT_EQ("x Attach_Dump y", extractHeaderValue(L"a\r\nPrefix: x Attach_Dump y", "Attach_Dump"));
  // Only the low byte of each character arrives.
  EXPECT_EQ("\xE9t\xE9", extractHeaderValue(L"Attach_Dump: \u00E9t\u01E9\r\n", "Attach_Dump"));
}

// Only the first such line counts; it is merged into the map, and an answer without it changes nothing.
TEST(AnswerReadersTest, UpdatedPreferencesNeedsThePhraseAndTheLowerCaseWord) {
  const PreferenceMap stored{{"appx;1.0;77", "0_1_100"}, {"kept;1;2", "1_0_0"}};
  const std::tuple<const char*, std::string, PreferenceMap> cases[] = {
      {"merged",
       "HTTP/1.1 200 OK\r\nUpdated Preferences: [" + Object("AppX", "1.0", "77", "2_1_100") + ", " +
           Object("New", "2", "3", "1_X") + "]\r\nUpdated Preferences: [" + Object("late", "", "", "9") +
           "]\r\n",
       {{"appx;1.0;77", "2_1_100"}, {"kept;1;2", "1_0_0"}, {"new;2;3", "1_x"}}},
      {"no phrase", "Preferences: x\r\nsome preferences\r\n", stored},
      // Capitalised field names leave no lower-case "preferences" anywhere: the answer is ignored.
      {"only capitals", "Updated Preferences: [{\"PRODUCT\": \"a\", \"PREFERENCES\": \"1\"}]\r\n", stored},
      {"any character is skipped",
       "Updated Preferences=" + Object("a", "b", "c", "1") + "\r\n",
       {{"appx;1.0;77", "0_1_100"}, {"kept;1;2", "1_0_0"}, {"a;b;c", "1"}}},
  };
  for (const auto& [name, answer, expected] : cases) {
    SCOPED_TRACE(name);
    PreferenceMap preferences = stored;
    readUpdatedPreferences(std::wstring(answer.begin(), answer.end()), preferences);
    EXPECT_EQ(expected, preferences);
  }
}

TEST(AnswerReadersTest, ScannerHandlesOddObjectsAsDocumented) {
  const std::tuple<const char*, std::string, PreferenceMap> cases[] = {
      {"field order does not matter, missing fields are empty",
       "{\"preferences\":\"p\",\"version\":\"v\",\"product\":\"x\"} {\"product\": \"p\"}",
       {{"x;v;", "p"}, {"p;;", ""}}},
      // Only strings count, so "flag" is the value of "n" and "version" the value of "x".
      {"non-string values shift the pairing",
       "{\"n\": 12, \"flag\": true, \"product\": \"a\", \"x\": null, \"version\": \"b\", \"build\": \"c\"}",
       {{"a;;", ""}}},
      {"object without closing brace", Object("a", "b", "c", "1") + "{\"product\": \"z\"", {{"a;b;c", "1"}}},
      {"later object replaces", Object("a", "b", "c", "1") + Object("A", "B", "C", "2"), {{"a;b;c", "2"}}},
  };
  for (const auto& [name, text, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(expected, Scan(text));
  }
}

}  // namespace
}  // namespace kx

// The pure rules of prefs: the configuration file's lines, the server answers' readers, the preference
// request's body, the product key and the installation GUID's form.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>

#include "prefs/answer_readers.h"
#include "prefs/client_config.h"
#include "prefs/installation_guid.h"
#include "prefs/preference_request.h"
#include "prefs/pvb_key.h"
#include "support/latin1_json.h"

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

// That every stored pair is trimmed, lower-case and within the line limit, and that reading in pieces (as
// from a file) gives the same configuration, is the fuzz target's check; these rows are the values kept. A
// byte-order mark is the file test's.
TEST(ClientConfigTest, EachKindOfLineStoresWhatItShould) {
  const std::string key(1019, 'k');
  const std::tuple<const char*, std::string, ClientConfig> cases[] = {
      {"blanks around, key case dropped, value case kept, CRs are blanks",
       " \tKXCN-URL = https://Host.Example\t\r\r\n",
       {{"kxcn-url", "https://Host.Example"}}},
      {"runs of separators, also at both ends", "==a==b==", {{"a", "b"}}},
      {"pairs continue; an odd last key is dropped", "a=b=c=d=e", {{"a", "b"}, {"c", "d"}}},
      {"blank value ends the line", "a=  =b=c", {}},
      {"later duplicate wins", "KXCN-PORT=1\nkxcn-port=2\nother=x", {{"kxcn-port", "2"}, {"other", "x"}}},
      {"zero byte ends the line", std::string("a=b\0c=d\ne=f", 11), {{"a", "b"}, {"e", "f"}}},
      {"value cut after byte 1023", key + "=abcdef\nnext=1", {{key, "abc"}, {"next", "1"}}},
      {"separator beyond the limit", key + "abcd=x\nnext=1", {{"next", "1"}}},
  };
  for (const auto& [name, text, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(expected, ParseClientConfig(text));
  }
}

TEST(ClientConfigTest, PortIsReadLikeAtoiAndOnlyInRange) {
  // How the number is read is ReadLeadingInteger's table; out of range is not wrapped into a port.
  for (const auto& [value, expected] :
       {std::pair<const char*, std::uint16_t>{"65535", 65535}, {"65536", 0}, {"-1", 0}}) {
    EXPECT_EQ(expected,
              ConfiguredPort(ClientConfig{{kSolutionServerPortKey, value}}, kSolutionServerPortKey));
  }
  EXPECT_EQ(443, ConfiguredPort(ClientConfig{{kSolutionServerPortKey, "1"}}, kPreferencesServerPortKey));
}

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

// The body's spacing and order, as the server reads them, are the preference sync end-to-end test's.
TEST(PreferenceRequestTest, TheBodyListsOnlyQualifyingBuildsEveryPartEscaped) {
  EXPECT_EQ("", buildPreferenceRequestBody({{"appx;1.0", "1"}, {"x", "2"}}, &test::WidenLatin1));
  // Every part of the key is escaped, not only the preference text.
  EXPECT_EQ(
      "[{\"product\": \"q\\\"}\",\"version\" : \"1\\\\\",\"build\" : \"\\u00e9\",\"preferences\" : "
      "\"\\u0001\"}]",
      buildPreferenceRequestBody({{"q\"};1\\;\xe9", "\x01"}}, &test::WidenLatin1));
}

TEST(PreferenceTextTest, PvbKeyJoinsWithSemicolonsAndLowersAsciiOnly) {
  EXPECT_EQ("appx;1.0;77", MakePvbKey("AppX", "1.0", "77"));
  EXPECT_EQ("a;b;c;\xC9;", MakePvbKey("A;B", "C", "\xC9;"));
  // Lower-casing stops at the first zero byte.
  EXPECT_EQ(std::string("a\0B;C;D", 7), MakePvbKey(std::string("A\0B", 3), "C", "D"));
}

TEST(PreferenceTextTest, OnlyThe8_4_4_4_12HexLayoutIsWellFormed) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506ff", true},
      {L"0A1B2C3D-00E5-F00F-AB01-0203040506FF", true},
      {L"{0a1b2c3d-00e5-f00f-ab01-0203040506ff}", false},
      {L"0a1b2c3d00e5-f00f-ab01-0203040506ff", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506f", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506fff", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506fg", false},
      {L"0a1b2c3d-00e5-f00f-ab0--0203040506ff", false},
      {L"0a1b2c3d-00e5-f00f-ab01-0203040506f\uFF10", false},
      {L"", false},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(testing::PrintToString(text));
    EXPECT_EQ(expected, isWellFormedGuid(text));
  }
}

}  // namespace
}  // namespace kx

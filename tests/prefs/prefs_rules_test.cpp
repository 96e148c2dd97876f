// The pure rules of prefs: the preferences server's answer, the preference request's body and the
// configured port. How the configuration file's lines and any answer are read is the fuzz targets' check;
// the file as the platform hands it over and a damaged installation GUID are the store tests'.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "prefs/answer_readers.h"
#include "prefs/client_config.h"
#include "prefs/preference_request.h"
#include "support/latin1_json.h"

namespace kx {
namespace {

// One JSON object of string fields, as the preferences server writes them.
std::string Object(const std::string& product, const std::string& version, const std::string& build,
                   const std::string& preferences) {
  return "{\"product\": \"" + product + "\", \"version\": \"" + version + "\", \"build\": \"" + build +
         "\", \"preferences\": \"" + preferences + "\"}";
}

// Only the first such line counts, merged into what is stored, its keys and values lower case.
TEST(AnswerReadersTest, TheFirstUpdatedPreferencesLineIsMergedIntoTheStore) {
  PreferenceMap preferences{{"appx;1.0;77", "0_1_100"}, {"kept;1;2", "1_0_0"}};
  const std::string answer = "HTTP/1.1 200 OK\r\nUpdated Preferences: [" +
                             Object("AppX", "1.0", "77", "2_1_100") + ", " + Object("New", "2", "3", "1_X") +
                             "]\r\nUpdated Preferences: [" + Object("late", "", "", "9") + "]\r\n";
  ReadUpdatedPreferences(std::wstring(answer.begin(), answer.end()), preferences);
  EXPECT_EQ((PreferenceMap{{"appx;1.0;77", "2_1_100"}, {"kept;1;2", "1_0_0"}, {"new;2;3", "1_x"}}),
            preferences);
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

// The body's spacing and order, as the server reads them, are the preference sync end-to-end test's.
TEST(PreferenceRequestTest, TheBodyListsOnlyBuildsOfThreePartsEveryPartEscaped) {
  EXPECT_EQ("", BuildPreferenceRequestBody({{"appx;1.0", "1"}, {"appx;1.0;", "1"}, {"a;b;c;d", "1"}},
                                           &test::WidenLatin1));
  // Every part of the key is escaped, not only the preference text.
  EXPECT_EQ(
      "[{\"product\": \"q\\\"}\",\"version\" : \"1\\\\\",\"build\" : \"\\u00e9\",\"preferences\" : "
      "\"\\u0001\"}]",
      BuildPreferenceRequestBody({{"q\"};1\\;\xe9", "\x01"}}, &test::WidenLatin1));
}

}  // namespace
}  // namespace kx

// The request body read back by a real JSON parser (Python's), for values that would break a body built
// without escaping. Runs in the host build, where Python is at hand.
#include "prefs/preference_request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/latin1_json.h"

namespace kx {
namespace {

// Latin-1 text as UTF-8, which the parser's output is compared in.
std::string Utf8OfLatin1(const std::string& text) {
  std::string utf8;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      utf8.push_back(c);
    } else {
      utf8.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      utf8.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return utf8;
}

// Each object's four fields in order, every field ended by a 0x1F byte, as Python's json module read them.
std::string ParsedByPython(const std::string& body) {
  return test::RunPythonOn(body,
                           "import json,sys\n"
                           "data = json.load(open(sys.argv[1], encoding=\"ascii\"))\n"
                           "out = b\"\".join((o[k] + \"\\x1f\").encode(\"utf-8\") for o in data\n"
                           "                 for k in (\"product\", \"version\", \"build\", \"preferences\"))\n"
                           "open(sys.argv[2], \"wb\").write(out)");
}

TEST(PreferenceRequestJsonTest, HostileValuesComeBackExactlyFromAJsonParser) {
  const PreferenceMap preferences = {
      {"quote\";1.0;77", "1_\"}],\"x\":\"y"},
      {"back\\slash;1;2", "1_\\"},
      {std::string("ctl\x01\x1f;1;2"), std::string("\x7f\t\r\n\b", 5)},
      {"caf\xe9;1;2", std::string(2000, 'p')},
  };
  const std::string body = buildPreferenceRequestBody(preferences, &test::WidenLatin1);
  std::string expected;
  for (const auto& [key, text] : preferences) {
    const std::optional<PvbParts> parts = splitPvbKey(key);
    ASSERT_TRUE(parts) << key;
    for (const std::string* field : {&parts->product, &parts->version, &parts->build, &text}) {
      expected += Utf8OfLatin1(*field) + '\x1f';
    }
  }
  EXPECT_EQ(expected, ParsedByPython(body)) << body;
}

}  // namespace
}  // namespace kx

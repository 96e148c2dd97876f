#include "prefs/client_config.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace kx {
namespace {

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

}  // namespace
}  // namespace kx

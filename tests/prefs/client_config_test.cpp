#include "prefs/client_config.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <tuple>

namespace kx {
namespace {

TEST(ClientConfigTest, EachKindOfLineStoresWhatItShould) {
  const std::tuple<const char*, std::string, ClientConfig> cases[] = {
      {"blanks and tabs around key and value", " \tkxkxs-port = 443\t", {{"kxkxs-port", "443"}}},
      {"key case is dropped, value case kept",
       "KXCN-URL=https://Host.Example",
       {{"kxcn-url", "https://Host.Example"}}},
      {"runs of separators, also at both ends", "==a==b==", {{"a", "b"}}},
      {"value holding separators: pairs continue", "a=b=c=d", {{"a", "b"}, {"c", "d"}}},
      {"odd token count drops the last key", "a=b=c", {{"a", "b"}}},
      {"key alone", "kxkxs-port", {}},
      {"blank value ends the line", "a=  =b=c", {}},
      {"empty and blank lines", "\n \t \n", {}},
      // The mark's bytes are not white space: the first key is not recognised, later lines are.
      {"byte-order mark",
       "\xEF\xBB\xBFkxcn-port=1\nkxkxs-port=2\n",
       {{"\xEF\xBB\xBFkxcn-port", "1"}, {"kxkxs-port", "2"}}},
      {"later duplicate wins", "KXCN-PORT=1\nkxcn-port=2\nother=x", {{"kxcn-port", "2"}, {"other", "x"}}},
      {"trailing carriage returns are white space", "a=b\r\r\n", {{"a", "b"}}},
      {"zero byte ends the line", std::string("a=b\0c=d\ne=f", 11), {{"a", "b"}, {"e", "f"}}},
      {"no line feed at the end", "a=b", {{"a", "b"}}},
  };
  for (const auto& [name, text, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(expected, ParseClientConfig(text));
  }
}

TEST(ClientConfigTest, OnlyTheFirst1023BytesOfALineCount) {
  const std::string key(1019, 'k');
  const std::tuple<const char*, std::string, ClientConfig> cases[] = {
      {"value ends at byte 1023", key + "=abc\nnext=1", {{key, "abc"}, {"next", "1"}}},
      {"value cut after byte 1023", key + "=abcdef\nnext=1", {{key, "abc"}, {"next", "1"}}},
      {"separator beyond the limit", key + "abcd=x\nnext=1", {{"next", "1"}}},
      {"long line, then a line", std::string(5000, 'z') + "=1\na=b", {{"a", "b"}}},
  };
  for (const auto& [name, text, expected] : cases) {
    SCOPED_TRACE(name);
    EXPECT_EQ(expected, ParseClientConfig(text));
  }
  // That reading in pieces, as from a file, gives the same configuration is the fuzz target's check.
}

TEST(ClientConfigTest, PortIsReadLikeAtoiAndOnlyInRange) {
  // How the number is read is ReadLeadingInteger's table; out of range is not wrapped into a port.
  for (const auto& [value, expected] :
       {std::pair<const char*, std::uint16_t>{"65535", 65535}, {"65536", 0}, {"-1", 0}}) {
    EXPECT_EQ(expected,
              ConfiguredPort(ClientConfig{{kSolutionServerPortKey, value}}, kSolutionServerPortKey));
  }
  EXPECT_EQ(443, ConfiguredPort(ClientConfig{}, kPreferencesServerPortKey));
  EXPECT_EQ(443, ConfiguredPort(ClientConfig{{kPreferencesServerPortKey, ""}}, kPreferencesServerPortKey));
  EXPECT_EQ(443, ConfiguredPort(ClientConfig{{kSolutionServerPortKey, "1"}}, kPreferencesServerPortKey));
}

}  // namespace
}  // namespace kx

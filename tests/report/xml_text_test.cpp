#include "report/xml_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace kx {
namespace {

TEST(XmlTextTest, AttributeAndElementTextEscaping) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"C:\\p\\it's", "C:\\p\\it's", "C:\\p\\it's"},  // paths stay readable
      {"a&b<c>d\"e", "a&#38;b&#60;c&#62;d&#34;e", "a&#38;b&#60;c&#62;d&#34;e"},
      {"&#38;</x>", "&#38;#38;&#60;/x&#62;", "&#38;#38;&#60;/x&#62;"},
      {"t\tl\nc\r\n", "t&#9;l&#10;c&#13;&#10;", "t\tl\nc&#13;\n"},
      {std::string("\x01\x1F\x7F\xC9\0z", 6), "??\x7F\xC9?z", "??\x7F\xC9?z"},
  };
  for (const auto& [in, attribute, elementText] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(attribute, EscapeXmlAttribute(in));
    EXPECT_EQ(elementText, EscapeXmlElementText(in));
  }
  EXPECT_EQ(L"\u00E9&#60;?\uFFFD??", EscapeXmlAttribute(std::wstring(L"\u00E9<\x02\uFFFD\uFFFE\uFFFF")));
}

// The application's texts: references for markup and UTF-8 characters, %XX for what XML cannot carry.
TEST(XmlTextTest, ReversibleForm) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"a&<>\"%41", "a&#38;&#60;&#62;&#34;%2541", "a&#38;&#60;&#62;&#34;%2541"},
      {std::string("\0\x01\t\n\r\x7F", 6), "%00%01&#9;&#10;&#13;\x7F", "%00%01\t\n&#13;\x7F"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf&#233; &#128512;", "caf&#233; &#128512;"},
      // Not UTF-8 (a lone byte, a cut sequence, an overlong form, a surrogate) and U+FFFF: byte by byte.
      {"\xE9 \xC3 \xC0\x80 \xED\xA0\x80 \xEF\xBF\xBF", "%E9 %C3 %C0%80 %ED%A0%80 %EF%BF%BF",
       "%E9 %C3 %C0%80 %ED%A0%80 %EF%BF%BF"},
  };
  for (const auto& [in, attribute, elementText] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(attribute, EscapeReversible(in, true));
    EXPECT_EQ(elementText, EscapeReversible(in, false));
  }
}

// That every escaped text reads back as its input and holds no markup, that a cut never splits a reference
// or a surrogate pair, and that the ASCII document keeps every code point, the fuzz target checks on any
// text; the table above pins the choices a reader sees.

}  // namespace
}  // namespace kx

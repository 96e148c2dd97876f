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

// That every escaped text reads back as its input and holds no markup, that a cut never splits a reference
// or a surrogate pair, and that the ASCII document keeps every code point, the fuzz target checks on any
// text; the table above pins the choices a reader sees.

}  // namespace
}  // namespace kx

#include "report/xml_text.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

TEST(XmlTextTest, AttributeAndElementTextEscaping) {
  struct Case {
    std::string in, attribute, elementText;
  };
  const Case cases[] = {
      {"", "", ""},
      {"plain C:\\path\\it's", "plain C:\\path\\it's", "plain C:\\path\\it's"},
      {"a&b<c>d\"e", "a&#38;b&#60;c&#62;d&#34;e", "a&#38;b&#60;c&#62;d&#34;e"},
      {"&#38;", "&#38;#38;", "&#38;#38;"},
      {"</crashreport>", "&#60;/crashreport&#62;", "&#60;/crashreport&#62;"},
      {"t\tl\nc\r\n", "t&#9;l&#10;c&#13;&#10;", "t\tl\nc&#13;\n"},
      {std::string("\x01\x1F\x7F\xC9\0z", 6), "??\x7F\xC9?z", "??\x7F\xC9?z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(c.attribute, EscapeXmlAttribute(c.in));
    EXPECT_EQ(c.elementText, EscapeXmlElementText(c.in));
  }
  EXPECT_EQ(L"\u00E9&#60;?\uFFFD??", EscapeXmlAttribute(std::wstring(L"\u00E9<\x02\uFFFD\uFFFE\uFFFF")));
  EXPECT_EQ(L"a\nb&#13;", EscapeXmlElementText(std::wstring(L"a\nb\r")));

  std::string line = "<x";
  AppendXmlAttribute(line, "name", "v\"1");
  EXPECT_EQ("<x name=\"v&#34;1\"", line);
}

TEST(XmlTextTest, GpuValueEscapingAlsoCoversApostropheAndBackslash) {
  std::wstring text = L"PCI\\VEN_10DE&DEV_1C82 'x' <y> \"z\"";
  EscapeXmlText(text);
  EXPECT_EQ(L"PCI&#92;VEN_10DE&#38;DEV_1C82 &#39;x&#39; &#60;y&#62; &#34;z&#34;", text);

  std::wstring reference = L"&#60;";
  EscapeXmlText(reference);
  EXPECT_EQ(L"&#38;#60;", reference);

  std::wstring empty;
  EscapeXmlText(empty);
  EXPECT_EQ(L"", empty);
}

TEST(XmlTextTest, CutNeverSplitsAReferenceOrASurrogatePair) {
  struct Case {
    std::wstring in;
    std::size_t limit;
    std::wstring out;
  };
  const Case cases[] = {
      {L"abcdef", 10, L"abcdef"},
      {L"abcdef", 3, L"abc"},
      {L"ab&#38;cd", 7, L"ab&#38;"},  // the reference ends right at the cut
      {L"ab&#38;cd", 6, L"ab"},       // "&#38" would remain
      {L"ab&#38;cd", 3, L"ab"},       // a lone "&" would remain
      {L"&#38;&#60;", 9, L"&#38;"},
      {L"ab;&cd", 5, L"ab;"},
      {L"ab\xD83D\xDE00z", 3, L"ab"},  // U+1F600 as a pair
      {L"ab\xD83D\xDE00z", 4, L"ab\xD83D\xDE00"},
      {L"abc", 0, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "limit " << c.limit);
    std::wstring text = c.in;
    CutEscapedText(text, c.limit);
    EXPECT_EQ(c.out, text);
  }
}

}  // namespace
}  // namespace kx

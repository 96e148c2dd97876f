#include "report/xml_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

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

TEST(XmlTextTest, GpuValueEscapingAlsoCoversApostropheAndBackslash) {
  std::wstring text = L"PCI\\VEN&DEV 'x' <y> \"z\" &#60;";
  EscapeXmlText(text);
  EXPECT_EQ(L"PCI&#92;VEN&#38;DEV &#39;x&#39; &#60;y&#62; &#34;z&#34; &#38;#60;", text);
}

TEST(XmlTextTest, CutNeverSplitsAReferenceOrASurrogatePair) {
  const std::tuple<std::wstring, std::size_t, std::wstring> cases[] = {
      {L"abcdef", 10, L"abcdef"},
      {L"ab&#38;cd", 7, L"ab&#38;"},  // the reference ends right at the cut
      {L"ab&#38;cd", 6, L"ab"},
      {L"ab;&cd", 5, L"ab;"},
      {L"ab\xD83D\xDE00z", 3, L"ab"},  // U+1F600 as a surrogate pair
      {L"abc", 0, L""},
  };
  for (const auto& [in, limit, out] : cases) {
    SCOPED_TRACE(testing::Message() << "limit " << limit);
    std::wstring text = in;
    CutEscapedText(text, limit);
    EXPECT_EQ(out, text);
  }
}

TEST(XmlTextTest, FinishedDocumentIsAsciiWithReferencesForEveryOtherCharacter) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"<time name=\"Mitteleurop\u00E4ische Zeit\"/>\n", "<time name=\"Mitteleurop&#228;ische Zeit\"/>\n"},
      {L"\u20AC\u4E2D", "&#8364;&#20013;"},
      {std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}, "&#128512;"},
      {std::wstring{L'a', wchar_t(0xD83D), L'b'}, "a?b"},
      {std::wstring{wchar_t(0xFFFE), wchar_t(0x85)}, "?&#133;"},
      {L"plain &#38; stays\r\n", "plain &#38; stays\r\n"},
  };
  for (const auto& [document, ascii] : cases) {
    SCOPED_TRACE(ascii);
    EXPECT_EQ(ascii, AsciiWithCharacterReferences(document));
  }
}

}  // namespace
}  // namespace kx

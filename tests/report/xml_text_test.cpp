// The texts of the report: the reversible form's choices a reader sees, and the base64 of the crash context.
// That every escaped text reads back as its input and holds no markup, that a cut never splits a reference,
// and that nothing is decoded past its capacity, the fuzz targets check on any text.
#include "report/xml_text.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "report/base64.h"

namespace kx {
namespace {

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

// Decoded with a capacity as large as the text, as the crash log generator does.
TEST(Base64Test, DecodesTheAlphabetAndShortFinalGroupsSkippingAnyOtherByte) {
  const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  const std::string alphabetBytes(
      "\x00\x10\x83\x10\x51\x87\x20\x92\x8B\x30\xD3\x8F\x41\x14\x93\x51\x55\x97\x61\x96\x9B\x71\xD7\x9F"
      "\x82\x18\xA3\x92\x59\xA7\xA2\x9A\xAB\xB2\xDB\xAF\xC3\x1C\xB3\xD3\x5D\xB7\xE3\x9E\xBB\xF3\xDF\xBF",
      48);
  const std::pair<std::string, std::string> cases[] = {
      {"====\r\n", ""},
      {"= " + alphabet.substr(0, 30) + "\r\n" + alphabet.substr(30) + "== \t", alphabetBytes},
      {"TWE=", "Ma"},                         // three characters: two bytes
      {"TQ==", "M"},                          // two characters: one byte
      {"TWFuT", "Man"},                       // one trailing character: nothing
      {std::string("TWFu\0TWFu", 9), "Man"},  // a zero byte where a group would begin ends the text
      {std::string("TW\0Fu", 5), "Man"},      // inside a group it is skipped like any other byte
  };
  for (const auto& [text, bytes] : cases) {
    SCOPED_TRACE(text);
    std::vector<unsigned char> out(text.size());
    std::size_t count = out.size();
    EXPECT_TRUE(DecodeBase64(text, out.data(), count));
    EXPECT_EQ(bytes, std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count)));
  }
}

}  // namespace
}  // namespace kx

#include "common/text_utils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kx {
namespace {

using Pieces = std::vector<std::string>;

Pieces Split(const std::string& text, const std::string& delimiter) {
  Pieces pieces;
  splitText(text, delimiter, pieces);
  return pieces;
}

TEST(TextUtilsTest, SplitKeepsInnerAndLeadingEmptyPiecesButNotATrailingOne) {
  EXPECT_EQ((Pieces{"0", "1", "100"}), Split("0_1_100", "_"));
  EXPECT_EQ((Pieces{"a", "", "b"}), Split("a__b", "_"));
  EXPECT_EQ((Pieces{"", "a"}), Split("_a", "_"));
  EXPECT_EQ((Pieces{"a"}), Split("a_", "_"));
  EXPECT_EQ((Pieces{"", ""}), Split("__", "_"));
  EXPECT_EQ(Pieces{}, Split("", "_"));
  EXPECT_EQ((Pieces{"k", "v", "KX---K"}), Split("kKX---KXvKX---KXKX---K", "KX---KX"));
  EXPECT_EQ((Pieces{"whole_text"}), Split("whole_text", ""));
  EXPECT_EQ(Pieces{}, Split("", ""));

  Pieces appended{"kept"};
  splitText("x;y", ";", appended);
  EXPECT_EQ((Pieces{"kept", "x", "y"}), appended);
}

TEST(TextUtilsTest, TrimRemovesOnlyCLocaleWhiteSpace) {
  EXPECT_EQ("a b", trimText(" \t\n\v\f\ra b\r\n"));
  EXPECT_EQ("", trimText(" \r\n "));
  EXPECT_EQ("\xA0x\xA0", trimText("\xA0x\xA0"));  // bytes above 0x7F are never white space
  EXPECT_EQ(std::string("\0x", 2), trimText(std::string(" \0x ", 4)));
}

// ReadLeadingInteger is checked against strtoll on any text by the text_utils fuzz target.

TEST(TextUtilsTest, LowerCasingStopsAtTheFirstZeroByte) {
  std::string text("AbC\xC9;Z\0QR", 8);
  LowerAsciiInPlace(text);
  EXPECT_EQ(std::string("abc\xC9;z\0QR", 8), text);
}

}  // namespace
}  // namespace kx

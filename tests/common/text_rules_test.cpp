// The text rules the service's readers and log lines build on. That split pieces join back to their text,
// that a trim leaves no blank at either end and that numbers read as strtoll reads them is the text_utils
// fuzz target's check; these rows pin what those properties leave open.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/log_line.h"
#include "common/name_piece.h"
#include "common/text_utils.h"

namespace kx {
namespace {

template <typename Piece>
std::string Render(const Piece& piece) {
  std::string line;
  AppendLogPiece(line, piece);
  return line;
}

TEST(LogLineTest, WideCharactersAboveLatin1AreOneQuestionMarkEachAndNumbersReachTheirLimits) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"Pipe \u00E9\u00FF\u0100\u20AC\uFFFD", "Pipe \xE9\xFF???"},
      {std::wstring(L"a") + wchar_t(0xD83D) + wchar_t(0xDE00) + L"b", "a?b"},  // one code point, one "?"
      {std::wstring(L"a") + wchar_t(0xD83D), "a?"},     // lone high surrogate at the end
      {std::wstring(1, wchar_t(0xDE00)) + L"b", "?b"},  // lone low surrogate
  };
  for (const auto& [wide, stored] : cases) EXPECT_EQ(stored, Render(wide)) << stored;
  EXPECT_EQ("4294967295", Render(LogNumber{4294967295u}));
  EXPECT_EQ("-2147483648", Render(LogInteger{-2147483648LL}));
  EXPECT_EQ("FFFFFFFFFFFFFFFF", Render(LogHandle{static_cast<std::uintptr_t>(-1)}));
}

TEST(NamePieceTest, SeparatorsDriveColonsAndControlCharactersAreRefused) {
  const std::string refused[] = {"..\\x", "a/b", "C:", "x::$DATA", std::string("a\0b", 3), "a\tb", "a\nb",
                                 "\x1F", "a\x7F"};
  for (const std::string& text : refused) {
    EXPECT_FALSE(IsPlainNamePiece(text)) << text;
    EXPECT_FALSE(IsPlainNamePiece(std::wstring(text.begin(), text.end()))) << text;
  }
  for (const char* text : {"", "1234", "..", "crash 42", "kxWinLog_0f1e2d3c_7_abc.xml", "\x80\xE9\xFF"})
    EXPECT_TRUE(IsPlainNamePiece(text)) << text;
  EXPECT_TRUE(IsPlainNamePiece(std::wstring(L"\u00E9\u4E2D\u2215")));  // a division slash is not a separator
}

TEST(NamePieceTest, NamesThatCannotBeCreatedOpenADeviceOrGetAnotherNameAreNotUsableFileNames) {
  const std::pair<std::wstring, bool> cases[] = {
      {L"", false}, {L"NUL", false}, {L"nul.dmp", false}, {L"Con", false}, {L"AUX.xml.solurl", false},
      {L"prn", false}, {L"COM1", false}, {L"com9.dmp", false}, {L"LPT1.x", false}, {L"COM\u00B9", false},
      {L"NUL .dmp", false}, {L"CONIN$", false}, {L"conout$.x", false}, {L"report.", false},
      {L"report ", false}, {L"a\\b", false}, {L"c:x", false}, {L"a?b", false}, {L"*.dmp", false},
      {L"<r", false}, {L"r>", false}, {L"a|b", false}, {L"\"r\"", false},
      {L"kxWinDump_0f1e2d3c_7_abc", true}, {L"NULL.dmp", true}, {L"COM10", true}, {L"COM", true},
      {L"console.log", true}, {L"LPT.dmp", true}, {L"xNUL", true}, {L".hidden", true},
      {L"r\u00E9sum\u00E9.xml", true}, {L"a&b'[%]{1}#", true}};
  for (const auto& [name, usable] : cases)
    EXPECT_EQ(usable, IsUsableFileName(name)) << std::string(name.begin(), name.end());
}

TEST(TextUtilsTest, SplitDropsATrailingEmptyPieceAndTrimTakesOnlyCLocaleWhiteSpace) {
  using Pieces = std::vector<std::string>;
  const struct {
    const char* text;
    const char* delimiter;
    Pieces pieces;  // after the one the list held before
  } splits[] = {{"a_", "_", {"a"}}, {"__", "_", {"", ""}}, {"", "_", {}}, {"whole_text", "", {"whole_text"}}};
  for (const auto& c : splits) {
    Pieces pieces{"kept"};
    splitText(c.text, c.delimiter, pieces);
    EXPECT_EQ("kept", pieces.front());
    EXPECT_EQ(c.pieces, Pieces(pieces.begin() + 1, pieces.end())) << c.text;
  }
  EXPECT_EQ("a b", trimText(" \t\n\v\f\ra b\r\n"));
  EXPECT_EQ("\xA0x\xA0", trimText("\xA0x\xA0"));  // bytes above 0x7F are never white space
  EXPECT_EQ(std::string("\0x", 2), trimText(std::string(" \0x ", 4)));
  std::string text("AbC\xC9;Z\0QR", 8);
  LowerAsciiInPlace(text);  // stops at the first zero byte
  EXPECT_EQ(std::string("abc\xC9;z\0QR", 8), text);
}

}  // namespace
}  // namespace kx

// The text rules the service's log lines and file names build on. The byte-wise helpers (split, trim,
// numbers) are the text_utils fuzz target's to check against the C library.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "common/log_line.h"
#include "common/name_piece.h"
#include "common/utf8.h"

namespace kx {
namespace {

std::string Render(const std::wstring& wide) {
  std::string line;
  AppendLogPiece(line, wide);
  return line;
}

TEST(LogLineTest, WideCharactersAboveLatin1AreOneQuestionMarkEach) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"Pipe \u00E9\u00FF\u0100\u20AC\uFFFD", "Pipe \xE9\xFF???"},
      {std::wstring(L"a") + wchar_t(0xD83D) + wchar_t(0xDE00) + L"b", "a?b"},  // one code point, one "?"
      {std::wstring(L"a") + wchar_t(0xD83D), "a?"},     // lone high surrogate at the end
      {std::wstring(1, wchar_t(0xDE00)) + L"b", "?b"},  // lone low surrogate
  };
  for (const auto& [wide, stored] : cases) EXPECT_EQ(stored, Render(wide)) << stored;
}

// The handler's texts go into a ticket, which refuses anything but well-formed UTF-8.
TEST(Utf8Test, TextsAreCutAtACharactersEndAndStrayBytesReplaced) {
  EXPECT_EQ("a\xEF\xBF\xBD" "caf", Utf8Within("a\xFF" "caf\xC3\xA9", 8));
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

}  // namespace
}  // namespace kx

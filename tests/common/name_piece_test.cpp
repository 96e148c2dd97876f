#include "common/name_piece.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

TEST(NamePieceTest, RefusesSeparatorsDriveColonAndControlCharacters) {
  const std::string refused[] = {"..\\x", "a/b", "C:", "x::$DATA", std::string("a\0b", 3), "a\tb", "a\nb",
                                 "\x1F", "a\x7F"};
  for (const std::string& text : refused) {
    SCOPED_TRACE(text);
    EXPECT_FALSE(IsPlainNamePiece(text));
    EXPECT_FALSE(IsPlainNamePiece(std::wstring(text.begin(), text.end())));
  }
}

TEST(NamePieceTest, AcceptsOrdinaryIdentifiersAndNames) {
  const std::string accepted[] = {"", "1234", "..", "crash 42", "kxWinLog_0f1e2d3c_7_abc.xml",
                                  "\x80\xE9\xFF"};
  for (const std::string& text : accepted) {
    SCOPED_TRACE(text);
    EXPECT_TRUE(IsPlainNamePiece(text));
  }
  EXPECT_TRUE(IsPlainNamePiece(std::wstring(L"\u00E9\u4E2D\u2215")));  // a division slash is not a separator
}

TEST(NamePieceTest, NamesThatCannotBeCreatedOpenADeviceOrGetAnotherNameAreNotUsableFileNames) {
  const std::wstring unusable[] = {L"", L"NUL", L"nul.dmp", L"Con", L"AUX.xml.solurl", L"prn", L"COM1",
                                   L"com9.dmp", L"LPT1.x", L"COM\u00B9", L"NUL .dmp", L"CONIN$", L"conout$.x",
                                   L"report.", L"report ", L"a\\b", L"c:x", L"a?b", L"*.dmp", L"<r", L"r>",
                                   L"a|b", L"\"r\""};
  for (const std::wstring& name : unusable) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_FALSE(IsUsableFileName(name));
  }
  const std::wstring usable[] = {L"kxWinDump_0f1e2d3c_7_abc", L"NULL.dmp", L"COM10", L"COM", L"console.log",
                                 L"LPT.dmp", L"xNUL", L".hidden", L"r\u00E9sum\u00E9.xml",
                                 L"a&b'[%]{1}#"};
  for (const std::wstring& name : usable) {
    SCOPED_TRACE(std::string(name.begin(), name.end()));
    EXPECT_TRUE(IsUsableFileName(name));
  }
}

}  // namespace
}  // namespace kx

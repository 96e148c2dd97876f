#include "common/log_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kx {
namespace {

template <typename... Pieces>
std::string Render(const Pieces&... pieces) {
  std::string line;
  (AppendLogPiece(line, pieces), ...);
  return line;
}

TEST(LogLineTest, NarrowBytesAreStoredUnchanged) {
  const std::string bytes("a\x7F\x80\xE9\xFF\n\r\tz", 9);
  EXPECT_EQ(bytes, Render(bytes));
  EXPECT_EQ(std::string("x\0y", 3), Render(std::string("x\0y", 3)));
}

TEST(LogLineTest, WideCharactersAboveLatin1BecomeOneQuestionMarkEach) {
  const std::pair<std::wstring, std::string> cases[] = {
      {L"Pipe \u00E9\u00FF", "Pipe \xE9\xFF"},
      {L"\u0100\u20AC\uFFFD", "???"},
      {std::wstring(L"a") + wchar_t(0xD83D) + wchar_t(0xDE00) + L"b", "a?b"},  // one code point, one "?"
      {std::wstring(L"a") + wchar_t(0xD83D), "a?"},                           // lone high surrogate at the end
      {std::wstring(1, wchar_t(0xDE00)) + L"b", "?b"},                         // lone low surrogate
  };
  for (const auto& [wide, stored] : cases) {
    SCOPED_TRACE(stored);
    EXPECT_EQ(stored, Render(wide));
  }
}

TEST(LogLineTest, NumbersFlagsAndHandles) {
  EXPECT_EQ("No of bytes read = 0", Render("No of bytes read = ", LogNumber{0}));
  EXPECT_EQ("4294967295", Render(LogNumber{4294967295u}));
  EXPECT_EQ("-2147483648 7", Render(LogInteger{-2147483648LL}, " ", LogInteger{7}));
  EXPECT_EQ("1 0", Render(LogFlag{true}, " ", LogFlag{false}));
  EXPECT_EQ("00000000000001A4", Render(LogHandle{0x1A4}));
  EXPECT_EQ("Pipe Handle is: FFFFFFFFFFFFFFFF",
            Render("Pipe Handle is: ", LogHandle{static_cast<std::uintptr_t>(-1)}));
}

}  // namespace
}  // namespace kx

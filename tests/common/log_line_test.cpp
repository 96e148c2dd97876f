#include "common/log_line.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kx {
namespace {

template <typename Piece>
std::string Render(const Piece& piece) {
  std::string line;
  AppendLogPiece(line, piece);
  return line;
}

// The plain cases are in the diagnostic log's test; these are the extremes.
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

}  // namespace
}  // namespace kx

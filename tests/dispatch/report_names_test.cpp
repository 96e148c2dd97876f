#include "dispatch/report_names.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kx {
namespace {

TEST(ReportNamesTest, TextModeReadingReducesOnlyCarriageReturnLineFeedPairs) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"", L""},
      {"<a>\r\n<b/>\r\n</a>", L"<a>\n<b/>\n</a>"},
      {"\r\r\n\n\r", L"\r\n\n\r"},
      {std::string("x\x1ay\0z\xff", 6), std::wstring(L"x\x1ay\0z\xff", 6)},
  };
  for (const auto& [bytes, text] : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    EXPECT_EQ(text, WidenTextModeBytes(bytes));
  }
}

}  // namespace
}  // namespace kx

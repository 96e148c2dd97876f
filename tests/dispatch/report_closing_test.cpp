#include "dispatch/report_closing.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace kx {
namespace {

TEST(ReportClosingTest, TheDocumentIsCutAtItsFirstEndTagAndClosedByteExactly) {
  const std::tuple<const wchar_t*, bool, std::string> cases[] = {
      {L"<crashreport>\n<a/>\n</crashreport>", false, "<crashreport>\r\n<a/>\r\n\r\n</crashreport>\r\n"},
      {L"<crashreport>\n<a/>\n</crashreport>", true,
       "<crashreport>\r\n<a/>\r\n\r\n<dumpAttached>\r\n\r\n</dumpAttached>\r\n</crashreport>\r\n"},
      // A second end tag and whatever follows the first are dropped.
      {L"<c>\n</crashreport>\n<x/></crashreport>junk", false, "<c>\r\n\r\n</crashreport>\r\n"},
      // No end tag: the whole text stays. A lone CR is kept as it is.
      {L"<c>\r<b>\xe9", false, "<c>\r<b>\xe9\r\n</crashreport>\r\n"},
      {L"", false, "\r\n</crashreport>\r\n"},
  };
  for (const auto& [text, dumpAttached, bytes] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    EXPECT_EQ(bytes, CloseReportDocument(text, dumpAttached));
  }
}

}  // namespace
}  // namespace kx

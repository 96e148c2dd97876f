#include "dispatch/report_names.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

TEST(ReportNamesTest, AttachmentNamesTieTheCopyToItsReportAndTellItsState) {
  const std::tuple<const wchar_t*, std::size_t, std::wstring> names[] = {
      // source name, longest name, copy's name
      {L"app.log", 99, L"r.xml.att1.app_log"},
      {L"\u00E9 v1.2.final", 99, L"r.xml.att1.__v1_2_final"},  // no dot: no state suffix can appear
      {L"", 99, L"r.xml.att1.file"},
      {L"abcdefghijklmnopqrstuvwxyz0123456789", 99, L"r.xml.att1.abcdefghijklmnopqrstuvwxyz012345"},
      {L"app.log", 14, L"r.xml.att1.app"},
      {L"app.log", 11, L""},
  };
  for (const auto& [source, longest, name] : names)
    EXPECT_EQ(name, AttachmentFileName(L"r.xml", 1, source, longest));
  const std::pair<const wchar_t*, AttachmentFileState> states[] = {
      {L"r.xml.att1.app_log", AttachmentFileState::kCopy},
      {L"r.xml.att8.final", AttachmentFileState::kCopy},  // a file named "final"
      {L"r.xml.att8.final.writing", AttachmentFileState::kWriting},
      {L"r.xml.att2.app_log.final", AttachmentFileState::kFinal},
      {L"r.xml.att1.", AttachmentFileState::kNone},
      {L"r.xml.att.app_log", AttachmentFileState::kNone},
      {L"r.xml.att1.app.log", AttachmentFileState::kNone},
      {L"r.xml.att1.app_log.solurl", AttachmentFileState::kNone},
      {L"r.xml.final", AttachmentFileState::kNone},
      {L"q.xml.att1.app_log", AttachmentFileState::kNone},
  };
  for (const auto& [name, state] : states) EXPECT_EQ(state, AttachmentStateOf(L"r.xml", name)) << name;
}

}  // namespace
}  // namespace kx

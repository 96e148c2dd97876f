#include "transport/upload_rules.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

namespace kx {
namespace {

TEST(UploadRulesTest, HeadersNameTheFileItsKindAndTheInstallation) {
  EXPECT_EQ(
      "Content-Type: application/octet-stream\r\nX-KX-File-Name: kxWinLog_g_4711_abc.xml.final\r\n"
      "X-KX-File-Kind: report\r\nX-KX-Installation-Guid: 0f8fad5b-d9cb\r\n",
      UploadHeaders("kxWinLog_g_4711_abc.xml.final", UploadKindOf(L"kxWinLog_g_4711_abc.xml.final"),
                    "0f8fad5b-d9cb"));
  // Nothing of a name can break the header line or the request.
  EXPECT_EQ("a%20b%0D%0AX-Evil%3A%201%C3%A9~", PercentEncode("a b\r\nX-Evil: 1\xc3\xa9~"));
  EXPECT_STREQ("dump", UploadKindOf(L"kxWinDump_g_1_abc.dmp.full.final"));
  EXPECT_STREQ("other", UploadKindOf(L"notes.final"));
}

TEST(UploadRulesTest, OnlyFinishedFilesAreTakenAndTheStatusDecidesTheirFate) {
  const std::pair<const wchar_t*, bool> names[] = {
      {L"kxWinLog_g_1_abc.xml.final", true},
      {L"kxWinDump_g_1_abc.dmp.full.final", true},
      {L"kxWinLog_g_1_abc.xml.solurl", false},
      {L"x.final.rejected", false},
      {L"x.final.lck", false},
      {L".final", false},
  };
  for (const auto& [name, finished] : names) EXPECT_EQ(finished, IsFinishedFileName(name)) << name;
  const std::tuple<std::uint32_t, UploadVerdict> statuses[] = {
      {200, UploadVerdict::kDelivered}, {204, UploadVerdict::kDelivered}, {400, UploadVerdict::kRejected},
      {413, UploadVerdict::kRejected},  {0, UploadVerdict::kRetry},       {302, UploadVerdict::kRetry},
      {500, UploadVerdict::kRetry},     {503, UploadVerdict::kRetry},
  };
  for (const auto& [status, verdict] : statuses) EXPECT_EQ(verdict, JudgeUploadStatus(status)) << status;
}

}  // namespace
}  // namespace kx

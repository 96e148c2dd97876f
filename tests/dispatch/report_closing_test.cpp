#include "dispatch/report_closing.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <utility>

#include "dispatch/trust_verdict.h"

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

// Only status 0 trusts (a warning is no success). Each kind of failure logs a reason of its own; the
// no-signature status reads as "not signed" only with a last error that says the same.
TEST(TrustVerdictTest, OnlyAVerifiedSignatureIsTrustedAndEachFailureSaysWhy) {
  constexpr std::uint32_t kNoSignature = 0x800B0100;
  EXPECT_TRUE(JudgeTrustStatus(0, kNoSignature).trusted);
  const std::pair<std::uint32_t, std::uint32_t> refused[] = {
      {kNoSignature, kNoSignature}, {kNoSignature, 5}, {0x800B0111, 0}, {0x800B0004, 0},
      {0x80092026, 0},  // CRYPT_E_SECURITY_SETTINGS
      {0x80096010, 0},  // TRUST_E_BAD_DIGEST: a changed file
      {1, 0}};
  std::set<std::string> reasons = {JudgeTrustStatus(0, 0).message};
  for (const auto& [status, lastError] : refused) {
    const TrustVerdict verdict = JudgeTrustStatus(static_cast<std::int32_t>(status), lastError);
    EXPECT_FALSE(verdict.trusted) << std::hex << status;
    EXPECT_TRUE(reasons.insert(verdict.message).second) << verdict.message;
  }
  for (const std::uint32_t lastError : {0x800B0003u, 0x800B0001u}) {
    EXPECT_EQ(JudgeTrustStatus(static_cast<std::int32_t>(kNoSignature), kNoSignature).message,
              JudgeTrustStatus(static_cast<std::int32_t>(kNoSignature), lastError).message);
  }
}

}  // namespace
}  // namespace kx

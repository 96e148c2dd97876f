#include "dispatch/report_closing.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

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
  };
  for (const auto& [text, dumpAttached, bytes] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    EXPECT_EQ(bytes, CloseReportDocument(text, dumpAttached));
  }
}

// Only status 0 trusts: a warning is no success, nor is a changed file's digest. That every status gives a
// reason is the fuzz target's check; which reason the log shows, the end-to-end table's.
TEST(TrustVerdictTest, OnlyAVerifiedSignatureIsTrusted) {
  EXPECT_TRUE(JudgeTrustStatus(0, 0x800B0100).trusted);
  // TRUST_E_NOSIGNATURE, TRUST_E_EXPLICIT_DISTRUST, CRYPT_E_SECURITY_SETTINGS, TRUST_E_BAD_DIGEST, a warning
  for (const std::uint32_t status : {0x800B0100u, 0x800B0111u, 0x80092026u, 0x80096010u, 1u}) {
    EXPECT_FALSE(JudgeTrustStatus(static_cast<std::int32_t>(status), 0).trusted) << std::hex << status;
  }
}

}  // namespace
}  // namespace kx

#include "dispatch/report_closing.h"

#include <gtest/gtest.h>

#include <string>

#include "dispatch/trust_verdict.h"

namespace kx {
namespace {

// Cutting at the first end tag and closing with or without the dump's element are the sendlog end-to-end
// rows; that exactly one end tag ends any text is the fuzz target's check.
TEST(ReportClosingTest, WithoutAnEndTagTheWholeTextStaysAndALoneCarriageReturnIsKept) {
  EXPECT_EQ("<c>\r<b>\xe9\r\n</crashreport>\r\n", CloseReportDocument(L"<c>\r<b>\xe9", false));
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

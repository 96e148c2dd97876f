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
      {L"", false, "\r\n</crashreport>\r\n"},
  };
  for (const auto& [text, dumpAttached, bytes] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(text)));
    EXPECT_EQ(bytes, CloseReportDocument(text, dumpAttached));
  }
}

TEST(TrustVerdictTest, OnlyAVerifiedSignatureIsTrustedAndEachFailureSaysWhy) {
  const std::tuple<std::uint32_t, std::uint32_t, bool, std::string> cases[] = {
      {0, 0x800B0100, true, "The file is signed and the signature was verified"},
      {0x800B0100, 0x800B0100, false, "The file is not signed."},
      {0x800B0100, 0x800B0003, false, "The file is not signed."},
      {0x800B0100, 0x800B0001, false, "The file is not signed."},
      {0x800B0100, 5, false, "An unknown error occurred trying to verify the signature of the file."},
      {0x800B0111, 0, false, "The signature is present, but specifically disallowed."},
      {0x800B0004, 0, false, "The signature is present, but not trusted."},
      {0x80096010, 0, false, "Error is: -2146869232"},  // TRUST_E_BAD_DIGEST: a changed file
      {1, 0, false, "Error is: 1"},                     // a warning is no success
  };
  for (const auto& [status, lastError, trusted, message] : cases) {
    SCOPED_TRACE(message);
    const TrustVerdict verdict = JudgeTrustStatus(static_cast<std::int32_t>(status), lastError);
    EXPECT_EQ(trusted, verdict.trusted);
    EXPECT_EQ(message, verdict.message);
  }
  EXPECT_EQ(0u, JudgeTrustStatus(static_cast<std::int32_t>(0x80092026), 0)
                    .message.rfind("CRYPT_E_SECURITY_SETTINGS - ", 0));
}

}  // namespace
}  // namespace kx

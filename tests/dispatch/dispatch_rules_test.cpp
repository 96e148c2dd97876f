// The pure rules of dispatch: attachment names, what the signer's chain means, whether a signer is our
// publisher. How a report is closed and how the transport is started are the end-to-end tests'.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "dispatch/publisher_pin.h"
#include "dispatch/report_names.h"
#include "dispatch/trust_verdict.h"

namespace kx {
namespace {

// An application's file name never makes its copy look finished (or in any other state) before its report.
TEST(ReportNamesTest, AttachmentNamesTieTheCopyToItsReportAndTellItsState) {
  const std::tuple<const wchar_t*, std::size_t, std::wstring> names[] = {
      // source name, longest name, copy's name
      {L"\u00E9 v1.2.final", 99, L"r.xml.att1.__v1_2_final"},
      {L"", 99, L"r.xml.att1.file"},
      {L"app.log", 14, L"r.xml.att1.app"},
      {L"app.log", 11, L""},
  };
  for (const auto& [source, longest, name] : names)
    EXPECT_EQ(name, AttachmentFileName(L"r.xml", 1, source, longest));
  const std::pair<const wchar_t*, AttachmentFileState> states[] = {
      {L"r.xml.att8.final", AttachmentFileState::kCopy},  // a file named "final"
      {L"r.xml.att8.final.writing", AttachmentFileState::kWriting},
      {L"r.xml.att2.app_log.final", AttachmentFileState::kFinal},
      {L"r.xml.att1.app.log", AttachmentFileState::kNone},
      {L"q.xml.att1.app_log", AttachmentFileState::kNone},
  };
  for (const auto& [name, state] : states) EXPECT_EQ(state, AttachmentStateOf(L"r.xml", name)) << name;
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

TEST(TrustVerdictTest, OnlyAChainWithoutErrorsWhoseSignerNamesCodeSigningIsTrusted) {
  const std::vector<std::string> codeSigning = {"1.3.6.1.5.5.7.3.1", kCodeSigningUsage};
  const std::tuple<SignerChainFacts, bool, std::string> cases[] = {
      {{true, 0, codeSigning}, true, "is trusted for code signing"},
      {{true, 0x01000040, codeSigning}, true, "is trusted for code signing"},  // revocation: not asked for
      {{false, 0, codeSigning}, false, "could not be read"},
      {{true, 0x21, codeSigning}, false, "ends in a root that is not trusted"},  // the root named first
      {{true, 0x200, codeSigning}, false, "has errors: 0x00000200"},
      {{true, 0, {}}, false, "does not name the code-signing usage"},
      {{true, 0, {"1.3.6.1.5.5.7.3.1"}}, false, "does not name the code-signing usage"},
  };
  for (const auto& [chain, trusted, reason] : cases) {
    SCOPED_TRACE(reason);
    const TrustVerdict verdict = JudgeSignerChain(chain);
    EXPECT_EQ(trusted, verdict.trusted);
    EXPECT_NE(std::string::npos, verdict.message.find(reason)) << verdict.message;
  }
}

TEST(PublisherPinTest, TheSignerMustBeTheServicesPublisherOrElseTheOneSetAtBuildTime) {
  const Publisher ours = {L"CN=Orvan, O=Orvan Ltd", {"ISSUING", "ROOT"}};
  const std::optional<Publisher> none;
  // The service's own signer (when its signature holds), the build setting, the signer, the verdict.
  using Setting = std::pair<std::wstring, std::string>;
  const std::tuple<std::optional<Publisher>, Setting, Publisher, bool> cases[] = {
      {ours, {}, ours, true},
      {ours, {}, {L"CN=Evil Corp", ours.issuerThumbprints}, false},
      {ours, {}, {ours.subject, {"OTHER", "ROOT"}}, false},  // our name, another CA of the same root
      {ours, {}, {ours.subject, {}}, false},                         // self-signed under our name
      {none, {ours.subject, "ROOT"}, ours, true},
      {none, {ours.subject, "ISSUING"}, ours, true},
      {none, {ours.subject, "OTHER"}, ours, false},
      {none, {L"CN=Orvan", "ROOT"}, ours, false},
      {none, {ours.subject, ""}, ours, false},                       // half a setting is none
      {none, {}, ours, false},                                       // nothing to compare with: closed
      {Publisher{L"CN=Other", {"ROOT"}}, {ours.subject, "ROOT"}, ours, false},  // the signed service rules
  };
  int row = 0;
  for (const auto& [service, built, signer, trusted] : cases) {
    const PublisherPin pin = ChoosePublisherPin(service, built.first, built.second);
    EXPECT_EQ(trusted, JudgePublisher(signer, pin).trusted) << "row " << row++;
  }
}

}  // namespace
}  // namespace kx

// Whether a signer whose chain the platform trusts is our publisher. Any publisher a machine trusts can sign
// a program; the log transport is started only when the one who signed it is the one who signed the service
// (or, for an unsigned service, the one named at build time).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "dispatch/trust_verdict.h"

namespace kx {

// A signer as the pin sees it.
struct Publisher {
  // The signer certificate's subject in X.500 form, most specific part first ("CN=..., O=..., C=..."), as
  // Windows (and PowerShell's SignerCertificate.Subject) shows it.
  std::wstring subject;
  // SHA-256 of every certificate above the signer's in its chain, 64 upper-case hex digits each: the issuing
  // CA first, the root last. A renewed certificate (new key) from the same CA keeps the same list.
  std::vector<std::string> issuerThumbprints;
};

enum class PinSource {
  kServiceSigner,  // the service's own signer: same subject, same issuers
  kBuildSetting,   // set at build time: same subject, and its one thumbprint among the issuers
  kNone,           // nothing to compare with: every signer is refused
};

struct PublisherPin {
  PinSource source = PinSource::kNone;
  Publisher publisher;
};

// The service's own signer when there is one whose signature and chain hold; else the publisher set at build
// time, when it names a subject and a thumbprint; else none.
PublisherPin ChoosePublisherPin(const std::optional<Publisher>& serviceSigner,
                                const std::wstring& builtSubject, const std::string& builtThumbprint);

// Trusted only when the signer matches the pin. The message says which pin decided and, on a refusal, why.
TrustVerdict JudgePublisher(const Publisher& signer, const PublisherPin& pin);

}  // namespace kx

// What a code-signature check's outcome means. First WinVerifyTrust's status, together with the thread's last
// error (which tells "not signed at all" from other failures behind TRUST_E_NOSIGNATURE); then the chain the
// platform built for the signer, since a status of 0 alone does not prove that chain trusted everywhere.
// Each step gives a verdict and the message the signature log records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx {

struct TrustVerdict {
  bool trusted = false;  // only a status of exactly 0: warnings fail the check too
  std::string message;
};

TrustVerdict JudgeTrustStatus(std::int32_t status, std::uint32_t lastError);

// The extended key usage a publisher's certificate must name to sign our programs.
inline constexpr char kCodeSigningUsage[] = "1.3.6.1.5.5.7.3.3";

// What the platform reported about the first signer's certificate chain.
struct SignerChainFacts {
  bool read = false;                    // the signer and its chain could be read at all
  std::uint32_t errorStatus = 0;        // CERT_TRUST_STATUS.dwErrorStatus of the whole chain
  std::vector<std::string> leafUsages;  // the extended key usages (OIDs) the signer's certificate names
};

// Trusted only when the chain has no error at all, but that revocation was not checked (the check asks for
// none), and the signer's certificate names the code-signing usage itself (no usage extension is no usage).
TrustVerdict JudgeSignerChain(const SignerChainFacts& chain);

}  // namespace kx

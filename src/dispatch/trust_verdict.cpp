#include "dispatch/trust_verdict.h"

#include <algorithm>

#include "common/hex_text.h"

namespace kx {
namespace {

// The WinTrust and CryptoAPI codes, as the platform headers spell them.
constexpr std::uint32_t kNoSignature = 0x800B0100;         // TRUST_E_NOSIGNATURE
constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003;  // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr std::uint32_t kProviderUnknown = 0x800B0001;     // TRUST_E_PROVIDER_UNKNOWN
constexpr std::uint32_t kExplicitDistrust = 0x800B0111;    // TRUST_E_EXPLICIT_DISTRUST
constexpr std::uint32_t kSubjectNotTrusted = 0x800B0004;   // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr std::uint32_t kSecuritySettings = 0x80092026;    // CRYPT_E_SECURITY_SETTINGS

// CERT_TRUST_STATUS error bits.
constexpr std::uint32_t kNotTimeValid = 0x00000001;          // CERT_TRUST_IS_NOT_TIME_VALID
constexpr std::uint32_t kRevoked = 0x00000004;               // CERT_TRUST_IS_REVOKED
constexpr std::uint32_t kNotSignatureValid = 0x00000008;     // CERT_TRUST_IS_NOT_SIGNATURE_VALID
constexpr std::uint32_t kNotValidForUsage = 0x00000010;      // CERT_TRUST_IS_NOT_VALID_FOR_USAGE
constexpr std::uint32_t kUntrustedRoot = 0x00000020;         // CERT_TRUST_IS_UNTRUSTED_ROOT
constexpr std::uint32_t kRevocationUnknown = 0x00000040;     // CERT_TRUST_REVOCATION_STATUS_UNKNOWN
constexpr std::uint32_t kPartialChain = 0x00010000;          // CERT_TRUST_IS_PARTIAL_CHAIN
constexpr std::uint32_t kOfflineRevocation = 0x01000000;     // CERT_TRUST_IS_OFFLINE_REVOCATION
constexpr std::uint32_t kChainDistrusted = 0x04000000;       // CERT_TRUST_IS_EXPLICIT_DISTRUST

// Revocation is not asked for, so "unknown" is what it should say; a revocation that is known is not.
constexpr std::uint32_t kTolerated = kRevocationUnknown | kOfflineRevocation;

// The most telling reason first: one line names one reason.
constexpr struct {
  std::uint32_t bit;
  const char* message;
} kChainReasons[] = {
    {kRevoked, "The signer's certificate chain holds a revoked certificate."},
    {kChainDistrusted, "The signer's certificate chain holds an explicitly distrusted certificate."},
    {kUntrustedRoot, "The signer's certificate chain ends in a root that is not trusted."},
    {kPartialChain, "The signer's certificate chain does not reach a root."},
    {kNotSignatureValid, "A signature in the signer's certificate chain is not valid."},
    {kNotTimeValid, "A certificate of the signer's chain is outside its validity period."},
    {kNotValidForUsage, "The signer's certificate chain is not valid for code signing."},
};

}  // namespace

TrustVerdict JudgeTrustStatus(std::int32_t status, std::uint32_t lastError) {
  const auto code = static_cast<std::uint32_t>(status);
  if (code == 0) return {true, "The file is signed and the signature was verified"};
  if (code == kNoSignature) {
    if (lastError == kNoSignature || lastError == kSubjectFormUnknown || lastError == kProviderUnknown) {
      return {false, "The file is not signed."};
    }
    return {false, "An unknown error occurred trying to verify the signature of the file."};
  }
  if (code == kExplicitDistrust) return {false, "The signature is present, but specifically disallowed."};
  if (code == kSubjectNotTrusted) return {false, "The signature is present, but not trusted."};
  if (code == kSecuritySettings) {
    return {
        false,
        "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't explicitly "
        "trusted by the admin and admin policy has disabled user trust. No signature, publisher or timestamp "
        "errors."};
  }
  return {false, "Error is: " + std::to_string(status)};
}

TrustVerdict JudgeSignerChain(const SignerChainFacts& chain) {
  if (!chain.read) return {false, "The signer's certificate chain could not be read."};
  const std::uint32_t errors = chain.errorStatus & ~kTolerated;
  for (const auto& reason : kChainReasons) {
    if (errors & reason.bit) return {false, reason.message};
  }
  if (errors != 0) {
    std::string message = "The signer's certificate chain has errors: 0x";
    AppendHex(message, errors, 8, true);
    return {false, message};
  }
  const auto& usages = chain.leafUsages;
  if (std::find(usages.begin(), usages.end(), kCodeSigningUsage) == usages.end()) {
    return {false, "The signer's certificate does not name the code-signing usage."};
  }
  return {true, "The signer's certificate chain is trusted for code signing."};
}

}  // namespace kx

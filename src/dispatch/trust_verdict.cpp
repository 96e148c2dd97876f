#include "dispatch/trust_verdict.h"

namespace kx {
namespace {

// The WinTrust and CryptoAPI codes, as the platform headers spell them.
constexpr std::uint32_t kNoSignature = 0x800B0100;         // TRUST_E_NOSIGNATURE
constexpr std::uint32_t kSubjectFormUnknown = 0x800B0003;  // TRUST_E_SUBJECT_FORM_UNKNOWN
constexpr std::uint32_t kProviderUnknown = 0x800B0001;     // TRUST_E_PROVIDER_UNKNOWN
constexpr std::uint32_t kExplicitDistrust = 0x800B0111;    // TRUST_E_EXPLICIT_DISTRUST
constexpr std::uint32_t kSubjectNotTrusted = 0x800B0004;   // TRUST_E_SUBJECT_NOT_TRUSTED
constexpr std::uint32_t kSecuritySettings = 0x80092026;    // CRYPT_E_SECURITY_SETTINGS

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

}  // namespace kx

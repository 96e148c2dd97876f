// What a code-signature check's outcome means: WinVerifyTrust's status, together with the thread's last error
// (which tells "not signed at all" from other failures behind TRUST_E_NOSIGNATURE), becomes a verdict and
// the message the signature log records.
#pragma once

#include <cstdint>
#include <string>

namespace kx {

struct TrustVerdict {
  bool trusted = false;  // only a status of exactly 0: warnings fail the check too
  std::string message;
};

TrustVerdict JudgeTrustStatus(std::int32_t status, std::uint32_t lastError);

}  // namespace kx

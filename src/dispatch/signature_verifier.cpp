#include "dispatch/signature_verifier.h"

#include <softpub.h>
#include <wintrust.h>

#include "common/diagnostic_log.h"
#include "dispatch/trust_verdict.h"

namespace kx {
namespace {

// Some SDK headers end WINTRUST_DATA before its last member, the signature settings pointer. The platform
// is told the full size, and the memory behind it must exist: with the short size, a close after a failed
// check makes some implementations (Wine's) use freed memory.
struct TrustRequest {
  WINTRUST_DATA data;
  void* signatureSettingsIfMissing;
};
constexpr DWORD kFullTrustDataSize = sizeof(WINTRUST_DATA) < 88 ? 88 : sizeof(WINTRUST_DATA);
static_assert(sizeof(TrustRequest) >= kFullTrustDataSize, "the platform may read the whole trust data");

// One verification: the check in the constructor, the release of its state in the destructor.
class TrustVerification {
 public:
  TrustVerification(const std::wstring& path, HANDLE file) {
    fileInfo_.cbStruct = sizeof(fileInfo_);
    fileInfo_.pcwszFilePath = path.c_str();
    fileInfo_.hFile = file;
    request_.data.cbStruct = kFullTrustDataSize;
    request_.data.dwUIChoice = WTD_UI_NONE;
    request_.data.fdwRevocationChecks = WTD_REVOKE_NONE;
    request_.data.dwUnionChoice = WTD_CHOICE_FILE;
    request_.data.pFile = &fileInfo_;
    request_.data.dwStateAction = WTD_STATEACTION_VERIFY;
    status_ = ::WinVerifyTrust(nullptr, &action_, &request_.data);
    lastError_ = ::GetLastError();
  }
  ~TrustVerification() {
    request_.data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(nullptr, &action_, &request_.data);
  }
  TrustVerification(const TrustVerification&) = delete;
  TrustVerification& operator=(const TrustVerification&) = delete;

  LONG status() const { return status_; }
  DWORD lastError() const { return lastError_; }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO fileInfo_ = {};
  TrustRequest request_ = {};
  LONG status_ = 0;
  DWORD lastError_ = 0;
};

}  // namespace

bool SignatureVerifierUtils::VerifyEmbeddedSignature(const std::wstring& path, HANDLE file) {
  LogStream& log = ComponentLogStream(LogComponent::SignatureVerifierUtils);
  if (!log.is_open() && IsLoggingSwitchOn()) log.Open();
  if (log.is_open()) log.WriteLine("Inside VerifyEmbeddedSignature ", path);

  TrustVerdict verdict;
  {
    const TrustVerification verification(path, file);
    verdict = JudgeTrustStatus(verification.status(), verification.lastError());
  }
  if (log.is_open()) log.WriteLine(verdict.message);
  return verdict.trusted;
}

}  // namespace kx

#include "dispatch/signature_verifier.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "common/diagnostic_log.h"
#include "common/hex_text.h"
#include "common/win_handles.h"
#include "dispatch/publisher_pin.h"
#include "dispatch/transport_publisher.h"
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

// One verification: the check in the constructor, the release of its state (and of the signer's chain read
// from it) in the destructor.
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

  // The chain the platform built for the first signer; null when it kept none.
  PCCERT_CHAIN_CONTEXT SignerChain() const {
    CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(request_.data.hWVTStateData);
    if (!provider) return nullptr;
    CRYPT_PROVIDER_SGNR* signer = ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    // A provider may hand out an older, shorter signer record.
    constexpr std::size_t kChainEnd = offsetof(CRYPT_PROVIDER_SGNR, pChainContext) + sizeof(void*);
    if (!signer || signer->cbStruct < kChainEnd) return nullptr;
    return signer->pChainContext;
  }

 private:
  GUID action_ = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  WINTRUST_FILE_INFO fileInfo_ = {};
  TrustRequest request_ = {};
  LONG status_ = 0;
  DWORD lastError_ = 0;
};

// The usages the certificate's own extension names; none when it has no such extension.
std::vector<std::string> NamedUsages(PCCERT_CONTEXT certificate) {
  constexpr DWORD kOwnExtension = CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG;
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(certificate, kOwnExtension, nullptr, &size)) return {};
  std::vector<std::byte> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(certificate, kOwnExtension, usage, &size)) return {};
  return std::vector<std::string>(usage->rgpszUsageIdentifier,
                                  usage->rgpszUsageIdentifier + usage->cUsageIdentifier);
}

// Empty when the platform cannot hash: an issuer that cannot be named matches no pin.
std::string Sha256Thumbprint(PCCERT_CONTEXT certificate) {
  BYTE hash[32];
  DWORD size = sizeof(hash);
  if (!::CryptHashCertificate2(L"SHA256", 0, nullptr, certificate->pbCertEncoded, certificate->cbCertEncoded,
                               hash, &size) ||
      size != sizeof(hash)) {
    return {};
  }
  std::string text;
  for (BYTE b : hash) AppendHex(text, b, 2, true);
  return text;
}

std::wstring SubjectOf(PCCERT_CONTEXT certificate) {
  CERT_NAME_BLOB* name = &certificate->pCertInfo->Subject;
  constexpr DWORD kForm = CERT_X500_NAME_STR | CERT_NAME_STR_REVERSE_FLAG;
  const DWORD length = ::CertNameToStrW(X509_ASN_ENCODING, name, kForm, nullptr, 0);
  std::wstring text(length, L'\0');
  ::CertNameToStrW(X509_ASN_ENCODING, name, kForm, text.data(), length);
  if (!text.empty()) text.pop_back();  // the terminating NUL
  return text;
}

struct SignerFacts {
  SignerChainFacts chain;
  Publisher publisher;
};

SignerFacts ReadSigner(PCCERT_CHAIN_CONTEXT chain) {
  SignerFacts facts;
  if (!chain || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return facts;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  PCCERT_CONTEXT leaf = simple->rgpElement[0]->pCertContext;
  facts.chain = {true, chain->TrustStatus.dwErrorStatus, NamedUsages(leaf)};
  facts.publisher.subject = SubjectOf(leaf);
  for (DWORD i = 1; i < simple->cElement; ++i) {
    facts.publisher.issuerThumbprints.push_back(Sha256Thumbprint(simple->rgpElement[i]->pCertContext));
  }
  return facts;
}

struct FileCheck {
  TrustVerdict signature;
  TrustVerdict chain;
  Publisher signer;
};

FileCheck CheckFile(const std::wstring& path, HANDLE file) {
  const TrustVerification verification(path, file);
  FileCheck check;
  check.signature = JudgeTrustStatus(verification.status(), verification.lastError());
  if (!check.signature.trusted) return check;
  SignerFacts facts = ReadSigner(verification.SignerChain());
  check.chain = JudgeSignerChain(facts.chain);
  check.signer = std::move(facts.publisher);
  return check;
}

std::optional<std::wstring> OwnProgramPath() {
  std::wstring path(MAX_PATH, L'\0');
  while (path.size() <= 32768) {
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return std::nullopt;
    if (length < path.size()) return path.substr(0, length);
    path.resize(path.size() * 2);
  }
  return std::nullopt;
}

// The service's own signer, when its signature and chain hold by the same rules.
std::optional<Publisher> ServiceSigner() {
  const std::optional<std::wstring> path = OwnProgramPath();
  if (!path) return std::nullopt;
  const UniqueFileHandle file(::CreateFileW(path->c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  FileCheck check = CheckFile(*path, file.get());
  if (!check.signature.trusted || !check.chain.trusted) return std::nullopt;
  return std::move(check.signer);
}

std::string Joined(const std::vector<std::string>& pieces) {
  std::string text;
  for (const std::string& piece : pieces) text += (text.empty() ? "" : " ") + piece;
  return text.empty() ? "(none: the signer's certificate is its own root)" : text;
}

}  // namespace

bool IsSignedByOurPublisher(const std::wstring& path, HANDLE file) {
  LogStream& log = ComponentLogStream(LogComponent::SignatureVerifierUtils);
  if (!log.is_open() && IsLoggingSwitchOn()) log.Open();
  log.WriteLine("Inside VerifyEmbeddedSignature ", path);

  const FileCheck check = CheckFile(path, file);
  log.WriteLine(check.signature.message);
  if (!check.signature.trusted) return false;
  if (!check.signer.subject.empty()) {
    log.WriteLine("Signer: ", check.signer.subject);
    log.WriteLine("Issued through (SHA-256): ", Joined(check.signer.issuerThumbprints));
  }
  log.WriteLine(check.chain.message);
  if (!check.chain.trusted) return false;

  const PublisherPin pin =
      ChoosePublisherPin(ServiceSigner(), kBuiltTransportPublisher, kBuiltTransportPublisherCaSha256);
  const TrustVerdict publisher = JudgePublisher(check.signer, pin);
  log.WriteLine(publisher.message);
  return publisher.trusted;
}

}  // namespace kx

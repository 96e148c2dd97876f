// Makes the test PKI's CA (tools/make-test-pki) trusted in the Wine prefix it runs in: imports the
// certificate into the CurrentUser Root store, in place of any earlier certificate of the same subject
// (every run makes a new CA under the same name; old ones left there would only confuse chain building).
// The tests, tools/demo and tools/local-servers run it; it is a developer's tool, never shipped.
//
//   trust_test_ca <ca.der>
//
// Exit code 0 when the certificate is in the store; otherwise 1, with the reason on stderr.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "common/win_handles.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// A DER certificate takes a few KiB; a file near this size is not one.
constexpr LONGLONG kLargestCertificate = 1 << 20;

struct CertificateTraits {
  using Value = PCCERT_CONTEXT;
  static Value Empty() noexcept { return nullptr; }
  static void Close(Value value) noexcept { ::CertFreeCertificateContext(value); }
};
using UniqueCertificate = kx::UniqueResource<CertificateTraits>;

int Fail(const char* step) {
  std::fprintf(stderr, "trust_test_ca: %s failed, error %lu\n", step, ::GetLastError());
  return 1;
}

std::string ReadWholeFile(const wchar_t* path) {
  kx::UniqueFileHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > kLargestCertificate) return {};
  std::string bytes(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr)) return {};
  bytes.resize(read);
  return bytes;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::string der = argc == 2 ? ReadWholeFile(argv[1]) : std::string();
  if (der.empty()) return Fail("reading the certificate file named by the only argument");
  const auto* bytes = reinterpret_cast<const BYTE*>(der.data());
  const auto size = static_cast<DWORD>(der.size());
  const UniqueCertificate certificate(::CertCreateCertificateContext(kEncoding, bytes, size));
  if (!certificate) return Fail("CertCreateCertificateContext");

  // The registry store itself rather than the system store: under Wine the latter is a collection that
  // reports deletions as done but never writes them. Closing the store writes the changes to the registry;
  // without the close the import is lost, so the close is made here and its result counts.
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return Fail("CertOpenStore");
  // The deletion frees the context it is given, found or not.
  while (PCCERT_CONTEXT old = ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_NAME,
                                                           &certificate.get()->pCertInfo->Subject, nullptr)) {
    if (!::CertDeleteCertificateFromStore(old)) break;
  }
  const bool added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD addError = ::GetLastError();
  const bool closed = ::CertCloseStore(store, 0);
  if (!added) {
    ::SetLastError(addError);
    return Fail("CertAddEncodedCertificateToStore");
  }
  return closed ? 0 : Fail("CertCloseStore");
}

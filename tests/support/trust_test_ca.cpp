// Makes the test PKI's CA (tools/make-test-pki) trusted in the Wine prefix it runs in: imports the
// certificate into the CurrentUser Root store, in place of any earlier certificate of the same subject
// (every run makes a new CA under the same name; old ones left there would only confuse chain building).
//
//   trust_test_ca <ca.der>
//
// Exit code 0 when the certificate is in the store; otherwise 1, with the reason on stderr.
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "support/test_files.h"

namespace {

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

int Fail(const char* step) {
  std::fprintf(stderr, "trust_test_ca: %s failed, error %lu\n", step, ::GetLastError());
  return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::optional<std::string> der = argc == 2 ? kx::test::ReadFileBytes(argv[1]) : std::nullopt;
  if (!der || der->empty()) return Fail("reading the certificate file named by the only argument");
  const auto* bytes = reinterpret_cast<const BYTE*>(der->data());
  const auto size = static_cast<DWORD>(der->size());
  PCCERT_CONTEXT certificate = ::CertCreateCertificateContext(kEncoding, bytes, size);
  if (!certificate) return Fail("CertCreateCertificateContext");

  // The registry store itself rather than the system store: under Wine the latter is a collection that
  // reports deletions as done but never writes them. Closing the store writes the changes to the registry;
  // without the close the import is lost.
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) return Fail("CertOpenStore");
  // The deletion frees the context it is given, found or not.
  while (PCCERT_CONTEXT old = ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_NAME,
                                                           &certificate->pCertInfo->Subject, nullptr)) {
    if (!::CertDeleteCertificateFromStore(old)) break;
  }
  ::CertFreeCertificateContext(certificate);
  const bool added = ::CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, bytes, size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (!added) return Fail("CertAddEncodedCertificateToStore");
  return ::CertCloseStore(store, 0) ? 0 : Fail("CertCloseStore");
}

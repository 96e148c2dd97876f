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

// Removes every certificate of this subject from the store.
void RemoveSameSubject(HCERTSTORE store, const CERT_NAME_BLOB& subject) {
  while (PCCERT_CONTEXT old =
             ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_NAME, &subject, nullptr)) {
    // The deletion frees the context it is given, found or not.
    if (!::CertDeleteCertificateFromStore(old)) return;
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_test_ca <ca.der>\n");
    return 1;
  }
  const std::optional<std::string> der = kx::test::ReadFileBytes(argv[1]);
  if (!der || der->empty()) return Fail("reading the certificate file");
  PCCERT_CONTEXT certificate = ::CertCreateCertificateContext(
      kEncoding, reinterpret_cast<const BYTE*>(der->data()), static_cast<DWORD>(der->size()));
  if (!certificate) return Fail("CertCreateCertificateContext");

  // The registry store itself rather than the system store: under Wine the latter is a collection that
  // reports deletions as done but never writes them. Closing the store writes the changes to the registry.
  HCERTSTORE store =
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
  if (!store) {
    ::CertFreeCertificateContext(certificate);
    return Fail("CertOpenStore");
  }
  RemoveSameSubject(store, certificate->pCertInfo->Subject);
  const BOOL added = ::CertAddEncodedCertificateToStore(
      store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der->data()), static_cast<DWORD>(der->size()),
      CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  const DWORD addError = ::GetLastError();
  ::CertFreeCertificateContext(certificate);
  // Without the close the import is lost.
  const BOOL closed = ::CertCloseStore(store, 0);
  if (!added) {
    ::SetLastError(addError);
    return Fail("CertAddEncodedCertificateToStore");
  }
  return closed ? 0 : Fail("CertCloseStore");
}

// The code-signature check of the log transport, through the platform's trust service (WinVerifyTrust,
// generic Authenticode policy, no UI, no revocation checks), then through the chain it built for the signer,
// then against our publisher (publisher_pin.h): the service's own signer, or the one set at build time.
//
// Logs to "SignatureVerifierUtils.txt": the file is opened by the first check in the process that finds the
// logging switch on, and from then on every check in the process writes its lines.
#pragma once

#include <windows.h>

#include <string>

namespace kx {

// True only when the file is signed, its signature verified without any warning, the signer's chain has no
// error and names code signing, and the signer is our publisher. When `file` is an open handle to the file
// at `path`, that very handle is checked, so that the file cannot be swapped between the check and whatever
// the caller does with it next.
bool IsSignedByOurPublisher(const std::wstring& path, HANDLE file = nullptr);

}  // namespace kx

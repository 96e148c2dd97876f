#include "dispatch/log_transport_processor.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "common/diagnostic_log.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "dispatch/signature_verifier.h"

namespace kx {
namespace {

std::wstring Quoted(const std::wstring& text) { return L"\"" + text + L"\""; }

// Hidden, not awaited: the transport outlives this process.
void StartTransport(const std::wstring& quotedTransport, const std::wstring& clientDirectory,
                    const std::wstring& folder) {
  const std::wstring parameters = Quoted(clientDirectory) + L" " + Quoted(folder);
  ::ShellExecuteW(nullptr, nullptr, quotedTransport.c_str(), parameters.c_str(), nullptr, SW_HIDE);
}

}  // namespace

void LogTransportProcessor::Run(const std::wstring& clientDirectory, bool bVerifySignatureBeforeLaunching) {
  ComponentLog log(LogComponent::LogTransportProcessor);
  log.Start(ComponentLog::OpenRule::kOpenAlways);

  const std::wstring transport = clientDirectory + L"\\" + kLogTransportFileName;
  // Held until both starts are made: others may read the file (the starts must), but not change, replace or
  // delete it after it was checked.
  const UniqueFileHandle held(::CreateFileW(transport.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    log.Line("Log transport not present");
    log.Close();
    return;
  }
  const std::wstring quotedTransport = Quoted(transport);

  log.Line("bVerifySignatureBeforeLaunching: ", LogFlag{bVerifySignatureBeforeLaunching});
  if (bVerifySignatureBeforeLaunching) {
    if (!SignatureVerifierUtils::VerifyEmbeddedSignature(transport, held.get())) {
      log.Line("Verification failed for log transport file. Returning");
      log.Close();
      return;
    }
    log.Line("Signature verification successful for Log transport");
  }
  log.Line("Going to execute the log transport");
  log.Line("LogTransport path is : ", quotedTransport);
  log.Close();

  // The shell may hand the start to extensions that need COM.
  const ComApartment apartment(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  StartTransport(quotedTransport, clientDirectory, StoragePaths::CrashLogFolder());
  StartTransport(quotedTransport, clientDirectory, StoragePaths::DumpFolder());
}

}  // namespace kx

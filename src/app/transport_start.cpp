#include "app/transport_start.h"

#include <windows.h>

#include <optional>

#include "common/diagnostic_log.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "dispatch/held_file_start.h"
#include "dispatch/signature_verifier.h"
#include "dispatch/transport_command.h"

namespace kx {
namespace {

void Start(ComponentLog& log, HANDLE held, const std::wstring& finalPath, const std::wstring& clientDirectory,
           const std::wstring& folder) {
  const HeldStart start = StartHeldProgram(
      held, finalPath, TransportCommandLine(WithoutLongPathPrefix(finalPath), clientDirectory, folder));
  switch (start.outcome) {
    case HeldStart::Outcome::kStarted:
      return;
    case HeldStart::Outcome::kNotStarted:
      log.Line("The log transport could not be started, error ", LogNumber{start.error});
      return;
    case HeldStart::Outcome::kOtherFile:
      log.Line("The started program is not the checked log transport file; ended before it ran: ",
               start.image);
      return;
  }
}

}  // namespace

void StartLogTransport(const std::wstring& clientDirectory, bool checkSignature) {
  ComponentLog log(LogComponent::LogTransportProcessor);
  log.Start(ComponentLog::OpenRule::kOpenAlways);

  const std::wstring transport = TransportPathIn(clientDirectory);
  // Held until both starts are made: others may read the file (the starts must), but not change, replace,
  // rename or delete it, nor (on Windows) rename a folder above it, after it was checked.
  const UniqueFileHandle held(::CreateFileW(transport.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held) {
    log.Line("Log transport not present");
    log.Close();
    return;
  }

  log.Line("bVerifySignatureBeforeLaunching: ", LogFlag{checkSignature});
  if (checkSignature) {
    if (!IsSignedByOurPublisher(transport, held.get())) {
      log.Line("Verification failed for log transport file. Returning");
      log.Close();
      return;
    }
    log.Line("Signature verification successful for Log transport");
  }
  log.Line("Going to execute the log transport");
  log.Line("LogTransport path is : ", L"\"" + transport + L"\"");

  // The file is started by the path the open handle resolves to, not by the path it was opened by.
  const std::optional<std::wstring> finalPath = FinalPathOf(held.get());
  if (!finalPath) {
    log.Line("The log transport's final path could not be read, error ", LogNumber{::GetLastError()},
             ". Returning");
    log.Close();
    return;
  }
  log.Line("Final path of the log transport: ", *finalPath);
  Start(log, held.get(), *finalPath, clientDirectory, StoragePaths::CrashLogFolder());
  Start(log, held.get(), *finalPath, clientDirectory, StoragePaths::DumpFolder());
  log.Close();
}

}  // namespace kx

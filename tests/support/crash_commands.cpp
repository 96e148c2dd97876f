#include "support/crash_commands.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "prefs/preference_store.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "handler/crash_pipe.h"

namespace kx::test {

ReportFiles::ReportFiles(const AppDataSandbox& sandbox, const std::string& crashIdentifier) {
  const std::wstring stem = PreferenceStore::getInstallationGuid() + L"_" +
                            std::wstring(crashIdentifier.begin(), crashIdentifier.end()) + L"_abc";
  const std::wstring reportStem = sandbox.storageRoot() + L"\\crashlogs\\kxWinLog_" + stem + L".xml";
  report = reportStem + L".solurl";
  attached = report + L".dmpattached";
  finalReport = reportStem + L".final";
  dump = sandbox.storageRoot() + L"\\dumps\\kxWinDump_" + stem + L".dmp";
  fullDump = dump + L".full";
}

void WriteSolutionServerConfig(const std::wstring& clientDirectory, std::uint16_t port) {
  std::filesystem::create_directories(clientDirectory);
  // The scheme, the path and the port of the URL are dropped; the port key decides.
  WriteFileBytes(clientDirectory + L"\\kx_win_client_config.cfg",
                 "kxcn-url = HTTPS://localhost:1/ignored\r\nkxcn-port = " + std::to_string(port) + "\r\n");
}

std::string RunPipeReadingCommand(const std::wstring& clientDirectory, const std::wstring& command,
                                  const std::string& crashIdentifier) {
  CrashPipe pipe(WideId(crashIdentifier));
  EXPECT_EQ("", pipe.createFailure());
  pipe.StartReading();
  const ServiceRun run =
      RunService({clientDirectory, command, std::wstring(crashIdentifier.begin(), crashIdentifier.end())});
  EXPECT_TRUE(run.finished) << "the service did not end";
  // The service has ended: a client that has not come by now never will.
  const CrashPipe::Outcome outcome = pipe.Finish(2000);
  if (!outcome.connected) return "<none>";
  EXPECT_EQ("", outcome.failure);
  return outcome.received;
}

}  // namespace kx::test

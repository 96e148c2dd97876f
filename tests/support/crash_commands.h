// Pieces shared by the end-to-end tests of the commands that follow createdump: where one crash's report
// files are, the client directory's configuration, and a run of a command whose pipe the test serves.
#pragma once

#include <cstdint>
#include <string>

#include "support/appdata_sandbox.h"

namespace kx::test {

// One crash's files by the names the commands look for (installation GUID + crash identifier), in every
// state a report passes through.
struct ReportFiles {
  ReportFiles(const AppDataSandbox& sandbox, const std::string& crashIdentifier);
  std::wstring report;          // crashlogs\kxWinLog_<guid>_<id>_abc.xml.solurl
  std::wstring attached;        // report + ".dmpattached"
  std::wstring finalReport;     // crashlogs\kxWinLog_<guid>_<id>_abc.xml.final
  std::wstring dump;            // dumps\kxWinDump_<guid>_<id>_abc.dmp
  std::wstring fullDump;        // dump + ".full"
};

// Writes the client configuration that points the solution exchange at a local server.
void WriteSolutionServerConfig(const std::wstring& clientDirectory, std::uint16_t port);

// Runs the service with `command` for the crash while serving the crash's pipe as a reader; returns what the
// service wrote into it, "<none>" when it did not even connect.
std::string RunPipeReadingCommand(const std::wstring& clientDirectory, const std::wstring& command,
                                  const std::string& crashIdentifier);

}  // namespace kx::test

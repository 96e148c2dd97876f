// Runs crashing_front_end (next to the test program) for one crash and collects what it leaves, and names
// the files the commands that follow createdump look for.
#pragma once

#include <optional>
#include <string>

#include "support/appdata_sandbox.h"
#include "support/crash_capture.h"
#include "support/service_harness.h"

namespace kx::test {

// One record of the crash data message, for the extra records a test appends.
std::string CrashRecord(const std::string& key, const std::string& value);

struct FrontEndRun {
  ServiceRun run;                       // the front end's own run; exit code 0 when all went well
  std::optional<CrashCapture> capture;  // nothing when it wrote none
};

// kind: access-violation, divide-by-zero or breakpoint. extraRecords: records appended to the message, ""
// for none.
FrontEndRun RunCrashingFrontEnd(const std::string& crashIdentifier, const std::string& kind,
                                const std::string& extraRecords);

// One crash's files by the names the commands look for (installation GUID + crash identifier), in every
// state a report passes through.
struct ReportFiles {
  ReportFiles(const AppDataSandbox& sandbox, const std::string& crashIdentifier);
  std::wstring report;       // crashlogs\kxWinLog_<guid>_<id>_abc.xml.solurl
  std::wstring attached;     // report + ".dmpattached"
  std::wstring finalReport;  // crashlogs\kxWinLog_<guid>_<id>_abc.xml.final
  std::wstring dump;         // dumps\kxWinDump_<guid>_<id>_abc.dmp
  std::wstring fullDump;     // dump + ".full"
};

}  // namespace kx::test

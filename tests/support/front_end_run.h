// Runs crashing_front_end (next to the test program) for one crash and collects what it leaves: its exit
// code and its capture of the crash.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "common/win_handles.h"
#include "support/crash_capture.h"
#include "support/service_harness.h"

namespace kx::test {

// One record of the crash data message, for the extra records a test appends.
std::string CrashRecord(const std::string& key, const std::string& value);

struct FrontEndRun {
  ServiceRun run;                       // the front end's own run; exit code 0 when all went well
  std::optional<CrashCapture> capture;  // nothing when it wrote none
};

// kind: access-violation, divide-by-zero, breakpoint or thread-exits. extraRecords: records appended to the
// message, "" for none (see CrashRecord). servicePath: the program the front end starts instead of the
// real service, "" for the real one.
FrontEndRun RunCrashingFrontEnd(const std::string& crashIdentifier, const std::string& kind,
                                const std::string& extraRecords, const std::wstring& servicePath = L"");

// A process that has ended, but whose id stays taken (no other process gets it) while this object holds
// its handle: a crashed process that is gone.
class EndedProcess {
 public:
  EndedProcess();
  DWORD id() const { return id_; }  // 0 when it could not be started

 private:
  UniqueHandle process_;
  DWORD id_ = 0;
};

}  // namespace kx::test

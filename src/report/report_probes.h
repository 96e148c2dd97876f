// The report's slow facts of the machine, the system facts and the GPU lines, read on a thread of their own
// from construction on, so that they are ready by the time the minidump is written. WMI gets a time limit in
// all: a service that is slow or stuck costs the report its GPU lines, never the dump or the report.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/win_handles.h"
#include "report/system_info.h"

namespace kx {

class ReportProbes {
 public:
  static constexpr DWORD kGpuLimitMs = 5000;

  // `gpuLimitMs` counts from construction: a gpuinfo line WMI delivers at or after its end is left out.
  explicit ReportProbes(DWORD gpuLimitMs = kGpuLimitMs);
  // Waits for the thread no longer than the GPU limit allows; one still in WMI then ends with the process.
  ~ReportProbes();
  ReportProbes(const ReportProbes&) = delete;
  ReportProbes& operator=(const ReportProbes&) = delete;

  // The system facts, with the crash data's application locale. Read here when the thread could not
  // deliver them within the GPU limit.
  SystemFacts SystemFactsFor(const std::string& applicationLocale);
  // The gpuinfo lines delivered within the limit; waits until the limit at most.
  std::wstring GpuLines();

  struct Shared;

 private:
  DWORD MillisecondsLeft() const;

  std::shared_ptr<Shared> shared_;
  ULONGLONG deadline_;
  UniqueHandle thread_;
};

}  // namespace kx

// Turns one crash into its two files: a minidump of the crashed process in the dump folder, and the XML crash
// report in the crash log folder. The crashed process and its crashing thread must still be alive: the front
// end keeps them waiting until this run ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/diagnostic_log.h"
#include "common/win_handles.h"
#include "intake/crash_data.h"
#include "report/report_probes.h"

namespace kx {

class KXLogGenerator {
 public:
  // Results of GenerateCrashLog. Only the log tells them apart; no caller acts on them.
  static constexpr std::int32_t kReportWritten = 0;  // also when the dump or the report file failed
  static constexpr std::int32_t kProcessNotActive = 3;
  static constexpr std::int32_t kThreadNotActive = 4;
  static constexpr std::int32_t kNoCrashLogFolder = 5;
  static constexpr std::int32_t kNoDumpFolder = 6;
  static constexpr std::int32_t kUnusableFileName = 7;  // LogFileName or DumpFileName not a plain name
  static constexpr std::int32_t kUndecodableContext = 12;

  // Results of CreateDumpLog.
  static constexpr std::int32_t kDumpWritten = 0;
  static constexpr std::int32_t kDumpProcessNotOpened = 1;
  static constexpr std::int32_t kDumpFileNotCreated = 2;
  static constexpr std::int32_t kDumpWriteFailed = 13;
  static constexpr std::int32_t kDumpNotKept = 14;  // the crash-loop guard's: modules listed, no dump

  KXLogGenerator() noexcept : log_(LogComponent::KXLogGenerator) {}

  // Writes the minidump and the report for the crash, the report with the facts `probes` gathered meanwhile.
  // Logs to "KXLogGeneratorlog.txt" when logging is on.
  std::int32_t GenerateCrashLog(CrashData crashData, ReportProbes& probes);

  // Writes the minidump of the process (replacing a file of that name), collecting one binaryImage line per
  // module into `collector`. Dump preference 1 asks for a full dump, anything else for the normal one.
  // `exceptionPointers` (may be null) point into this process, not into the crashed one. Without `keep` no
  // dump is written: the modules are listed from the process itself.
  std::int32_t CreateDumpLog(std::uint32_t processId, std::uint32_t threadId, const std::wstring& dumpPath,
                             EXCEPTION_POINTERS* exceptionPointers, int dumpPreference,
                             std::wstring& collector, bool keep = true);

 private:
  struct CrashContext;

  std::int32_t GenerateCrashLogSteps(CrashData& crashData, ReportProbes& probes);
  // 0 when the crashed process and thread are alive and open; otherwise the result code to return.
  std::int32_t OpenCrashedProcessAndThread(const CrashData& crashData, UniqueHandle& process,
                                           UniqueHandle& thread);
  bool DecodeCrashContext(const CrashData& crashData, CrashContext& crash);
  // The whole report; writes the minidump on the way, while the probes finish their work. Takes the texts
  // in the document's code page, and empties the stack text once it is in the document.
  std::string AssembleDocument(CrashData& crashData, CrashContext& crash, int dumpPreference,
                               const std::wstring& dumpPath, const std::string& applicationParts,
                               ReportProbes& probes);
  // False when the document could not be written; no cut document is left behind.
  bool WriteReport(const std::wstring& reportPath, std::string document);

  ComponentLog log_;
};

// The dump preference of a product build: the first "_"-separated field of its registry preference text, as
// a number; 0 when the build has none yet (its default text is then stored) or the field is not a number.
int FetchDumpPreference(const std::string& pvbKey);

}  // namespace kx

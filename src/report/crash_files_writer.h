// The writer behind "createdump": turns one crash into its two files, a minidump of the crashed process in the
// dump folder and the XML crash report in the crash log folder. The crashed process and its crashing thread
// must still be alive: the front end keeps them waiting until this run ends.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "common/diagnostic_log.h"
#include "common/win_handles.h"
#include "intake/crash_data.h"
#include "report/report_probes.h"

namespace kx {

// Where a createdump run stopped. Only the log tells them apart; the service acts on none of them.
enum class CrashFilesResult {
  kWritten,  // both written, or the run went as far as it could (a failed dump or report file is logged)
  kProcessNotActive,
  kThreadNotActive,
  kNoCrashLogFolder,
  kNoDumpFolder,
  kUnusableFileName,  // LogFileName or DumpFileName not a plain name, or too long for the names to come
  kUndecodableContext,
};

enum class DumpResult {
  kWritten,
  kProcessNotOpened,
  kFileNotCreated,
  kWriteFailed,
  kNotKept,  // the crash-loop guard's: modules listed, no dump
};

class CrashFilesWriter {
 public:
  CrashFilesWriter() noexcept : log_(LogComponent::KXLogGenerator) {}

  // Writes the minidump and the report for the crash, the report with the facts `probes` gathered meanwhile.
  // Logs to "KXLogGeneratorlog.txt" when logging is on.
  CrashFilesResult Write(CrashData crashData, ReportProbes& probes);

  // Writes the minidump of the process (replacing a file of that name), collecting one binaryImage line per
  // module into `collector`. Dump preference 1 asks for a full dump, anything else for the normal one.
  // `exceptionPointers` (may be null) point into this process, not into the crashed one. Without `keep` no
  // dump is written: the modules are listed from the process itself.
  DumpResult WriteDump(std::uint32_t processId, std::uint32_t threadId, const std::wstring& dumpPath,
                       EXCEPTION_POINTERS* exceptionPointers, int dumpPreference, std::wstring& collector,
                       bool keep = true);

 private:
  struct CrashContext;

  CrashFilesResult WriteSteps(CrashData& crashData, ReportProbes& probes);
  // kWritten when the crashed process and thread are alive and open; otherwise where the run stops.
  CrashFilesResult OpenCrashedProcessAndThread(const CrashData& crashData, UniqueHandle& process,
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

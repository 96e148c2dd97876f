// What the handler does with each report of its process, on a healthy thread: the crash data message and
// "createdump", the run history's verdict, then the report's plan (frontend/report_plan.h) handed to
// KXCrashReporter.exe, or carried out here when the application answers for itself or no reporter starts.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frontend/report_plan.h"
#include "frontend/reporter_ticket.h"
#include "frontend/service_commands.h"
#include "handler/cpp_exception.h"
#include "kx/crash_handler.h"

namespace kx {

// A crash as the crashed thread saw it. The thread must stay alive (and still) while "createdump" runs: the
// service reads its stack and checks that it exists.
struct CapturedCrash {
  CONTEXT context;
  EXCEPTION_RECORD record;
  DWORD processId = 0;
  DWORD threadId = 0;
  std::uintptr_t stackLow = 0;  // the crashed thread's stack, for the stack text; empty range: no stack text
  std::uintptr_t stackHigh = 0;
  const char* kind = "";  // the SignalType record; static text, so that capturing allocates nothing
  CppExceptionText cpp;   // the uncaught C++ exception's type and text; empty for other crashes
  std::string reason;     // for a report made without a crash (kind "captured"): its reason
};

// The kind word of an exception code: "access-violation", "stack-overflow", "cpp-exception", ... Static
// text: the crashed thread uses it, and must not allocate.
const char* CrashKindOf(std::uint32_t exceptionCode);

class ReportFlow {
 public:
  // Fills in the defaults of the options and reads (or creates) the installation GUID.
  explicit ReportFlow(CrashHandlerOptions options);

  const CrashHandlerOptions& options() const { return options_; }
  const std::wstring& installationGuid() const { return guid_; }
  const ServiceCommands& service() const { return service_; }

  // The application's run history file (run_history_file.h), and this process's run in it. Empty: no
  // guard, no throttle.
  void UseRunHistory(const std::wstring& path, std::int64_t runStarted);

  // Offers again what earlier hand-overs left stranded, or removes it past the age limit (report_sweep.h).
  void SweepStranded() const;

  // The whole flow for one crash; the summary tells what happened.
  CrashSummary Report(const CapturedCrash& crash);

  // The flow in two parts, for reports of a running thread, which may go on once the dump is written.
  struct Dumped {
    CrashSummary summary;
    bool goOn = false;  // "createdump" ended: the later steps follow
  };
  // Up to the end of "createdump"; the crash's thread must stay still until it returns.
  Dumped CreateDump(const CapturedCrash& crash);
  // The report's plan: handed over to the reporter, or run here. Uses nothing of the crash itself.
  void Finish(const Dumped& dumped);

  // The crash data message for "createdump", without its terminating NUL; the guard's and the throttle's
  // records only when `verdict` has something to say.
  std::string CrashDataMessage(const CapturedCrash& crash, const std::wstring& crashIdentifier,
                               const CrashSummary& verdict = CrashSummary()) const;

 private:
  void Say(const std::string& line) const;
  // The crash's signature, and the guard's and the throttle's verdict on it from the run history.
  void Judge(const CapturedCrash& crash, CrashSummary& summary);
  ReporterTicket TicketOf(const CrashSummary& summary) const;
  struct HandOverResult {
    bool started = false;  // the reporter runs on the ticket, which is its own from now on
    std::string failure;   // why not, for the progress line
  };
  // Writes the ticket into the reporter folder and starts the reporter on it.
  HandOverResult HandOver(const ReporterTicket& ticket) const;
  Answer AskApplication(const CrashSummary& summary) const;

  CrashHandlerOptions options_;
  ServiceCommands service_;
  std::wstring guid_;
  std::vector<std::string> attachments_;  // full paths, UTF-8, at most kMaxAttachments
  unsigned reports_ = 0;                  // reports made by this process so far
  std::wstring runHistory_;
  std::int64_t runStarted_ = 0;
};

}  // namespace kx

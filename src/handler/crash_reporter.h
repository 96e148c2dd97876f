// What the handler does after a crash, step by step, on a healthy thread: the crash data message and
// "createdump", then the hand-over to KXCrashReporter.exe or the later commands and the analytics event.
// Also the building blocks of those steps, for programs that capture a crash themselves (the reporter).
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "handler/child_process.h"
#include "handler/cpp_exception.h"
#include "handler/crash_handler.h"
#include "handler/crash_pipe.h"

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

class CrashReporter {
 public:
  // Fills in the defaults of the options and reads (or creates) the installation GUID.
  explicit CrashReporter(CrashHandlerOptions options);

  const CrashHandlerOptions& options() const { return options_; }
  const std::wstring& installationGuid() const { return guid_; }

  // The application's run history file (run_history_file.h), and this process's run in it when it has one
  // (0: the reporter's process, which only counts the reports it sends). Empty: no guard, no throttle.
  void UseRunHistory(const std::wstring& path, std::int64_t runStarted);
  const std::wstring& runHistory() const { return runHistory_; }

  // The whole flow for one crash; the summary tells what happened.
  CrashSummary Report(const CapturedCrash& crash);

  // The flow in two parts, for reports of a running thread, which may go on once the dump is written.
  struct Progress {
    CrashSummary summary;
    bool goOn = false;  // "createdump" ended: the later steps follow
  };
  // Up to the end of "createdump"; the crash's thread must stay still until it returns.
  Progress CreateDump(const CapturedCrash& crash);
  // The steps after "createdump": handed to KXCrashReporter.exe, or run here ("solutionurl", the policy,
  // "opensolutionurl" and the event) when the application decides itself or the reporter cannot start.
  // Uses nothing of the crash itself.
  void Finish(Progress& progress);

  // The steps after "createdump", in this order, whoever runs them: the reporter, or the handler itself.
  // "solutionurl": fills in the summary's link and returns it as the service gave it (ANSI), or empty.
  std::string SolutionStep(CrashSummary& summary) const;
  // "sendlog" (with the signature check when the options ask for it) or "dontsend".
  void FinishStep(const CrashSummary& summary, bool send) const;
  // "opensolutionurl" with the link "solutionurl" gave; nothing when it gave none.
  void OpenSolutionStep(const CrashSummary& summary, const std::string& link) const;
  // The analytics event (kxcrash_<id>.log in the ingest folder) and a detached "postingestevent"; none for a
  // captured report, whose application runs on.
  void QueueEvent(const CrashSummary& summary, bool sent) const;

  // The crash data message for "createdump", without its terminating NUL; the guard's and the throttle's
  // records only when `verdict` has something to say.
  std::string CrashDataMessage(const CapturedCrash& crash, const std::wstring& crashIdentifier,
                               const CrashSummary& verdict = CrashSummary()) const;

  struct PipedRun {
    ChildRun service;
    CrashPipe::Outcome pipe;
  };
  // Serves the crash's pipe with `bytes` (the caller adds the NUL) while the service runs `command`.
  PipedRun RunWritingPipe(const std::wstring& command, const std::wstring& crashIdentifier,
                          const std::string& bytes, DWORD limitMs) const;
  // Serves the crash's pipe as a reader while the service runs `command`.
  PipedRun RunReadingPipe(const std::wstring& command, const std::wstring& crashIdentifier,
                          DWORD limitMs) const;
  // The service with its client directory, the command and the crash identifier, and any further words.
  ChildRun RunCommand(const std::wstring& command, const std::wstring& crashIdentifier,
                      const std::vector<std::wstring>& more, DWORD limitMs) const;
  DWORD StartCommand(const std::wstring& command, const std::wstring& crashIdentifier,
                     const std::vector<std::wstring>& more) const;

 private:
  // Serves the pipe, writing `bytes` (reading when null), while the service runs `command`.
  PipedRun RunWithPipe(const std::wstring& command, const std::wstring& crashIdentifier,
                       const std::string* bytes, DWORD limitMs) const;
  void Say(const std::string& line) const;
  bool Decide(const CrashSummary& summary) const;
  // Writes the ticket into the reporter folder and starts the reporter on it; why not, empty when started.
  std::string HandOver(const CrashSummary& summary) const;
  void FinishHere(Progress& progress);
  // The crash's signature, and the guard's and the throttle's verdict on it from the run history.
  void Judge(const CapturedCrash& crash, CrashSummary& summary);

  CrashHandlerOptions options_;
  std::wstring guid_;
  std::vector<std::string> attachments_;  // full paths, UTF-8, at most kMaxAttachments
  unsigned reports_ = 0;                  // reports made by this process so far
  std::wstring runHistory_;
  std::int64_t runStarted_ = 0;
};

}  // namespace kx

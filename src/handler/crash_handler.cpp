// The crashed thread does as little as it can: it copies the crash into memory set aside at install time,
// wakes the handler's thread and waits for it. Everything else (process starts, pipes, files) happens on
// that thread, which was started at install time and has a whole stack of its own, so a thread that
// crashed with no stack left is still reported. When the handler is done, or when its time is up, the
// crashed thread ends the process with the crash's exception code.
#include "kx/crash_handler.h"

#include <signal.h>
#include <stdlib.h>
#include <tlhelp32.h>

#include <cstring>
#include <exception>
#include <memory>

#if !defined(_MSC_VER)
#include <cxxabi.h>
#endif

#include "common/win_handles.h"
#include "frontend/run_history_file.h"
#include "handler/annotation_store.h"
#include "handler/cpp_exception.h"
#include "handler/fault_site.h"
#include "handler/hang_watchdog.h"
#include "handler/report_flow.h"
#include "handler/stack_guard.h"

#if defined(_MSC_VER)
// The MSVC runtime's throw: raises 0xE06D7363 on behalf of the throw site.
extern "C" __declspec(noreturn) void __stdcall _CxxThrowException(void*, void*);
#endif

namespace kx {
namespace {

// How often the handler's thread checks whether it is the last one, once the installing thread has gone.
constexpr DWORD kLastThreadCheckMs = 1000;
// On top of the commands' own limits, for the handler's work between them.
constexpr DWORD kHandlerMarginMs = 30000;

// A captured report's request, from CaptureReport to the handler's thread.
enum CaptureStage : LONG { kNoCapture = 0, kCaptureAsked = 1, kCaptureTaken = 2 };

// Everything the handler's thread and a crashed thread use. Install owns it until Install can no longer fail;
// from then on it is the process's, kept to the very end: a crashed thread may use it until the process ends.
struct HandlerState {
  explicit HandlerState(const CrashHandlerOptions& options) : reporter(options) {}

  ReportFlow reporter;
  UniqueHandle crashed;     // set by the crashed thread
  UniqueHandle crashTaken;  // set by the handler's thread when it turns to the crash
  UniqueHandle handled;     // set by the handler's thread when it is done
  UniqueHandle handlerThread;
  DWORD handlerThreadId = 0;
  UniqueHandle installingThread;  // empty when it could not be duplicated
  DWORD limitMs = 0;          // how long the crashed thread waits for the handler
  volatile LONG claimed = 0;  // the first crash claims the handler; later ones wait with it
  CapturedCrash crash;        // written by the crashed thread before `crashed` is set
  // Captured reports, one at a time: the capturing thread holds `captureLock` from its request to the end of
  // "createdump"; `capture` is written before the request and read by the handler's thread until then.
  SRWLOCK captureLock = SRWLOCK_INIT;
  UniqueHandle captureAsked;   // auto-reset
  UniqueHandle captureDumped;  // auto-reset
  UniqueHandle captureDone;    // manual: set when no captured report's steps are running
  volatile LONG captureStage = kNoCapture;
  bool captureWritten = false;
  CapturedCrash capture;
  // The run history, and this run in it.
  std::wstring runHistory;
  std::int64_t runStarted = 0;
  PreviousRunFigures previousRuns;
  WatchdogSettings watchdog;
  bool endOnHang = false;
  bool watching = false;  // the watchdog's thread runs
};

HandlerState* g_state = nullptr;
volatile LONG g_installed = 0;

[[noreturn]] void EndProcess(DWORD code) {
  ::TerminateProcess(::GetCurrentProcess(), code);
  for (;;)
    ::Sleep(INFINITE);  // TerminateProcess of the own process does not return; the compiler may not know
}

// Until the handler's thread has handled the crash, or its time is up, or the thread is gone (ended by
// process shutdown, for instance). It may first have to end an earlier captured report's steps, within the
// same limit.
void WaitForHandling(const HandlerState& state) {
  const HANDLE taken[] = {state.crashTaken.get(), state.handlerThread.get()};
  if (::WaitForMultipleObjects(2, taken, FALSE, state.limitMs) != WAIT_OBJECT_0) return;
  const HANDLE done[] = {state.handled.get(), state.handlerThread.get()};
  ::WaitForMultipleObjects(2, done, FALSE, state.limitMs);
}

[[noreturn]] void HandleCrash(const CONTEXT& context, const EXCEPTION_RECORD& record, const char* kind,
                              const CppExceptionText* cpp) {
  HandlerState* state = g_state;
  const DWORD code = record.ExceptionCode;
  // The handler itself crashed, or there is none: nothing more can be done safely.
  if (state == nullptr || ::GetCurrentThreadId() == state->handlerThreadId) EndProcess(code);
  if (::InterlockedCompareExchange(&state->claimed, 1, 0) != 0) {
    // Another thread's crash is being handled: this thread stays where it is until the process ends.
    WaitForHandling(*state);
    EndProcess(state->crash.record.ExceptionCode);
  }
  FreezeAnnotations();
  CapturedCrash& crash = state->crash;
  std::memcpy(&crash.context, &context, sizeof(CONTEXT));
  std::memcpy(&crash.record, &record, sizeof(EXCEPTION_RECORD));
  crash.threadId = ::GetCurrentThreadId();
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  crash.stackLow = low;
  crash.stackHigh = high;
  crash.kind = kind;
  if (cpp != nullptr) crash.cpp = *cpp;
  ::SetEvent(state->crashed.get());
  WaitForHandling(*state);
  EndProcess(code);
}

// The runtime functions an application calls to end itself; the frame that called one is the fault site.
const std::uintptr_t* EntryFunctions(std::size_t& count) {
  static const std::uintptr_t entries[] = {
      reinterpret_cast<std::uintptr_t>(&std::terminate),
      reinterpret_cast<std::uintptr_t>(&::abort),
      reinterpret_cast<std::uintptr_t>(&::raise),
      reinterpret_cast<std::uintptr_t>(&::RaiseException),
#if defined(_MSC_VER)
      reinterpret_cast<std::uintptr_t>(&_CxxThrowException),
      reinterpret_cast<std::uintptr_t>(&_invalid_parameter_noinfo),
      reinterpret_cast<std::uintptr_t>(&_invalid_parameter_noinfo_noreturn),
#else
      reinterpret_cast<std::uintptr_t>(&abi::__cxa_throw),
      reinterpret_cast<std::uintptr_t>(&abi::__cxa_rethrow),
      reinterpret_cast<std::uintptr_t>(&abi::__cxa_pure_virtual),
      reinterpret_cast<std::uintptr_t>(static_cast<void (*)(std::exception_ptr)>(&std::rethrow_exception)),
#endif
  };
  count = sizeof(entries) / sizeof(entries[0]);
  return entries;
}

FaultFunctions FaultFunctionsOfThisHandler();

// The application's frame, when the crash came through the runtime: the handler's and the runtime's frames
// say nothing about where the application failed.
void MoveToApplicationFrame(CONTEXT& context, bool calledByRuntime) {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  MoveToFaultSite(context, low, high, calledByRuntime, FaultFunctionsOfThisHandler());
}

// For the crashes that raise no exception: the record is made up, the context is the application's frame
// that called into the runtime.
[[noreturn]] void HandleRaiselessCrash(DWORD code, const char* kind, const CppExceptionText* cpp = nullptr) {
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  MoveToApplicationFrame(context, true);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  HandleCrash(context, record, kind, cpp);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  CppExceptionText cpp;
  if (!DescribeThrownException(*pointers->ExceptionRecord, cpp)) {
    HandleCrash(*pointers->ContextRecord, *pointers->ExceptionRecord,
                CrashKindOf(pointers->ExceptionRecord->ExceptionCode), nullptr);
  }
  // Raised by the runtime's throw: the report starts at the throw site.
  alignas(16) CONTEXT context = *pointers->ContextRecord;
  EXCEPTION_RECORD record = *pointers->ExceptionRecord;
  MoveToApplicationFrame(context, false);
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  HandleCrash(context, record, CrashKindOf(record.ExceptionCode), &cpp);
}

void OnAbort(int) { HandleRaiselessCrash(kAbortCode, "abort"); }

void OnTerminate() {
  CppExceptionText cpp;
  DescribeCurrentException(cpp);
  const bool thrown = std::current_exception() != nullptr;
  HandleRaiselessCrash(kTerminateCode, thrown ? "cpp-exception" : "terminate", thrown ? &cpp : nullptr);
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {
  HandleRaiselessCrash(kInvalidParameterCode, "invalid-parameter");
}

void OnPureCall() { HandleRaiselessCrash(kPureCallCode, "pure-call"); }

FaultFunctions FaultFunctionsOfThisHandler() {
  static const std::uintptr_t handler[] = {
      reinterpret_cast<std::uintptr_t>(&HandleRaiselessCrash),
      reinterpret_cast<std::uintptr_t>(&MoveToApplicationFrame),
      reinterpret_cast<std::uintptr_t>(&OnAbort),
      reinterpret_cast<std::uintptr_t>(&OnTerminate),
      reinterpret_cast<std::uintptr_t>(&OnInvalidParameter),
      reinterpret_cast<std::uintptr_t>(&OnPureCall),
      reinterpret_cast<std::uintptr_t>(&CrashHandler::CaptureReport),
  };
  FaultFunctions functions;
  functions.handler = handler;
  functions.handlerCount = sizeof(handler) / sizeof(handler[0]);
  functions.entries = EntryFunctions(functions.entryCount);
  return functions;
}

bool IsLastThread() {
  const UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot) return false;
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  int threads = 0;
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == ::GetCurrentProcessId()) ++threads;
  }
  // The watchdog's thread, when there is one, keeps no application alive either.
  return threads == (g_state != nullptr && g_state->watching ? 2 : 1);
}

enum class Work { kCrash, kCapture };

// Waits for a crash or a captured report's request; a crash comes first. Should every other thread end
// without a crash (ended by ExitThread, or under Wine by a stack overflow it could not raise), this thread
// alone would keep a dead application alive: it ends the process instead, as the system does when the last
// thread ends. A process whose main thread returns ends at once; only an installing thread gone before its
// process makes the check worth its cost.
Work WaitForWork(HandlerState& state, bool& installerGone) {
  for (;;) {
    const HANDLE waits[] = {state.crashed.get(), state.captureAsked.get(), state.installingThread.get()};
    const DWORD count = state.installingThread && !installerGone ? 3 : 2;
    const DWORD result =
        ::WaitForMultipleObjects(count, waits, FALSE, installerGone ? kLastThreadCheckMs : INFINITE);
    if (result == WAIT_OBJECT_0) return Work::kCrash;
    if (result == WAIT_OBJECT_0 + 1) return Work::kCapture;
    if (result == WAIT_OBJECT_0 + 2) {
      installerGone = true;
    } else if (result == WAIT_TIMEOUT && IsLastThread()) {
      DWORD code = 0;
      ::GetExitCodeThread(state.installingThread.get(), &code);
      EndProcess(code);
    } else if (result == WAIT_FAILED) {
      ::Sleep(kLastThreadCheckMs);
    }
  }
}

// A captured report: the capturing thread goes on once "createdump" has ended; the later steps follow here,
// and a crash meanwhile waits for them.
void RunCapture(HandlerState& state) {
  if (::InterlockedCompareExchange(&state.captureStage, kCaptureTaken, kCaptureAsked) != kCaptureAsked)
    return;
  ReportFlow::Dumped dumped;
  try {
    dumped = state.reporter.CreateDump(state.capture);
  } catch (...) {
    dumped = ReportFlow::Dumped();
  }
  state.captureWritten = dumped.summary.reportWritten;
  ::InterlockedExchange(&state.captureStage, kNoCapture);
  ::SetEvent(state.captureDumped.get());
  try {
    if (dumped.goOn) state.reporter.Finish(dumped);
  } catch (...) {
    // The application runs on; the report's files stay for a later transport run or for nobody.
  }
  ::SetEvent(state.captureDone.get());
}

// A report of the running process, of `threadId` with `context` (the thread must stay alive until
// "createdump" has ended): handed to the handler's thread, waited for until its dump is written. One at a
// time; the handler may first have to end an earlier report's steps, within its limit.
bool RequestCapture(HandlerState& state, const CONTEXT& context, DWORD threadId, std::uintptr_t low,
                    std::uintptr_t high, DWORD code, const char* kind, const std::string& reason) {
  ::AcquireSRWLockExclusive(&state.captureLock);
  CapturedCrash& capture = state.capture;
  std::memcpy(&capture.context, &context, sizeof(CONTEXT));
  capture.record = EXCEPTION_RECORD{};
  capture.record.ExceptionCode = code;
  capture.record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  capture.processId = ::GetCurrentProcessId();
  capture.threadId = threadId;
  capture.stackLow = low;
  capture.stackHigh = high;
  capture.kind = kind;
  capture.reason = reason.substr(0, kMaxCaptureReasonBytes);
  state.captureWritten = false;
  ::ResetEvent(state.captureDumped.get());
  ::ResetEvent(state.captureDone.get());
  ::InterlockedExchange(&state.captureStage, kCaptureAsked);
  ::SetEvent(state.captureAsked.get());
  // A request the handler has not taken within its limit is withdrawn. Once taken, "createdump" ends within
  // its own limit.
  const HANDLE waits[] = {state.captureDumped.get(), state.handlerThread.get()};
  bool written = false;
  if (::WaitForMultipleObjects(2, waits, FALSE, state.limitMs) == WAIT_OBJECT_0) {
    written = state.captureWritten;
  } else if (::InterlockedCompareExchange(&state.captureStage, kNoCapture, kCaptureAsked) == kCaptureAsked) {
    ::SetEvent(state.captureDone.get());  // withdrawn: no steps will run
  } else if (::WaitForMultipleObjects(2, waits, FALSE, state.limitMs) == WAIT_OBJECT_0) {
    written = state.captureWritten;
  }
  ::ResetEvent(state.captureAsked.get());
  ::ReleaseSRWLockExclusive(&state.captureLock);
  return written;
}

// On the watchdog's thread, with the hung thread's registers.
void ReportHang(const CONTEXT& context, const WatchedThread& thread) {
  HandlerState* state = g_state;
  if (state == nullptr || state->claimed != 0) return;
  const bool written =
      RequestCapture(*state, context, thread.id, thread.stackLow, thread.stackHigh, kHangCode, "hang", "");
  if (!state->endOnHang || !written) return;
  // The report's steps first, within the handler's limit; a crash meanwhile ends the process itself.
  const HANDLE waits[] = {state->captureDone.get(), state->handlerThread.get()};
  ::WaitForMultipleObjects(2, waits, FALSE, state->limitMs);
  EndProcess(kHangCode);
}

// The process ends through exit(): its run ended well.
void RecordRunEnded() {
  const HandlerState* state = g_state;
  if (state == nullptr || state->claimed != 0) return;
  UpdateRunHistory(state->runHistory, [state](RunHistory& history) {
    EndRun(history, state->runStarted, ::GetCurrentProcessId(), RunEnd::kEnded);
  });
}

// The process ends through exit() while a captured or hang report is on its way: its hand-over is finished
// first, within the handler's limit, or its files would stay with no ticket to carry them. Registered after
// RecordRunEnded, so it runs first.
void FinishReportInFlight() {
  const HandlerState* state = g_state;
  if (state == nullptr || state->claimed != 0) return;
  const HANDLE inFlight[] = {state->captureDone.get(), state->handlerThread.get()};
  ::WaitForMultipleObjects(2, inFlight, FALSE, state->limitMs);
}

// Reads the earlier runs' figures and records this run as started.
void StartThisRun(HandlerState& state) {
  state.runHistory = RunHistoryPathOfThisProgram();
  state.runStarted = RunHistoryNow();
  RunFigures figures;
  const bool recorded = UpdateRunHistory(state.runHistory, [&](RunHistory& history) {
    figures = FiguresOf(history);
    StartRun(history, state.runStarted, ::GetCurrentProcessId());
  });
  state.previousRuns.runs = figures.runs;
  state.previousRuns.crashed = figures.crashed;
  state.previousRuns.unknown = figures.unknown;
  state.previousRuns.sameCrashInARow = figures.sameCrashInARow;
  state.previousRuns.lastSignature = figures.lastSignature;
  if (!recorded) return;
  state.reporter.UseRunHistory(state.runHistory, state.runStarted);
  std::atexit(RecordRunEnded);
}

// Watches the window's thread, or else the installing one.
bool StartHangWatchdog(HandlerState& state, const CrashHandlerOptions& options) {
  WatchdogSettings& watchdog = state.watchdog;
  watchdog.limitMs = options.hangLimitMs;
  watchdog.window = options.hangWindow;
  watchdog.report = ReportHang;
  const DWORD threadId = options.hangWindow != nullptr ? ::GetWindowThreadProcessId(options.hangWindow, nullptr)
                                                        : ::GetCurrentThreadId();
  state.endOnHang = options.endOnHang;
  return threadId != 0 && OpenWatchedThread(threadId, watchdog.thread) && StartWatchdog(&watchdog);
}

DWORD WINAPI HandlerThread(void* parameter) {
  HandlerState& state = *static_cast<HandlerState*>(parameter);
  try {
    state.reporter.SweepStranded();
  } catch (...) {
    // Out of memory: the next start sweeps again.
  }
  bool installerGone = false;
  while (WaitForWork(state, installerGone) == Work::kCapture) RunCapture(state);
  ::SetEvent(state.crashTaken.get());
  try {
    state.reporter.Report(state.crash);
  } catch (...) {
    // Out of memory or worse: the crashed thread ends the process all the same.
  }
  ::SetEvent(state.handled.get());
  return 0;
}

UniqueHandle NewEvent(bool manualReset, bool set) {
  return UniqueHandle(::CreateEventW(nullptr, manualReset, set, nullptr));
}

// The thread that calls Install, for the handler's thread to wait on; empty when it cannot be had.
UniqueHandle InstallingThread() {
  UniqueHandle thread;
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), thread.put(),
                         SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0)) {
    thread.reset();
  }
  return thread;
}

}  // namespace

bool CrashHandler::Install(const CrashHandlerOptions& options) {
  if (::InterlockedCompareExchange(&g_installed, 1, 0) != 0) return false;
  // Owned here, so that an Install that fails leaves nothing behind.
  auto state = std::make_unique<HandlerState>(options);
  state->crash.processId = ::GetCurrentProcessId();
  const CrashHandlerOptions& resolved = state->reporter.options();
  // Added up wide: limits near INFINITE must not wrap into a short wait, nor make the wait endless.
  const unsigned long long limit =
      0ULL + resolved.createDumpLimitMs + 3ULL * resolved.commandLimitMs + kHandlerMarginMs;
  state->limitMs = static_cast<DWORD>(limit < INFINITE ? limit : INFINITE - 1);
  state->crashed = NewEvent(true, false);
  state->crashTaken = NewEvent(true, false);
  state->handled = NewEvent(true, false);
  state->captureAsked = NewEvent(false, false);
  state->captureDumped = NewEvent(false, false);
  state->captureDone = NewEvent(true, true);
  if (!state->crashed || !state->crashTaken || !state->handled || !state->captureAsked || !state->captureDumped ||
      !state->captureDone) {
    return false;
  }
  state->installingThread = InstallingThread();
  state->handlerThread.reset(::CreateThread(nullptr, 0, HandlerThread, state.get(), 0, &state->handlerThreadId));
  if (!state->handlerThread) return false;
  // The thread runs on the state from now on: it is the process's. Install can no longer fail, so only now is
  // this run recorded (a failed Install would be counted as a run that ended unknown at the next start), and
  // before the state is published, since no crash or capture can reach the thread until it is.
  HandlerState* const installed = state.release();
  StartThisRun(*installed);
  std::atexit(FinishReportInFlight);
  g_state = installed;

  GuardThreadStack();
  GuardNewThreads();
  ::SetUnhandledExceptionFilter(OnUnhandledException);
  ::signal(SIGABRT, OnAbort);
  std::set_terminate(OnTerminate);
  _set_invalid_parameter_handler(OnInvalidParameter);
  _set_purecall_handler(OnPureCall);
#if defined(_MSC_VER)
  // No Windows Error Reporting dialog or message from abort(): the handler reports the crash.
  _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#endif

  if (resolved.hangLimitMs > 0) {
    g_state->watching = StartHangWatchdog(*g_state, resolved);
    if (!g_state->watching && resolved.progress) {
      try {
        resolved.progress("hang watchdog: could not be started; hangs are not reported");
      } catch (...) {
        // The application's logging must not stop the installation.
      }
    }
  }
  if (resolved.updatePreferencesAtInstall) {
    std::vector<std::wstring> more;
    if (resolved.checkTransportSignature) more.push_back(L"1");
    // No crash yet: the crash identifier word is only a placeholder.
    g_state->reporter.service().Start(L"updatepvbpreference", L"-", more);
  }
  return true;
}

bool CrashHandler::SetAnnotation(const std::string& key, const std::string& value) {
  return StoreAnnotation(key, value);
}

bool CrashHandler::RemoveAnnotation(const std::string& key) { return DropAnnotation(key); }

bool CrashHandler::CaptureReport(const std::string& reason) {
  HandlerState* state = g_state;
  // From the handler's own callbacks the request would wait for itself.
  if (state == nullptr || ::GetCurrentThreadId() == state->handlerThreadId || state->claimed != 0)
    return false;
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  // The report starts at the caller's frame, not in this function.
  MoveToFaultSite(context, low, high, false, FaultFunctionsOfThisHandler());

  return RequestCapture(*state, context, ::GetCurrentThreadId(), low, high, kCaptureCode, "captured", reason);
}

void CrashHandler::Heartbeat() {
  if (g_state != nullptr) Beat();
}

PreviousRunFigures CrashHandler::PreviousRuns() {
  return g_state != nullptr ? g_state->previousRuns : PreviousRunFigures();
}

}  // namespace kx

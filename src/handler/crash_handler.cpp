// The crashed thread does as little as it can: it copies the crash into memory set aside at install time,
// wakes the handler's thread and waits for it. Everything else (process starts, pipes, files) happens on
// that thread, which was started at install time and has a whole stack of its own, so a thread that
// crashed with no stack left is still reported. When the handler is done, or when its time is up, the
// crashed thread ends the process with the crash's exception code.
#include "handler/crash_handler.h"

#include <signal.h>
#include <stdlib.h>

#include <cstring>
#include <exception>
#include <memory>

#include "common/win_handles.h"
#include "handler/crash_reporter.h"

namespace kx {
namespace {

// Room the crashed thread keeps for the filter after a stack overflow.
constexpr ULONG kStackGuaranteeBytes = 64 * 1024;
// On top of the commands' own limits, for the handler's work between them.
constexpr DWORD kHandlerMarginMs = 30000;

struct HandlerState {
  CrashReporter* reporter = nullptr;  // lives as long as the process
  HANDLE crashed = nullptr;           // set by the crashed thread
  HANDLE handled = nullptr;           // set by the handler's thread when it is done
  HANDLE handlerThread = nullptr;
  DWORD handlerThreadId = 0;
  DWORD limitMs = 0;          // how long the crashed thread waits for the handler
  volatile LONG claimed = 0;  // the first crash claims the handler; later ones wait with it
  CapturedCrash crash;        // written by the crashed thread before `crashed` is set
};

HandlerState* g_state = nullptr;
volatile LONG g_installed = 0;

[[noreturn]] void EndProcess(DWORD code) {
  ::TerminateProcess(::GetCurrentProcess(), code);
  for (;;)
    ::Sleep(INFINITE);  // TerminateProcess of the own process does not return; the compiler may not know
}

[[noreturn]] void HandleCrash(const CONTEXT& context, const EXCEPTION_RECORD& record, const char* kind) {
  HandlerState* state = g_state;
  const DWORD code = record.ExceptionCode;
  // The handler itself crashed, or there is none: nothing more can be done safely.
  if (state == nullptr || ::GetCurrentThreadId() == state->handlerThreadId) EndProcess(code);
  if (::InterlockedCompareExchange(&state->claimed, 1, 0) != 0) {
    // Another thread's crash is being handled: this thread stays where it is until the process ends.
    ::WaitForSingleObject(state->handled, state->limitMs);
    EndProcess(state->crash.record.ExceptionCode);
  }
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
  ::SetEvent(state->crashed);
  // Also ends when the handler's thread is gone (ended by process shutdown, for instance).
  const HANDLE waits[] = {state->handled, state->handlerThread};
  ::WaitForMultipleObjects(2, waits, FALSE, state->limitMs);
  EndProcess(code);
}

// For the crashes that raise no exception: the record is made up, the context is the handler's caller's.
[[noreturn]] void HandleRaiselessCrash(DWORD code, const char* kind) {
  alignas(16) CONTEXT context = {};
  ::RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  HandleCrash(context, record, kind);
}

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers) {
  HandleCrash(*pointers->ContextRecord, *pointers->ExceptionRecord,
              CrashKindOf(pointers->ExceptionRecord->ExceptionCode));
}

void OnAbort(int) { HandleRaiselessCrash(kAbortCode, "abort"); }

void OnTerminate() {
  HandleRaiselessCrash(kTerminateCode, std::current_exception() ? "cpp-exception" : "terminate");
}

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {
  HandleRaiselessCrash(kInvalidParameterCode, "invalid-parameter");
}

void OnPureCall() { HandleRaiselessCrash(kPureCallCode, "pure-call"); }

DWORD WINAPI HandlerThread(void*) {
  HandlerState* state = g_state;
  ::WaitForSingleObject(state->crashed, INFINITE);
  try {
    state->reporter->Report(state->crash);
  } catch (...) {
    // Out of memory or worse: the crashed thread ends the process all the same.
  }
  ::SetEvent(state->handled);
  return 0;
}

}  // namespace

bool CrashHandler::Install(const CrashHandlerOptions& options) {
  if (::InterlockedCompareExchange(&g_installed, 1, 0) != 0) return false;
  // Set up once and kept for the life of the process: the handler's thread and the crashed thread use them
  // until the very end.
  auto state = std::make_unique<HandlerState>();
  state->reporter = new CrashReporter(options);
  state->crash.processId = ::GetCurrentProcessId();
  const CrashHandlerOptions& resolved = state->reporter->options();
  // Added up wide: limits near INFINITE must not wrap into a short wait, nor make the wait endless.
  const unsigned long long limit =
      0ULL + resolved.createDumpLimitMs + 3ULL * resolved.commandLimitMs + kHandlerMarginMs;
  state->limitMs = static_cast<DWORD>(limit < INFINITE ? limit : INFINITE - 1);
  state->crashed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state->handled = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (state->crashed == nullptr || state->handled == nullptr) return false;
  g_state = state.get();
  state->handlerThread = ::CreateThread(nullptr, 0, HandlerThread, nullptr, 0, &state->handlerThreadId);
  if (state->handlerThread == nullptr) {
    g_state = nullptr;
    return false;
  }
  state.release();

  ULONG guarantee = kStackGuaranteeBytes;
  ::SetThreadStackGuarantee(&guarantee);
  ::SetUnhandledExceptionFilter(OnUnhandledException);
  ::signal(SIGABRT, OnAbort);
  std::set_terminate(OnTerminate);
  _set_invalid_parameter_handler(OnInvalidParameter);
  _set_purecall_handler(OnPureCall);
#if defined(_MSC_VER)
  // No Windows Error Reporting dialog or message from abort(): the handler reports the crash.
  _set_abort_behavior(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
#endif

  if (resolved.updatePreferencesAtInstall) {
    std::vector<std::wstring> more;
    if (resolved.checkTransportSignature) more.push_back(L"1");
    // No crash yet: the crash identifier word is only a placeholder.
    g_state->reporter->StartCommand(L"updatepvbpreference", L"-", more);
  }
  return true;
}

}  // namespace kx

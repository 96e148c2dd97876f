// The crashed thread does as little as it can: it copies the crash into memory set aside at install time,
// wakes the handler's thread and waits for it. Everything else (process starts, pipes, files) happens on
// that thread, which was started at install time and has a whole stack of its own, so a thread that
// crashed with no stack left is still reported. When the handler is done, or when its time is up, the
// crashed thread ends the process with the crash's exception code.
#include "handler/crash_handler.h"

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
#include "handler/cpp_exception.h"
#include "handler/crash_reporter.h"
#include "handler/fault_site.h"
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

struct HandlerState {
  CrashReporter* reporter = nullptr;  // lives as long as the process
  HANDLE crashed = nullptr;           // set by the crashed thread
  HANDLE handled = nullptr;           // set by the handler's thread when it is done
  HANDLE handlerThread = nullptr;
  DWORD handlerThreadId = 0;
  HANDLE installingThread = nullptr;  // null when it could not be duplicated
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

[[noreturn]] void HandleCrash(const CONTEXT& context, const EXCEPTION_RECORD& record, const char* kind,
                              const CppExceptionText* cpp) {
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
  if (cpp != nullptr) crash.cpp = *cpp;
  ::SetEvent(state->crashed);
  // Also ends when the handler's thread is gone (ended by process shutdown, for instance).
  const HANDLE waits[] = {state->handled, state->handlerThread};
  ::WaitForMultipleObjects(2, waits, FALSE, state->limitMs);
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
  return threads == 1;
}

// Waits for a crash. Should every other thread end without one (ended by ExitThread, or under Wine by a
// stack overflow it could not raise), this thread alone would keep a dead application alive: it ends the
// process instead, as the system does when the last thread ends.
void WaitForCrash(HandlerState& state) {
  if (state.installingThread == nullptr) {
    ::WaitForSingleObject(state.crashed, INFINITE);
    return;
  }
  // A process whose main thread returns ends at once; only an installing thread gone before its process
  // makes the check worth its cost.
  const HANDLE waits[] = {state.crashed, state.installingThread};
  if (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) return;
  while (::WaitForSingleObject(state.crashed, kLastThreadCheckMs) == WAIT_TIMEOUT) {
    if (!IsLastThread()) continue;
    DWORD code = 0;
    ::GetExitCodeThread(state.installingThread, &code);
    EndProcess(code);
  }
}

DWORD WINAPI HandlerThread(void*) {
  HandlerState* state = g_state;
  WaitForCrash(*state);
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
  if (!::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(),
                         &state->installingThread, SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0)) {
    state->installingThread = nullptr;
  }
  g_state = state.get();
  state->handlerThread = ::CreateThread(nullptr, 0, HandlerThread, nullptr, 0, &state->handlerThreadId);
  if (state->handlerThread == nullptr) {
    g_state = nullptr;
    return false;
  }
  state.release();

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

  if (resolved.updatePreferencesAtInstall) {
    std::vector<std::wstring> more;
    if (resolved.checkTransportSignature) more.push_back(L"1");
    // No crash yet: the crash identifier word is only a placeholder.
    g_state->reporter->StartCommand(L"updatepvbpreference", L"-", more);
  }
  return true;
}

}  // namespace kx

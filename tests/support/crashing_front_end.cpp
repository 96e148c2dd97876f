// A crashing application whose "createdump" the tests control: a worker thread crashes for real and is
// parked in the unhandled-exception filter, alive; the main thread hands the crash to the crash handler
// library's reporter, which serves the crash data message (plus the test's extra records) on the crash's
// pipe and runs the service. Last it writes what it knew of the crash (crash_capture.h) and ends itself.
//
//   crashing_front_end <crash identifier> <kind> <extra records file | -> <capture file>
//
//   kind           access-violation, divide-by-zero or breakpoint: how the worker thread crashes.
//   extra records  raw records appended to the message; a later record of a key wins, so a test can
//                  override any field.
//
// Exit code: 0 when the service ran to its end with exit code 0 and took the whole message; otherwise the
// ExitCode of the first trouble met. Every wait is bounded.
#include <windows.h>

#include <intrin.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

#include "common/win_handles.h"
#include "handler/report_flow.h"
#include "support/crash_capture.h"
#include "support/service_harness.h"

namespace {

// In the order of the run's steps; kSecondCrash: another thread crashed while the first crash was handled.
enum ExitCode : UINT {
  kAllWell,
  kUsage,
  kNoCrash,
  kNoService,
  kServiceFailed,
  kPipeShort,
  kNoCapture,
  kSecondCrash
};

// Bounds against a hang only, never a measure: on a busy machine (load 15 on two cores) one createdump of a
// full dump took more than two minutes under Wine.
constexpr DWORD kCrashWaitMs = 120000;
constexpr DWORD kServiceWaitMs = 420000;
const wchar_t* const kKinds[] = {L"access-violation", L"divide-by-zero", L"breakpoint"};
enum Kind { kAccessViolation, kDivideByZero, kBreakpoint, kUnknown };

Kind g_kind = kUnknown;
// Filled by the crashed thread before it sets g_crashed, read by the main thread after.
kx::test::CrashCapture g_capture;
kx::CapturedCrash g_crash;
HANDLE g_crashed = nullptr;
volatile LONG g_crashes = 0;

LONG WINAPI KeepCrashAndPark(EXCEPTION_POINTERS* pointers) {
  if (::InterlockedIncrement(&g_crashes) != 1) ::TerminateProcess(::GetCurrentProcess(), kSecondCrash);
  g_capture.context = *pointers->ContextRecord;
  g_capture.exceptionRecord = *pointers->ExceptionRecord;
  g_capture.threadId = ::GetCurrentThreadId();
  ULONG_PTR low = 0, high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  g_crash.stackLow = low;
  g_crash.stackHigh = high;
  ::SetEvent(g_crashed);
  // The service checks that the crashed thread is still running, as a real handler keeps it: park it for
  // good. Returning would hand the crash to the system (and under Wine start its debugger).
  for (;;) ::Sleep(INFINITE);
}

DWORD WINAPI Worker(void*) {
  if (g_kind == kAccessViolation) {
    volatile std::uintptr_t address = 0x10;  // the first page is never mapped
    *reinterpret_cast<volatile int*>(address) = 1;
  } else if (g_kind == kDivideByZero) {
    volatile int divisor = 0;
    volatile int quotient = 100 / divisor;
    (void)quotient;
  } else if (g_kind == kBreakpoint) {
    __debugbreak();
  }
  return 0;
}

// Crashes the worker, whose handle the caller keeps, and fills the capture.
bool Crash(kx::UniqueHandle& worker) {
  worker.reset(::CreateThread(nullptr, 0, Worker, nullptr, 0, nullptr));
  if (!worker) return false;
  const HANDLE events[] = {g_crashed, worker.get()};
  return ::WaitForMultipleObjects(2, events, FALSE, kCrashWaitMs) == WAIT_OBJECT_0;
}

UINT Run(int argc, wchar_t** argv) {
  for (int kind = 0; argc == 5 && kind < kUnknown; ++kind) {
    if (std::wcscmp(argv[2], kKinds[kind]) == 0) g_kind = static_cast<Kind>(kind);
  }
  const std::optional<std::string> extra =
      argc == 5 && std::wcscmp(argv[3], L"-") != 0 ? kx::test::ReadFileBytes(argv[3]) : std::string();
  if (g_kind == kUnknown || !extra) {
    std::fprintf(
        stderr,
        "usage: crashing_front_end <crash identifier> <kind> <extra records file|-> <capture file>\n");
    return kUsage;
  }

  g_capture.processId = ::GetCurrentProcessId();
  const auto* base = reinterpret_cast<const unsigned char*>(::GetModuleHandleW(nullptr));
  g_capture.imageBase = reinterpret_cast<std::uintptr_t>(base);
  g_capture.imageSize = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
                            base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew)
                            ->OptionalHeader.SizeOfImage;
  const kx::UniqueHandle crashed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_crashed = crashed.get();
  ::SetUnhandledExceptionFilter(KeepCrashAndPark);
  kx::UniqueHandle worker;
  if (!Crash(worker)) return kNoCrash;

  g_crash.context = g_capture.context;
  g_crash.record = g_capture.exceptionRecord;
  g_crash.processId = g_capture.processId;
  g_crash.threadId = g_capture.threadId;
  const std::string kindWord(argv[2], argv[2] + std::wcslen(argv[2]));  // ASCII
  g_crash.kind = kindWord.c_str();
  kx::CrashHandlerOptions options;
  options.servicePath = kx::test::ServicePath();
  options.clientDirectory = kx::test::ThisProgramFolder();
  options.productName = "Crashing Front End";
  options.productVersion = "1.0";
  options.productBuild = "100";
  const kx::ReportFlow reporter(options);
  std::string message = reporter.CrashDataMessage(g_crash, argv[1]);
  // A later record of a key wins: the extra records override the reporter's.
  if (!extra->empty()) message += "KX------KX" + *extra;
  const kx::ServiceCommands::PipedRun run =
      reporter.service().RunWritingPipe(L"createdump", argv[1], message + '\0', kServiceWaitMs);
  const kx::ChildRun& service = run.service;
  const kx::CrashPipe::Outcome& served = run.pipe;

  UINT result = kAllWell;
  if (!service.started || !service.finished || service.exitCode != 0) {
    std::fprintf(stderr, "service: %s %s\n", kx::Describe(service).c_str(), served.failure.c_str());
    result = service.started ? kServiceFailed : kNoService;
  } else if (!served.connected || !served.failure.empty() || served.bytesWritten != message.size() + 1) {
    std::fprintf(stderr, "pipe: connected %d, wrote %lu of %zu bytes, %s\n", served.connected ? 1 : 0,
                 static_cast<unsigned long>(served.bytesWritten), message.size() + 1, served.failure.c_str());
    result = kPipeShort;
  }
  if (!kx::test::WriteCrashCapture(argv[4], g_capture) && result == kAllWell) result = kNoCapture;
  return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // No error boxes for this program or the service it starts (the mode is inherited).
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  const UINT result = Run(argc, argv);
  std::fflush(stderr);
  // The crashed thread is parked in the filter: only ending the process ends it.
  ::ExitProcess(result);
}

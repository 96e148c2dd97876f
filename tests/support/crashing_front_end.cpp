// A crashing application whose "createdump" the tests control: a worker thread crashes for real; the
// unhandled-exception filter keeps the crash's CONTEXT and EXCEPTION_RECORD and parks the crashed thread,
// alive; the main thread then hands the crash to the crash handler library's reporter, which builds the crash
// data message (plus the test's extra records), serves the crash's pipe and runs the service. Last it writes
// what it knew of the crash (crash_capture.h) and ends itself.
//
//   crashing_front_end <crash identifier> <kind> <extra records file | -> <capture file> [service path]
//
//   kind           access-violation, divide-by-zero, breakpoint: how the worker thread crashes.
//                  thread-exits: the worker ends normally and the message names that ended thread; its
//                  handle stays open, so its id cannot be reused while the service runs.
//   extra records  raw bytes appended to the message as further records; a later record of a key wins, so
//                  a test can override any field (a ProcessId of an ended process, a hostile ProductName).
//   service path   the program started as the service; KXWindowsClientService.exe next to this one when
//                  not given. It is started as "<service path> <this program's folder> createdump <id>".
//
// Exit code: 0 when the service ran to its end with exit code 0 and took the whole message; otherwise one
// of the codes of ExitCode, the first trouble met. Every wait is bounded.
#include <windows.h>

#include <intrin.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/win_handles.h"
#include "handler/crash_reporter.h"
#include "support/crash_capture.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace {

using kx::UniqueHandle;
using kx::test::CrashCapture;

enum ExitCode : UINT {
  kAllWell = 0,
  kUsage = 1,
  kNoCrash = 2,  // the worker did not crash (or end, for thread-exits) in time
  kNoPipe = 3,   // the crash's pipe could not be created
  kServiceNotStarted = 4,
  kServiceTimedOut = 5,  // it was terminated
  kServiceFailed = 6,    // it ended with an exit code other than 0
  kPipeNotServed = 7,    // no client came, or it did not take the whole message
  kNoCaptureFile = 8,
  kSecondCrash = 9,  // another thread crashed while the first crash was handled
};

constexpr DWORD kCrashWaitMs = 30000;
constexpr DWORD kServiceWaitMs = 120000;

enum class Kind { kAccessViolation, kDivideByZero, kBreakpoint, kThreadExits };

std::optional<Kind> ReadKind(const std::wstring& word) {
  if (word == L"access-violation") return Kind::kAccessViolation;
  if (word == L"divide-by-zero") return Kind::kDivideByZero;
  if (word == L"breakpoint") return Kind::kBreakpoint;
  if (word == L"thread-exits") return Kind::kThreadExits;
  return std::nullopt;
}

Kind g_kind = Kind::kAccessViolation;
// Filled by the crashed thread before it sets g_crashed, read by the main thread after.
CrashCapture g_capture;
kx::CapturedCrash g_crash;
std::string g_kindWord;
HANDLE g_crashed = nullptr;
volatile LONG g_crashes = 0;

LONG WINAPI KeepCrashAndPark(EXCEPTION_POINTERS* pointers) {
  if (::InterlockedIncrement(&g_crashes) != 1) ::TerminateProcess(::GetCurrentProcess(), kSecondCrash);
  std::memcpy(g_capture.context, pointers->ContextRecord, sizeof(CONTEXT));
  std::memcpy(g_capture.exceptionRecord, pointers->ExceptionRecord, sizeof(EXCEPTION_RECORD));
  g_capture.threadId = ::GetCurrentThreadId();
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  g_crash.stackLow = low;
  g_crash.stackHigh = high;
  ::SetEvent(g_crashed);
  // The service checks that the crashed thread is still running, as a real handler keeps it: park it for
  // good. Returning would hand the crash to the system (and under Wine start its debugger).
  for (;;) ::Sleep(INFINITE);
}

DWORD WINAPI Worker(void*) {
  switch (g_kind) {
    case Kind::kAccessViolation: {
      volatile std::uintptr_t address = 0x10;  // the first page is never mapped
      *reinterpret_cast<volatile int*>(address) = 1;
      break;
    }
    case Kind::kDivideByZero: {
      volatile int divisor = 0;
      volatile int quotient = 100 / divisor;
      (void)quotient;
      break;
    }
    case Kind::kBreakpoint: __debugbreak(); break;
    case Kind::kThreadExits: break;
  }
  return 0;
}

void ReadOwnImage(CrashCapture& capture) {
  const auto* base = reinterpret_cast<const unsigned char*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  capture.imageBase = reinterpret_cast<std::uintptr_t>(base);
  capture.imageSize = nt->OptionalHeader.SizeOfImage;
}

std::string Narrow(const std::wstring& text) {
  const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length,
                          nullptr, nullptr);
  }
  return narrow;
}

// Crashes the worker (or lets it end) and fills the capture. The worker's handle is kept by the caller.
bool Crash(UniqueHandle& worker) {
  DWORD workerId = 0;
  worker.reset(::CreateThread(nullptr, 0, Worker, nullptr, 0, &workerId));
  if (!worker) {
    std::fprintf(stderr, "CreateThread: %s\n", kx::test::Win32ErrorText(::GetLastError()).c_str());
    return false;
  }
  if (g_kind == Kind::kThreadExits) {
    if (::WaitForSingleObject(worker.get(), kCrashWaitMs) != WAIT_OBJECT_0) return false;
    // No crash to describe: the main thread's own registers and an empty exception record.
    alignas(16) CONTEXT context = {};
    ::RtlCaptureContext(&context);
    std::memcpy(g_capture.context, &context, sizeof(context));
    g_capture.threadId = workerId;
    return true;
  }
  const HANDLE events[] = {g_crashed, worker.get()};
  if (::WaitForMultipleObjects(2, events, FALSE, kCrashWaitMs) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "the worker thread did not crash\n");
    return false;
  }
  return true;
}

UINT Run(int argc, wchar_t** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr,
                 "usage: crashing_front_end <crash identifier> "
                 "<access-violation|divide-by-zero|breakpoint|thread-exits> <extra records file|-> "
                 "<capture file> [service path]\n");
    return kUsage;
  }
  const std::optional<Kind> kind = ReadKind(argv[2]);
  const std::wstring extraPath = argv[3];
  const std::wstring capturePath = argv[4];
  const std::wstring servicePath = argc == 6 ? std::wstring(argv[5]) : kx::test::ServicePath();
  std::string extra;
  if (extraPath != L"-") {
    const std::optional<std::string> bytes = kx::test::ReadFileBytes(extraPath);
    if (!bytes) {
      std::fprintf(stderr, "cannot read the extra records file\n");
      return kUsage;
    }
    extra = *bytes;
  }
  if (!kind) {
    std::fprintf(stderr, "unknown kind of crash\n");
    return kUsage;
  }

  std::memcpy(g_capture.magic, kx::test::kCrashCaptureMagic, sizeof(g_capture.magic));
  g_capture.processId = ::GetCurrentProcessId();
  ReadOwnImage(g_capture);
  const UniqueHandle crashed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_crashed = crashed.get();
  ::SetUnhandledExceptionFilter(KeepCrashAndPark);
  g_kind = *kind;
  g_kindWord = Narrow(argv[2]);
  UniqueHandle worker;
  if (!Crash(worker)) return kNoCrash;

  std::memcpy(&g_crash.context, g_capture.context, sizeof(CONTEXT));
  std::memcpy(&g_crash.record, g_capture.exceptionRecord, sizeof(EXCEPTION_RECORD));
  g_crash.processId = g_capture.processId;
  g_crash.threadId = g_capture.threadId;
  g_crash.kind = g_kindWord.c_str();
  kx::CrashHandlerOptions options;
  options.servicePath = servicePath;
  options.clientDirectory = kx::test::ThisProgramFolder();
  options.productName = "Crashing Front End";
  options.productVersion = "1.0";
  options.productBuild = "100";
  const kx::CrashReporter reporter(options);
  std::string message = reporter.CrashDataMessage(g_crash, argv[1]);
  // A later record of a key wins: the extra records override the reporter's.
  if (!extra.empty()) message += "KX------KX" + extra;
  const kx::CrashReporter::PipedRun run =
      reporter.RunWritingPipe(L"createdump", argv[1], message + '\0', kServiceWaitMs);
  const kx::ChildRun& service = run.service;
  const kx::CrashPipe::Outcome& served = run.pipe;

  UINT result = kAllWell;
  if (!service.started && service.startError == ERROR_SUCCESS) {
    std::fprintf(stderr, "%s\n", served.failure.c_str());
    result = kNoPipe;
  } else if (!service.started) {
    std::fprintf(stderr, "service not started: error %lu\n", static_cast<unsigned long>(service.startError));
    result = kServiceNotStarted;
  } else if (!service.finished) {
    std::fprintf(stderr, "service did not end in time and was terminated\n");
    result = kServiceTimedOut;
  } else if (service.exitCode != 0) {
    std::fprintf(stderr, "service exit code 0x%08lX\n", static_cast<unsigned long>(service.exitCode));
    result = kServiceFailed;
  } else if (!served.connected || !served.failure.empty() || served.bytesWritten != message.size() + 1) {
    std::fprintf(stderr, "pipe: connected %d, wrote %lu of %zu bytes, %s\n", served.connected ? 1 : 0,
                 static_cast<unsigned long>(served.bytesWritten), message.size() + 1, served.failure.c_str());
    result = kPipeNotServed;
  }
  if (!kx::test::WriteCrashCapture(capturePath, g_capture)) {
    std::fprintf(stderr, "cannot write the capture file\n");
    if (result == kAllWell) result = kNoCaptureFile;
  }
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

// KXCrashDemo: installs the crash handler and crashes in the way asked for, so that the whole reporting
// lifecycle can be watched (tools/demo) and tested.
//
//   KXCrashDemo <kind> [--send | --dont-send | --ask] [--open-link] [--check-signature]
//               [--update-preferences] [--client-dir DIR] [--service PATH] [--timeout-ms N] [--capture-first]
//               [--attach-log] [--attach PATH] [--reporter PATH] [--reporter-log PATH]
//               [--hang-limit-ms N] [--hangs N] [--loop-guard N] [--reports-per-day N]
//               [--annotate-runs] [--decide yes|no]
//
//   kind: access-violation, divide-by-zero, stack-overflow (4 KiB frames), stack-overflow-small (frames of
//         about 0.5 KiB, as ordinary code has), stack-overflow-worker (the same on a second thread),
//         cpp-exception, cpp-exception-worker (thrown on a second thread), abort, breakpoint, terminate,
//         pure-call (a pure virtual function called while its object is built), invalid-parameter (the C
//         runtime's report of a parameter it refuses), exit-main-thread (no crash: the main thread ends
//         with ExitThread(kMainThreadExitCode) and the handler must not keep the process alive),
//         hang (no crash: with --hang-limit-ms, the main thread stops its heartbeats until the watchdog's
//         report is written, --hangs times (2 by default), answering in between; prints "KXCrashDemo: hang
//         N reported" and ends with 0, or with 4 when no report came within the limit and 30 seconds),
//         capture-exit (no crash: a second thread calls CaptureReport, and main returns 0 once its dump is
//         written; the report's hand-over waits until exit() has begun), beat (no crash: with
//         --hang-limit-ms, the main thread beats every 400 ms, 40 times; ends with 0, or 5 when a hang was
//         reported all the same)
//
// At its start it prints what the handler knows of its earlier runs: "KXCrashDemo: previous runs R,
// crashed C, unknown U, same crash in a row S"; --annotate-runs also puts that text in the annotation
// "demo.previousRuns", so that its reports carry it. --loop-guard and --reports-per-day set the crash-loop
// guard's crashes and the reports a day (0: off).
//
// Every report carries two annotations, "demo.kind" (the kind) and "demo.hostile" (a value made of what
// markup and the crash data message use). --attach-log writes a small log, KXCrashDemo.log in the temporary
// folder, and attaches it; --attach attaches any file. --capture-first makes a report without a crash
// (CrashHandler::CaptureReport) and prints "KXCrashDemo: captured report written" (or "not written") before
// it crashes.
//
// --ask leaves the choice to KXCrashReporter's dialog, unless --decide answers in the process itself, as an
// application with a UI of its own does (the in-process callback); --reporter names another KXCrashReporter.exe than
// the one beside the service, --reporter-log the file the reporter appends its progress lines to. Every
// step of the handler in this process is printed as a line starting "[handler] ". The process ends with
// the crash's exception code; 2 when the command line is wrong, 3 when the handler cannot be installed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <intrin.h>
#include <stdexcept>
#include <string>

#include "kx/crash_handler.h"

// A pure virtual function called through the object while its base is built: the runtime's pure call path.
// Outside the unnamed namespace, so that the compiler cannot know every override, and the object reaches
// the call through a volatile pointer: nothing lets it call the override directly.
namespace demo {
struct Shape;
Shape* volatile g_shape = nullptr;
int g_corners = 0;
struct Shape {
  Shape() {
    g_shape = this;
    Describe();
  }
  virtual ~Shape() = default;
  virtual int Corners() const = 0;
  static void Describe() { g_corners = g_shape->Corners(); }
};
struct Square : Shape {
  int Corners() const override { return 4; }
};
}  // namespace demo

namespace {

volatile int g_sink = 0;
constexpr DWORD kMainThreadExitCode = 21;
// Beyond the handler's own limit for createdump (120 s by default): a busy machine can make a hang's dump
// take that long, and the application must not end while its hang report is on its way.
constexpr DWORD kHangMarginMs = 150000;
constexpr int kNoHangReport = 4;
constexpr int kHangReported = 5;
HANDLE g_hangDumped = nullptr;  // set when a hang's or capture-exit's report's dump is written
HANDLE g_exiting = nullptr;     // capture-exit: set once exit() has begun

// Deep enough recursion to exhaust any stack; the array sets each frame's size and keeps the compiler from
// turning the recursion into a loop.
template <std::size_t kFrameBytes>
int Recurse(int depth) {
  volatile char frame[kFrameBytes];
  if (g_sink == -1) return 0;  // never: g_sink is not negative, but the compiler cannot know
  frame[depth % sizeof(frame)] = static_cast<char>(depth);
  return Recurse<kFrameBytes>(depth + 1) + frame[0];
}

DWORD WINAPI OverflowOnWorker(void*) {
  g_sink = Recurse<480>(0);
  return 0;
}

DWORD WINAPI ThrowOnWorker(void*) {
  if (g_sink != -1) throw std::runtime_error("an exception nobody catches, on a worker thread");
  return 0;
}

// What a C runtime function does with a parameter it refuses: it reports it to the invalid parameter handler
// the runtime keeps. msvcrt.dll under Wine checks without reporting, so the demo reports as it would.
#if defined(_MSC_VER)
__declspec(noinline) void ReportInvalidParameter() { _invalid_parameter_noinfo(); }
#else
__attribute__((noinline)) void ReportInvalidParameter() {
  const _invalid_parameter_handler handler = _get_invalid_parameter_handler();
  if (handler != nullptr) handler(nullptr, nullptr, nullptr, 0, 0);
}
#endif

// Straight to the standard output handle: the C runtime's stream lock may be held by the crashed thread.
void WriteLine(const std::string& line) {
  if (g_hangDumped != nullptr && line.rfind("createdump:", 0) == 0) {
    ::SetEvent(g_hangDumped);
    // The handler's thread goes on with the report's hand-over only once the application is ending.
    if (g_exiting != nullptr) ::WaitForSingleObject(g_exiting, kHangMarginMs);
  }
  const std::string text = "[handler] " + line + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

bool Crash(const std::wstring& kind) {
  if (kind == L"access-violation") {
    volatile int* volatile address = reinterpret_cast<int*>(0x10);  // the first page is never mapped
    *address = 1;
  } else if (kind == L"divide-by-zero") {
    volatile int divisor = 0;
    g_sink = 100 / divisor;
  } else if (kind == L"stack-overflow") {
    g_sink = Recurse<4096>(0);
  } else if (kind == L"stack-overflow-small") {
    g_sink = Recurse<480>(0);
  } else if (kind == L"stack-overflow-worker") {
    // The handler ends the process from the worker's crash; the main thread only waits.
    ::WaitForSingleObject(::CreateThread(nullptr, 0, OverflowOnWorker, nullptr, 0, nullptr), INFINITE);
  } else if (kind == L"exit-main-thread") {
    ::ExitThread(kMainThreadExitCode);
  } else if (kind == L"cpp-exception") {
    throw std::runtime_error("an exception nobody catches");
  } else if (kind == L"cpp-exception-worker") {
    ::WaitForSingleObject(::CreateThread(nullptr, 0, ThrowOnWorker, nullptr, 0, nullptr), INFINITE);
  } else if (kind == L"pure-call") {
    const demo::Square square;
    g_sink = square.Corners();
  } else if (kind == L"invalid-parameter") {
    ReportInvalidParameter();
  } else if (kind == L"abort") {
    std::abort();
  } else if (kind == L"breakpoint") {
    __debugbreak();  // in the application's code, as an assert macro has it
  } else if (kind == L"terminate") {
    std::terminate();
  } else {
    return false;
  }
  return true;
}

// Quotes, markup, the message's separators, control bytes, a percent escape and a non-ASCII letter: the
// report must give back exactly these bytes.
const char kHostileAnnotation[] =
    "\"<b>&amp;</b>\" KX---KX KX------KX \x01\x1F\ttab\r\nline %41 caf\xC3\xA9 \xFF";

// The application's own log, attached to its reports.
std::wstring WriteDemoLog(const std::wstring& kind) {
  wchar_t folder[MAX_PATH] = L"";
  ::GetTempPathW(MAX_PATH, folder);
  const std::wstring path = std::wstring(folder) + L"KXCrashDemo.log";
  const std::string text = "KXCrashDemo log of process " + std::to_string(::GetCurrentProcessId()) +
                           "\nabout to crash: " + std::string(kind.begin(), kind.end()) + "\n";
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  if (file != INVALID_HANDLE_VALUE) {
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
  }
  return path;
}

// The main thread stops its heartbeats until the watchdog's report is written, then for another limit (a
// second report then would be one hang reported twice), answers, and hangs once more.
int Hang(DWORD limitMs, unsigned long hangs) {
  g_hangDumped = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  for (unsigned long hang = 1; hang <= hangs; ++hang) {
    kx::CrashHandler::Heartbeat();
    if (::WaitForSingleObject(g_hangDumped, limitMs + kHangMarginMs) != WAIT_OBJECT_0) return kNoHangReport;
    ::Sleep(limitMs * 2);
    std::printf("KXCrashDemo: hang %lu reported\n", hang);
    std::fflush(stdout);
  }
  kx::CrashHandler::Heartbeat();
  return 0;
}

// The main thread beats every 400 ms, 40 times: an application that never hangs.
int BeatWithoutHanging() {
  g_hangDumped = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (int beat = 0; beat < 40; ++beat) {
    kx::CrashHandler::Heartbeat();
    ::Sleep(400);
  }
  return ::WaitForSingleObject(g_hangDumped, 0) == WAIT_OBJECT_0 ? kHangReported : 0;
}

void OnExit() { ::SetEvent(g_exiting); }

DWORD WINAPI CaptureOnWorker(void*) {
  kx::CrashHandler::CaptureReport("the application returns from main meanwhile");
  return 0;
}

// main returns once a captured report's dump is written, before its hand-over.
int CaptureThenExit() {
  g_hangDumped = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  g_exiting = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atexit(OnExit);  // after Install: runs before the handler's own
  ::CloseHandle(::CreateThread(nullptr, 0, CaptureOnWorker, nullptr, 0, nullptr));
  return ::WaitForSingleObject(g_hangDumped, kHangMarginMs) == WAIT_OBJECT_0 ? 0 : kNoHangReport;
}

int Usage() {
  std::fprintf(stderr,
               "usage: KXCrashDemo <access-violation|divide-by-zero|stack-overflow|stack-overflow-small|"
               "stack-overflow-worker|cpp-exception|cpp-exception-worker|abort|breakpoint|terminate|pure-call|"
               "invalid-parameter|exit-main-thread|hang|capture-exit|beat> [--send | "
               "--dont-send | --ask] [--open-link] "
               "[--check-signature] [--update-preferences] [--client-dir DIR] [--service PATH] "
               "[--timeout-ms N] [--capture-first] [--attach-log] [--attach PATH] [--reporter PATH] "
               "[--reporter-log PATH] [--hang-limit-ms N] [--hangs N] [--loop-guard N] [--reports-per-day N] "
               "[--annotate-runs] [--decide yes|no]\n");
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring kind = argv[1];
  kx::CrashHandlerOptions options;
  options.productName = "KX Crash Demo";
  options.productVersion = "1.0";
  options.productBuild = "100";
  options.sessionId = "demo-session";
  options.progress = WriteLine;
  bool captureFirst = false;
  bool annotateRuns = false;
  unsigned long hangs = 2;
  for (int i = 2; i < argc; ++i) {
    const std::wstring word = argv[i];
    const bool hasValue = i + 1 < argc;
    if (word == L"--send") {
      options.policy = kx::ReportPolicy::kSend;
    } else if (word == L"--dont-send") {
      options.policy = kx::ReportPolicy::kDontSend;
    } else if (word == L"--ask") {
      options.policy = kx::ReportPolicy::kAsk;
    } else if (word == L"--decide" && hasValue) {
      const bool yes = std::wcscmp(argv[++i], L"yes") == 0;
      options.decide = [yes](const kx::CrashSummary&) { return yes; };
    } else if (word == L"--reporter" && hasValue) {
      options.reporterPath = argv[++i];
    } else if (word == L"--reporter-log" && hasValue) {
      options.reporterLog = argv[++i];
    } else if (word == L"--open-link") {
      options.openSolutionLink = true;
    } else if (word == L"--check-signature") {
      options.checkTransportSignature = true;
    } else if (word == L"--update-preferences") {
      options.updatePreferencesAtInstall = true;
    } else if (word == L"--client-dir" && hasValue) {
      options.clientDirectory = argv[++i];
    } else if (word == L"--service" && hasValue) {
      options.servicePath = argv[++i];
    } else if (word == L"--annotate-runs") {
      annotateRuns = true;
    } else if (word == L"--capture-first") {
      captureFirst = true;
    } else if (word == L"--attach-log") {
      options.attachments.push_back(WriteDemoLog(kind));
    } else if (word == L"--attach" && hasValue) {
      options.attachments.push_back(argv[++i]);
    } else if (word == L"--hang-limit-ms" && hasValue) {
      options.hangLimitMs = static_cast<DWORD>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (word == L"--hangs" && hasValue) {
      hangs = std::wcstoul(argv[++i], nullptr, 10);
    } else if (word == L"--loop-guard" && hasValue) {
      options.loopGuardCrashes = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (word == L"--reports-per-day" && hasValue) {
      options.reportsPerDay = static_cast<unsigned>(std::wcstoul(argv[++i], nullptr, 10));
    } else if (word == L"--timeout-ms" && hasValue) {
      const unsigned long limit = std::wcstoul(argv[++i], nullptr, 10);
      if (limit == 0) return Usage();
      options.createDumpLimitMs = static_cast<DWORD>(limit);
      options.commandLimitMs = static_cast<DWORD>(limit);
    } else {
      return Usage();
    }
  }
  // No error dialogs for this program or the service it starts (the mode is inherited).
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  // Set before Install: the table needs no handler.
  kx::CrashHandler::SetAnnotation("demo.kind", std::string(kind.begin(), kind.end()));
  if (!kx::CrashHandler::Install(options)) {
    std::fprintf(stderr, "the crash handler could not be installed\n");
    return 3;
  }
  kx::CrashHandler::SetAnnotation("demo.hostile", kHostileAnnotation);
  const kx::PreviousRunFigures previous = kx::CrashHandler::PreviousRuns();
  const std::string runs = "previous runs " + std::to_string(previous.runs) + ", crashed " +
                           std::to_string(previous.crashed) + ", unknown " + std::to_string(previous.unknown) +
                           ", same crash in a row " + std::to_string(previous.sameCrashInARow);
  std::printf("KXCrashDemo: %s\n", runs.c_str());
  std::fflush(stdout);
  if (annotateRuns) kx::CrashHandler::SetAnnotation("demo.previousRuns", runs);
  if (kind == L"hang") return options.hangLimitMs > 0 ? Hang(options.hangLimitMs, hangs) : Usage();
  if (kind == L"capture-exit") return CaptureThenExit();
  if (kind == L"beat") return options.hangLimitMs > 0 ? BeatWithoutHanging() : Usage();
  if (captureFirst) {
    const bool written =
        kx::CrashHandler::CaptureReport("before the crash: " + std::string(kind.begin(), kind.end()));
    std::printf("KXCrashDemo: captured report %s\n", written ? "written" : "not written");
    std::fflush(stdout);
  }
  std::printf("KXCrashDemo: crashing (%ls)\n", kind.c_str());
  std::fflush(stdout);
  if (!Crash(kind)) return Usage();
  return 0;
}

// The frozen-time benchmark: how long a crashed application hangs in front of its user, from its crash to
// the end of its process. KXCrashDemo (the crash handler: createdump, then the hand-over to KXCrashReporter)
// takes turns with the floor, a program that crashes the same way and only has its minidump written by
// kx_bare_dump.exe before it ends. The crash's moment is when the program's "crashing" line arrives on its
// output pipe; the end is when its process has ended.
//
//   kx_frozen <runs> <client directory> [steps]
//                                          the benchmark; the programs are taken from this program's folder;
//                                          "steps" also prints when each line of the handler's output came
//   kx_frozen crash <dump path>            the floor's crashing program (started by the benchmark)
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "frontend/child_process.h"

#include "bench_text.h"

namespace {

using kx::HexOf;
using kx::Median;
using kx::Quoted;
using kx::UniqueHandle;

constexpr DWORD kRunLimitMs = 120000;
constexpr DWORD kReporterLimitMs = 120000;

// ---- the floor's crashing program ----

std::wstring g_dumpPath;
std::wstring g_bareDumper;

// Has the crashed process dumped by the bare dumper, the crashed thread waiting as a handler keeps it, then
// ends the process with the crash's code.
LONG WINAPI DumpAndEnd(EXCEPTION_POINTERS* pointers) {
  struct {
    CONTEXT context;
    EXCEPTION_RECORD record;
  } crash;
  std::memcpy(&crash.context, pointers->ContextRecord, sizeof(CONTEXT));
  std::memcpy(&crash.record, pointers->ExceptionRecord, sizeof(EXCEPTION_RECORD));
  const std::wstring arguments = std::to_wstring(::GetCurrentProcessId()) + L" " +
                                 std::to_wstring(::GetCurrentThreadId()) + L" " +
                                 HexOf(&crash, sizeof(crash)) + L" " + g_dumpPath;
  kx::RunChildWithArguments(g_bareDumper, arguments, kRunLimitMs);
  ::TerminateProcess(::GetCurrentProcess(), pointers->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

int CrashForTheFloor(const std::wstring& dumpPath) {
  g_dumpPath = dumpPath;
  g_bareDumper = kx::ThisProgramFolder() + L"\\kx_bare_dump.exe";
  ::SetUnhandledExceptionFilter(DumpAndEnd);
  const char line[] = "crashing\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), line, sizeof(line) - 1, &written, nullptr);
  volatile int* volatile address = reinterpret_cast<int*>(0x10);  // the first page is never mapped
  *address = 1;
  return 0;
}

// ---- the benchmark ----

struct Frozen {
  bool ok = false;
  double ms = 0;  // from the "crashing" line to the end of the process
  std::string steps;  // each later output line with its time after the crash, for the step view
};

double Now() {
  LARGE_INTEGER counter;
  LARGE_INTEGER frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// When the process ended, taken by a thread of its own: the output pipe may outlive the process (under Wine
// its children can hold the pipe's write end), so its end is no measure of the process's.
struct EndWatch {
  HANDLE process = nullptr;
  double ended = 0;
};

DWORD WINAPI WatchEnd(void* parameter) {
  EndWatch* watch = static_cast<EndWatch*>(parameter);
  if (::WaitForSingleObject(watch->process, kRunLimitMs) == WAIT_OBJECT_0) watch->ended = Now();
  return 0;
}

// Runs the command line with its output on a pipe, which is read to its end so that the program never
// waits on a full pipe.
Frozen TimeCrash(std::wstring commandLine) {
  Frozen frozen;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return frozen;
  const UniqueHandle reader(readEnd);
  UniqueHandle writer(writeEnd);
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  startup.hStdInput = nullptr;
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &info)) {
    std::fprintf(stderr, "CreateProcessW failed: %lu\n", static_cast<unsigned long>(::GetLastError()));
    return frozen;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  writer.reset();  // the pipe ends when the program's copies close
  EndWatch watch;
  watch.process = process.get();
  const UniqueHandle watcher(::CreateThread(nullptr, 0, WatchEnd, &watch, 0, nullptr));
  std::string output;
  double crashed = 0;
  char buffer[4096];
  DWORD read = 0;
  size_t lineStart = 0;
  while (::ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    output.append(buffer, read);
    const double now = Now();
    if (crashed == 0 && output.find("crashing") != std::string::npos) crashed = now;
    for (size_t end = output.find('\n', lineStart); end != std::string::npos;
         end = output.find('\n', lineStart)) {
      char at[32];
      std::snprintf(at, sizeof(at), "%8.0f ms  ", crashed > 0 ? now - crashed : 0.0);
      frozen.steps += at + output.substr(lineStart, std::min<size_t>(end - lineStart, 100)) + "\n";
      lineStart = end + 1;
    }
  }
  if (!watcher || ::WaitForSingleObject(watcher.get(), kRunLimitMs) != WAIT_OBJECT_0 || watch.ended == 0) {
    ::TerminateProcess(process.get(), 1);
    return frozen;
  }
  const double ended = watch.ended;
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  frozen.ok = crashed > 0 && code == EXCEPTION_ACCESS_VIOLATION;
  frozen.ms = ended - crashed;
  char at[48];
  std::snprintf(at, sizeof(at), "%8.0f ms  (process ended)\n", frozen.ms);
  frozen.steps += at;
  return frozen;
}

size_t CountOf(const std::string& text, const std::string& word) {
  size_t count = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
  return count;
}

std::string ReadText(const std::wstring& path) {
  std::string text;
  const kx::UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return text;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    text.append(buffer, read);
  return text;
}

// The reporter runs on after the application: the next run waits until it is done, untimed.
bool WaitForReporters(const std::wstring& log, size_t runs) {
  for (DWORD waited = 0; waited < kReporterLimitMs; waited += 100) {
    if (CountOf(ReadText(log), "KXCrashReporter: done") >= runs) return true;
    ::Sleep(100);
  }
  return false;
}

int Measure(int runs, const std::wstring& client, bool showSteps) {
  const std::wstring folder = kx::ThisProgramFolder();
  const std::wstring log = client + L"\\frozen-reporter.log";
  ::DeleteFileW(log.c_str());
  const std::wstring dump = kx::StoragePaths::DumpFolder() + L"\\kxbench_frozen.dmp";
  // The same crash every round: without these the crash-loop guard would keep no dump from the third round
  // on, and the day's limit would hold reports back.
  const std::wstring handler = Quoted(folder + L"\\KXCrashDemo.exe") + L" access-violation --dont-send" +
                               L" --loop-guard 0 --reports-per-day 0" +
                               L" --client-dir " + Quoted(client) + L" --service " +
                               Quoted(folder + L"\\KXWindowsClientService.exe") + L" --reporter-log " +
                               Quoted(log);
  const std::wstring bare = Quoted(folder + L"\\kx_frozen.exe") + L" crash " + dump;
  std::printf("frozen time: from the crash to the end of the crashed process, %d runs\n", runs);
  std::printf("run   bare  handler  ratio\n");
  std::vector<double> bareMs, handlerMs, ratios;
  bool allWell = true;
  for (int i = 1; i <= runs; ++i) {
    // Every other round the handler goes first, so that neither always follows the other.
    Frozen b;
    Frozen h;
    for (int turn = 0; turn < 2; ++turn) {
      if ((turn == 0) == (i % 2 == 1)) {
        ::DeleteFileW(dump.c_str());
        b = TimeCrash(bare);
        b.ok = b.ok && ::GetFileAttributesW(dump.c_str()) != INVALID_FILE_ATTRIBUTES;
      } else {
        h = TimeCrash(handler);
        h.ok = h.ok && WaitForReporters(log, static_cast<size_t>(i));
      }
    }
    allWell = allWell && b.ok && h.ok;
    bareMs.push_back(b.ms);
    handlerMs.push_back(h.ms);
    ratios.push_back(h.ms / b.ms);
    std::printf("%3d  %6.0f  %7.0f  %5.3f%s\n", i, b.ms, h.ms, ratios.back(), b.ok && h.ok ? "" : "  FAILED");
    if (showSteps) std::printf("handler's output, by arrival after the crash:\n%s", h.steps.c_str());
    std::fflush(stdout);
  }
  std::printf("med  %6.0f  %7.0f  %5.3f\n", Median(bareMs), Median(handlerMs), Median(ratios));
  std::printf("median frozen ratio %.3f (median handler / median bare: %.3f)\n", Median(ratios),
              Median(handlerMs) / Median(bareMs));
  ::DeleteFileW(dump.c_str());
  if (!allWell) std::printf("\nSOME RUNS FAILED (marked above): the figures are not to be trusted\n");
  return allWell ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  if (argc == 3 && std::wcscmp(argv[1], L"crash") == 0) return CrashForTheFloor(argv[2]);
  const bool showSteps = argc == 4 && std::wcscmp(argv[3], L"steps") == 0;
  if (argc != 3 && !showSteps) {
    std::fprintf(stderr,
                 "usage: kx_frozen <runs> <client directory> [steps] | kx_frozen crash <dump path>\n");
    return 2;
  }
  const int result = Measure(std::max(1, _wtoi(argv[1])), argv[2], showSteps);
  std::fflush(stdout);
  return result;
}

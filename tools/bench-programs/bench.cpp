// The createdump benchmark: crashes one of its own threads for real (it is then the crashed application,
// parked as a crash handler keeps it), and on that same crashed process alternates the bare dumper
// (kx_bare_dump.exe: OpenProcess and MiniDumpWriteDump alone) with the service's "createdump", each timed
// from CreateProcessW to the end of the process. Then it times the commands that write no dump, and the log
// transport beside the service with nothing to upload, against a program that does nothing (kx_trivial.exe).
// The programs are taken from this program's folder.
//
//   kx_bench <runs> <client directory> [service path]
//
// The service path, by default the one beside this program, lets two builds be compared.
// Memory figures come from runs of their own (the sampling would disturb the timed runs): the process is
// asked for GetProcessMemoryInfo every millisecond while it runs, and once more after it ended. Windows
// answers exactly for the ended process; Wine answers only while the process lives, with its current
// anonymous memory as the private bytes, so under Wine "private" is the highest value seen by the samples.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <iterator>
#include <string>
#include <vector>

#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "frontend/crash_pipe.h"
#include "handler/report_flow.h"

#include "bench_text.h"

namespace {

using kx::HexOf;
using kx::Median;
using kx::Quoted;
using kx::UniqueHandle;

constexpr DWORD kRunLimitMs = 120000;
constexpr size_t kMaxMessageBytes = 10485760;  // the service's read limit, terminating NUL included

kx::CapturedCrash g_crash;
HANDLE g_crashed = nullptr;

LONG WINAPI KeepCrashAndPark(EXCEPTION_POINTERS* pointers) {
  std::memcpy(&g_crash.context, pointers->ContextRecord, sizeof(CONTEXT));
  std::memcpy(&g_crash.record, pointers->ExceptionRecord, sizeof(EXCEPTION_RECORD));
  g_crash.threadId = ::GetCurrentThreadId();
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  ::GetCurrentThreadStackLimits(&low, &high);
  g_crash.stackLow = low;
  g_crash.stackHigh = high;
  ::SetEvent(g_crashed);
  for (;;) ::Sleep(INFINITE);  // the crashed thread stays alive, as a crash handler keeps it
}

DWORD WINAPI CrashingWorker(void*) {
  volatile std::uintptr_t address = 0x10;  // the first page is never mapped
  *reinterpret_cast<volatile int*>(address) = 1;
  return 0;
}

struct Run {
  bool ok = false;
  DWORD exitCode = 0;
  double ms = 0;
  std::uint64_t peakWorkingSet = 0;
  std::uint64_t peakPrivate = 0;
};

double Milliseconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

void Sample(HANDLE process, Run& run) {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  if (!::GetProcessMemoryInfo(process, &counters, sizeof(counters))) return;
  run.peakWorkingSet = std::max<std::uint64_t>(run.peakWorkingSet, counters.PeakWorkingSetSize);
  run.peakPrivate = std::max<std::uint64_t>(
      run.peakPrivate, std::max<std::uint64_t>(counters.PeakPagefileUsage, counters.PagefileUsage));
}

// Starts the command line and waits for its end; with `sampleMemory`, polls its memory figures meanwhile.
Run RunProgram(std::wstring commandLine, bool sampleMemory) {
  Run run;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  LARGE_INTEGER start;
  LARGE_INTEGER end;
  ::QueryPerformanceCounter(&start);
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
    std::fprintf(stderr, "CreateProcessW failed: %lu\n", static_cast<unsigned long>(::GetLastError()));
    return run;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  DWORD waited = WAIT_TIMEOUT;
  if (sampleMemory) {
    for (int i = 0; i < static_cast<int>(kRunLimitMs) && waited == WAIT_TIMEOUT; ++i) {
      Sample(process.get(), run);
      waited = ::WaitForSingleObject(process.get(), 1);
    }
  } else {
    waited = ::WaitForSingleObject(process.get(), kRunLimitMs);
  }
  ::QueryPerformanceCounter(&end);
  if (waited != WAIT_OBJECT_0) {
    ::TerminateProcess(process.get(), 1);
    std::fprintf(stderr, "a run did not end in time and was terminated\n");
    return run;
  }
  if (sampleMemory) Sample(process.get(), run);
  run.ms = Milliseconds(start, end);
  ::GetExitCodeProcess(process.get(), &run.exitCode);
  run.ok = run.exitCode == 0;
  return run;
}

double MiB(std::uint64_t bytes) { return static_cast<double>(bytes) / 1048576.0; }

std::uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class Bench {
 public:
  Bench(const kx::ReportFlow& reporter, std::wstring folder)
      : reporter_(reporter), folder_(std::move(folder)) {}

  // One createdump of the crash, its pipe served with `message`; false when the dump was not written.
  Run CreateDump(const std::wstring& identifier, const std::string& message, bool sampleMemory) {
    const std::wstring dump = kx::StoragePaths::DumpFolder() + L"\\kxWinDump_" +
                              reporter_.installationGuid() + L"_" + identifier + L"_abc.dmp";
    ::DeleteFileW(dump.c_str());
    kx::CrashPipe pipe(identifier);
    pipe.StartWriting(message + '\0');
    Run run = Service(L"createdump", identifier, sampleMemory);
    const kx::CrashPipe::Outcome served = pipe.Finish(5000);
    serviceDumpBytes_ = FileSize(dump);
    run.ok = run.ok && served.bytesWritten == message.size() + 1 && serviceDumpBytes_ > 0;
    return run;
  }

  Run BareDump(const std::wstring& hexCrash, bool sampleMemory) {
    const std::wstring dump = kx::StoragePaths::DumpFolder() + L"\\kxbench_bare.dmp";
    ::DeleteFileW(dump.c_str());
    Run run = RunProgram(Quoted(folder_ + L"\\kx_bare_dump.exe") + L" " + std::to_wstring(g_crash.processId) +
                             L" " + std::to_wstring(g_crash.threadId) + L" " + hexCrash + L" " + dump,
                         sampleMemory);
    bareDumpBytes_ = FileSize(dump);
    run.ok = run.ok && bareDumpBytes_ > 0;
    return run;
  }

  Run Service(const std::wstring& command, const std::wstring& identifier, bool sampleMemory) {
    return RunProgram(Quoted(reporter_.options().servicePath) + L" " +
                          Quoted(reporter_.options().clientDirectory) + L" " + command + L" " + identifier,
                      sampleMemory);
  }

  // Loads what the bare dumper loads, then ends at once (with exit code 1, for its missing arguments).
  Run BareIdle(bool sampleMemory) {
    Run run = RunProgram(Quoted(folder_ + L"\\kx_bare_dump.exe"), sampleMemory);
    run.ok = run.exitCode == 1;
    return run;
  }

  Run Trivial(bool sampleMemory) { return RunProgram(Quoted(folder_ + L"\\kx_trivial.exe"), sampleMemory); }

  // The log transport beside the service, given a folder with nothing to upload.
  Run TransportIdle(bool sampleMemory) {
    const std::wstring& service = reporter_.options().servicePath;
    const std::wstring transport =
        service.substr(0, service.find_last_of(L"\\/") + 1) + L"KXLogTransport.exe";
    const std::wstring empty = reporter_.options().clientDirectory + L"\\empty";
    ::CreateDirectoryW(empty.c_str(), nullptr);
    return RunProgram(Quoted(transport) + L" " + Quoted(reporter_.options().clientDirectory) + L" " +
                          Quoted(empty),
                      sampleMemory);
  }

  std::uint64_t bareDumpBytes_ = 0;
  std::uint64_t serviceDumpBytes_ = 0;

 private:
  const kx::ReportFlow& reporter_;
  std::wstring folder_;
};

// The message with its StackTrace replaced by filler lines, so that it fills the read limit exactly.
std::string LargestMessage(const std::string& message) {
  const std::string line = "12 kx_bench.exe+0x1234 0x00007FF612341234\n";
  const std::string head = message + "KX------KX" + "StackTraceKX---KX";
  std::string filler;
  const size_t room = kMaxMessageBytes - 1 - head.size();
  while (filler.size() + line.size() <= room) filler += line;
  filler.append(room - filler.size(), ' ');
  return head + filler;
}

void EmptyIngestQueue() {
  const std::wstring folder = kx::StoragePaths::IngestFolder();
  if (folder.empty()) return;
  WIN32_FIND_DATAW found = {};
  const kx::UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  if (!find) return;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
      ::DeleteFileW((folder + L"\\" + found.cFileName).c_str());
  } while (::FindNextFileW(find.get(), &found));
}

int Main(int argc, wchar_t** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: kx_bench <runs> <client directory> [service path]\n");
    return 2;
  }
  const int runs = std::max(1, _wtoi(argv[1]));
  const std::wstring folder = kx::ThisProgramFolder();

  const UniqueHandle crashed(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  g_crashed = crashed.get();
  g_crash.processId = ::GetCurrentProcessId();
  g_crash.kind = "access-violation";
  ::SetUnhandledExceptionFilter(KeepCrashAndPark);
  const UniqueHandle worker(::CreateThread(nullptr, 0, CrashingWorker, nullptr, 0, nullptr));
  if (!worker || ::WaitForSingleObject(g_crashed, 30000) != WAIT_OBJECT_0) {
    std::fprintf(stderr, "the worker thread did not crash\n");
    return 1;
  }

  kx::CrashHandlerOptions options;
  options.servicePath = argc == 4 ? std::wstring(argv[3]) : folder + L"\\KXWindowsClientService.exe";
  options.clientDirectory = argv[2];
  options.productName = "KX Bench";
  options.productVersion = "1.0";
  options.productBuild = "1";
  const kx::ReportFlow reporter(options);
  Bench bench(reporter, folder);
  const std::wstring identifier = L"bench-" + std::to_wstring(g_crash.processId);
  const std::string message = reporter.CrashDataMessage(g_crash, identifier);
  struct {
    CONTEXT context;
    EXCEPTION_RECORD record;
  } crash;
  crash.context = g_crash.context;
  crash.record = g_crash.record;
  const std::wstring hexCrash = HexOf(&crash, sizeof(crash));

  std::printf("createdump against the bare dump, %d runs, crash message of %zu bytes\n", runs,
              message.size() + 1);
  std::printf("      time (ms)                     peak working set (MiB)  peak private (MiB)\n");
  std::printf("run   bare  createdump  ratio      bare  createdump          bare  createdump\n");
  std::vector<double> bare, full, ratios, bareSets, workingSets, barePrivates, privates;
  bool allWell = true;
  for (int i = 1; i <= runs; ++i) {
    // Every other round the service goes first, so that neither program always follows the other.
    Run b;
    Run c;
    if (i % 2 == 1) {
      b = bench.BareDump(hexCrash, false);
      c = bench.CreateDump(identifier, message, false);
    } else {
      c = bench.CreateDump(identifier, message, false);
      b = bench.BareDump(hexCrash, false);
    }
    const Run mb = bench.BareDump(hexCrash, true);
    const Run m = bench.CreateDump(identifier, message, true);
    const bool ok = b.ok && c.ok && mb.ok && m.ok;
    allWell = allWell && ok;
    bare.push_back(b.ms);
    full.push_back(c.ms);
    ratios.push_back(c.ms / b.ms);
    bareSets.push_back(MiB(mb.peakWorkingSet));
    workingSets.push_back(MiB(m.peakWorkingSet));
    barePrivates.push_back(MiB(mb.peakPrivate));
    privates.push_back(MiB(m.peakPrivate));
    std::printf("%3d  %6.0f  %10.0f  %5.3f  %8.1f  %10.1f  %12.1f  %10.1f%s\n", i, b.ms, c.ms, ratios.back(),
                bareSets.back(), workingSets.back(), barePrivates.back(), privates.back(),
                ok ? "" : "  FAILED");
    std::fflush(stdout);
  }
  std::printf("med  %6.0f  %10.0f  %5.3f  %8.1f  %10.1f  %12.1f  %10.1f\n", Median(bare), Median(full),
              Median(ratios), Median(bareSets), Median(workingSets), Median(barePrivates), Median(privates));
  // The fastest run of each is the least disturbed by other work on the machine.
  const double fastestBare = *std::min_element(bare.begin(), bare.end());
  const double fastestFull = *std::min_element(full.begin(), full.end());
  std::printf("min  %6.0f  %10.0f  %5.3f\n", fastestBare, fastestFull, fastestFull / fastestBare);
  std::printf(
      "median ratio %.3f (median createdump / median bare: %.3f); dump bytes: bare %llu, service %llu\n",
      Median(ratios), Median(full) / Median(bare), static_cast<unsigned long long>(bench.bareDumpBytes_),
      static_cast<unsigned long long>(bench.serviceDumpBytes_));

  const std::string largest = LargestMessage(message);
  const int largeRuns = std::min(runs, 3);
  std::vector<double> largeMs, largeWorkingSets, largePrivates;
  for (int i = 0; i < largeRuns; ++i) {
    const Run m = bench.CreateDump(identifier, largest, true);
    allWell = allWell && m.ok;
    largeMs.push_back(m.ms);
    largeWorkingSets.push_back(MiB(m.peakWorkingSet));
    largePrivates.push_back(MiB(m.peakPrivate));
  }
  std::printf(
      "\ncreatedump with a %zu-byte message (the read limit), %d sampled runs: median %.1f ms, "
      "peak working set %.1f MiB, peak private %.1f MiB (largest of the runs)\n",
      largest.size() + 1, largeRuns, Median(largeMs),
      *std::max_element(largeWorkingSets.begin(), largeWorkingSets.end()),
      *std::max_element(largePrivates.begin(), largePrivates.end()));

  struct Command {
    const char* name;
    std::vector<double> ms;
    Run memory;
  } commands[] = {{"trivial program", {}, {}},
                  {"bare dumper without arguments", {}, {}},
                  {"dontsend of a missing report", {}, {}},
                  {"postingestevent, empty queue", {}, {}},
                  {"sendlog, no signature check", {}, {}},
                  {"createdump without a pipe", {}, {}},
                  {"KXLogTransport, empty folder", {}, {}}};
  auto runCommand = [&](size_t which, bool sample) {
    switch (which) {
      case 0: return bench.Trivial(sample);
      case 1: return bench.BareIdle(sample);
      case 2: return bench.Service(L"dontsend", L"bench-missing", sample);
      case 3: return bench.Service(L"postingestevent", L"bench-missing", sample);
      case 4: return bench.Service(L"sendlog", L"bench-missing", sample);
      case 5: return bench.Service(L"createdump", L"bench-no-pipe", sample);
      default: return bench.TransportIdle(sample);
    }
  };
  // These runs are short: five times as many as the rounds, at least 25, so that the medians hold still
  // when other work shares the CPUs.
  const int quickRuns = std::max(25, 5 * runs);
  // "Empty queue" must hold: the frozen-time runs of an earlier bench leave their events queued in this
  // prefix (their servers are a closed port), and posting them would be measured instead.
  EmptyIngestQueue();
  for (int i = 0; i < quickRuns; ++i) {
    for (size_t which = 0; which < std::size(commands); ++which) {
      const Run run = runCommand(which, false);
      allWell = allWell && run.ok;
      commands[which].ms.push_back(run.ms);
    }
  }
  // A millisecond's sampling can miss the peak of so short a run: the highest of three runs.
  for (int i = 0; i < 3; ++i) {
    for (size_t which = 0; which < std::size(commands); ++which) {
      const Run run = runCommand(which, true);
      Run& memory = commands[which].memory;
      memory.peakWorkingSet = std::max(memory.peakWorkingSet, run.peakWorkingSet);
      memory.peakPrivate = std::max(memory.peakPrivate, run.peakPrivate);
    }
  }
  std::printf(
      "\ncommands without a dump, %d runs each: median start-to-exit, and beyond the trivial program\n"
      "(+ms: median over median; paired: median of each round's difference from the trivial program of\n"
      "the same round, which slow drift in the machine's load does not move)\n",
      quickRuns);
  std::printf("%-30s  %8s  %8s  %8s  %14s  %11s\n", "program", "ms", "+ms", "paired", "peak ws MiB",
              "private MiB");
  const std::vector<double>& trivialMs = commands[0].ms;
  for (const Command& command : commands) {
    std::vector<double> paired;
    for (size_t i = 0; i < command.ms.size(); ++i) paired.push_back(command.ms[i] - trivialMs[i]);
    std::printf("%-30s  %8.1f  %8.1f  %8.1f  %14.1f  %11.1f\n", command.name, Median(command.ms),
                Median(command.ms) - Median(trivialMs), Median(paired), MiB(command.memory.peakWorkingSet),
                MiB(command.memory.peakPrivate));
  }
  if (!allWell) std::printf("\nSOME RUNS FAILED (marked above): the figures are not to be trusted\n");
  return allWell ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  const int result = Main(argc, argv);
  std::fflush(stdout);
  ::ExitProcess(static_cast<UINT>(result));  // the crashed thread is parked: only this ends the process
}

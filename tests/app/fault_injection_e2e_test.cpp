// Faults injected into whole runs of the real service: a run killed in the middle of createdump or of
// sendlog, a crashed process that ends while its dump is written, and a server that hangs up inside its
// header block. Each case checks the files left behind, and that the next command handles them.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "common/win_handles.h"
#include "handler/child_process.h"
#include "handler/crash_pipe.h"
#include "handler/crash_reporter.h"
#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/https_test_server.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

constexpr DWORD kWaitMs = 60000;
constexpr char kClosing[] = "\r\n</crashreport>\r\n";

// A report written whole ends with its end tag.
bool IsWhole(const std::string& report) {
  const std::string end = "\r\n</crashreport>";
  return report.size() > end.size() && report.compare(report.size() - end.size(), end.size(), end) == 0;
}

struct Started {
  UniqueHandle process, thread;
  DWORD processId = 0, threadId = 0;
};

Started Start(const std::wstring& program, const std::vector<std::wstring>& words) {
  std::wstring commandLine = CommandLineOf(program, words);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  Started started;
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    ADD_FAILURE() << "cannot start " << std::string(program.begin(), program.end());
    return started;
  }
  started.process.reset(info.hProcess);
  started.thread.reset(info.hThread);
  started.processId = info.dwProcessId;
  started.threadId = info.dwThreadId;
  return started;
}

// Waits (bounded) until the file is there; false when the runner ended or the wait ran out first.
bool WaitForFile(const std::wstring& path, const Started& runner) {
  for (DWORD waited = 0; waited < kWaitMs; waited += 2) {
    if (IsFile(path)) return true;
    if (::WaitForSingleObject(runner.process.get(), 2) == WAIT_OBJECT_0) return IsFile(path);
  }
  return false;
}

// Ends the process (killed first, when asked) and gives its exit code.
DWORD End(const Started& started, bool kill) {
  if (kill) ::TerminateProcess(started.process.get(), 1);
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(started.process.get(), kWaitMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(started.process.get(), &code);
  }
  return code;
}

std::wstring Name(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }
using Names = std::vector<std::wstring>;

// A process that sleeps for ever stands in for the crashed one; the service is started with createdump
// while the test serves the crash data that names the process's first thread.
struct CrashRun {
  CrashRun(const std::wstring& client, const std::string& id)
      : target(Start(ThisProgramFolder() + L"\\hanging_program.exe", {})), pipe(WideId(id)) {
    CapturedCrash crash = {};
    crash.context.ContextFlags = CONTEXT_FULL;
    ::SuspendThread(target.thread.get());
    ::GetThreadContext(target.thread.get(), &crash.context);
    ::ResumeThread(target.thread.get());
    crash.record.ExceptionCode = EXCEPTION_ACCESS_VIOLATION;
    crash.record.ExceptionAddress = reinterpret_cast<void*>(crash.context.Rip);
    crash.processId = target.processId;
    crash.threadId = target.threadId;
    crash.kind = "access-violation";
    pipe.StartWriting(CrashReporter(CrashHandlerOptions()).CrashDataMessage(crash, WideId(id)) + '\0');
    service = Start(ServicePath(), {client, L"createdump", WideId(id)});
  }
  ~CrashRun() { End(target, true); }

  Started target;
  CrashPipe pipe;
  Started service;
};

class FaultInjectionTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const std::wstring& folder : {crashLogs(), dumps(), client_})
      std::filesystem::create_directories(folder);
  }

  std::wstring crashLogs() const { return sandbox_.storageRoot() + L"\\crashlogs"; }
  std::wstring dumps() const { return sandbox_.storageRoot() + L"\\dumps"; }
  ServiceRun Run(const wchar_t* command, const std::string& id) {
    return RunService({client_, command, WideId(id)});
  }

  AppDataSandbox sandbox_;
  std::wstring client_ = sandbox_.roaming() + L"\\client";
};

TEST_F(FaultInjectionTest, CreatedumpKilledMidwayLeavesNoCutReportAndTheNextCommandsHandleItsFiles) {
  // Killed as its dump appears (the report comes only after the dump), and as its report appears.
  for (const bool atReport : {false, true}) {
    SCOPED_TRACE(atReport ? "killed as the report appears" : "killed as the dump appears");
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files(sandbox_, id);
    CrashRun run(client_, id);
    ASSERT_TRUE(WaitForFile(atReport ? files.report : files.dump, run.service));
    End(run.service, true);
    End(run.target, true);

    // A report is there whole or not at all (a slow look may find the run further on than asked); a dump
    // without its report is not finished by sendlog.
    const bool reported = atReport || IsFile(files.report);
    EXPECT_EQ(reported ? Names{Name(files.report)} : Names{}, ListTree(crashLogs()));
    EXPECT_EQ(Names{Name(files.dump)}, ListTree(dumps()));
    if (reported) {
      EXPECT_TRUE(IsWhole(ReadFileBytes(files.report).value_or("")));
    }
    EXPECT_EQ(0u, Run(L"sendlog", id).exitCode);
    EXPECT_EQ(reported ? Names{Name(files.finalReport)} : Names{}, ListTree(crashLogs()));
    EXPECT_EQ(Names{Name(files.dump) + (reported ? L".final" : L"")}, ListTree(dumps()));
    EXPECT_EQ(0u, Run(L"dontsend", id).exitCode);
    EXPECT_EQ(reported ? Names{Name(files.dump) + L".final"} : Names{}, ListTree(dumps()));
  }
}

TEST_F(FaultInjectionTest, ACrashedProcessEndingWhileItsDumpIsWrittenStillGetsItsReport) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(sandbox_, id);
  CrashRun run(client_, id);
  ASSERT_TRUE(WaitForFile(files.dump, run.service));
  End(run.target, true);
  EXPECT_EQ(0u, End(run.service, false));

  EXPECT_EQ(Names{Name(files.report)}, ListTree(crashLogs()));
  EXPECT_EQ(Names{Name(files.dump)}, ListTree(dumps()));
  EXPECT_TRUE(IsWhole(ReadFileBytes(files.report).value_or("")));
}

// A full disk, or the report's name taken: the dump, already written, goes too; no command would send it.
TEST_F(FaultInjectionTest, AReportThatCannotBeWrittenTakesItsDumpWithIt) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(sandbox_, id);
  std::filesystem::create_directories(files.report);
  CrashRun run(client_, id);
  EXPECT_EQ(0u, End(run.service, false));
  EXPECT_EQ(Names{Name(files.report)}, ListTree(crashLogs()));  // the folder, and nothing in it
  EXPECT_EQ(Names{}, ListTree(dumps()));
}

// sendlog writes the closed document beside the original, moves it to the final name, removes the original,
// then moves the dump: each state a run stopped between two of those steps leaves.
TEST_F(FaultInjectionTest, SendlogAfterAStoppedSendlogFinishesTheReportOnce) {
  const std::string document = "<crashreport>\r\n<kept/>\r\n</crashreport>\r\n";
  const std::string finished = "<crashreport>\r\n<kept/>\r\n" + std::string(kClosing);
  const std::string other = "<crashreport>\r\n<other/>\r\n";
  // Whether the original and the temporary copy are there, and the final document (empty: none).
  const std::tuple<const char*, bool, bool, std::string> cases[] = {
      {"stopped while writing the closed document", true, true, ""},
      {"stopped before removing the original", true, false, finished},
      {"stopped before moving the dump", false, false, finished},
      {"a final document of another run: the original stays, and so does the dump", true, false, other},
  };
  for (const auto& [what, original, closing, final] : cases) {
    SCOPED_TRACE(what);
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files(sandbox_, id);
    if (original) WriteFileBytes(files.report, document);
    if (closing) WriteFileBytes(files.report + L".closing", "<crashrep");
    if (!final.empty()) WriteFileBytes(files.finalReport, final);
    WriteFileBytes(files.dump, "MDMP");

    EXPECT_EQ(0u, Run(L"sendlog", id).exitCode);
    const bool kept = final == other;
    EXPECT_EQ(kept ? other : finished, ReadFileBytes(files.finalReport).value_or("<none>"));
    EXPECT_EQ(kept, IsFile(files.report));
    EXPECT_FALSE(IsFile(files.report + L".closing"));
    EXPECT_EQ(kept, IsFile(files.dump));
    EXPECT_EQ(!kept, IsFile(files.dump + L".final"));
  }
}

// The hang-up cuts the link's line: whatever the platform makes of the rest, no cut link reaches the front
// end, and the dump goes as for an answer that does not ask for it.
TEST_F(FaultInjectionTest, AServerHangingUpInsideItsHeaderBlockHandsOnNoCutValue) {
  HttpsTestServer server;
  ASSERT_EQ("", server.failure());
  WriteFileBytes(client_ + L"\\kx_win_client_config.cfg",
                 "kxcn-url = localhost\r\nkxcn-port = " + std::to_string(server.port()) + "\r\n");
  TestAnswer cut;
  cut.kind = TestAnswer::Kind::kCut;
  cut.headerLines = {"Attach_Dump: no", "Solution_url: https://solutions.example/cu"};
  server.SetAnswer("/solution-url/win/intel", cut);

  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(sandbox_, id);
  WriteFileBytes(files.report, "<crashreport>\r\n</crashreport>\r\n");
  WriteFileBytes(files.dump, "MDMP");
  CrashPipe pipe(WideId(id));
  pipe.StartReading();
  EXPECT_EQ(0u, Run(L"solutionurl", id).exitCode);
  EXPECT_EQ(std::string("-1") + '\0', pipe.Finish(2000).received);
  EXPECT_EQ(1u, server.Requests().size());
  EXPECT_EQ(Names{Name(files.report)}, ListTree(crashLogs()));
  EXPECT_EQ(Names{}, ListTree(dumps()));
}

}  // namespace
}  // namespace kx::test

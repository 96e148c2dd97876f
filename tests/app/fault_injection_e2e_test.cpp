// Whole runs of the real service with faults injected: a run killed in the middle of createdump or of
// sendlog, a crashed process that ends while its dump is written, a report that cannot be written, a command
// line of the wrong shape. Each case checks the files left behind, and that the next command handles them.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "frontend/crash_pipe.h"
#include "handler/report_flow.h"
#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

// Waits (bounded) until the file is there; false when the runner ended or the wait ran out first.
bool WaitForFile(const std::wstring& path, const StartedProgram& runner) {
  for (DWORD waited = 0; waited < 60000; waited += 2) {
    if (IsFile(path)) return true;
    if (::WaitForSingleObject(runner.process.get(), 2) == WAIT_OBJECT_0) return IsFile(path);
  }
  return false;
}

std::wstring Name(const std::wstring& path) { return path.substr(path.rfind(L'\\') + 1); }
using Names = std::vector<std::wstring>;

// A process that sleeps for ever stands in for the crashed one; the service is started with createdump
// while the test serves the crash data that names the process's first thread. Both end with the run.
struct CrashRun {
  CrashRun(const std::wstring& client, const std::string& id)
      : target(ThisProgramFolder() + L"\\hanging_program.exe", {}),
        pipe(WideId(id)),
        service((Serve(id), ServicePath()), {client, L"createdump", WideId(id)}) {}

  void Serve(const std::string& id) {
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
    pipe.StartWriting(ReportFlow(CrashHandlerOptions()).CrashDataMessage(crash, WideId(id)) + '\0');
  }

  StartedProgram target;
  CrashPipe pipe;
  StartedProgram service;
};

class FaultInjectionTest : public testing::Test {
 protected:
  void SetUp() override { EmptyStorage(); }
  void EmptyStorage() {
    std::filesystem::remove_all(sandbox_.storageRoot());
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

TEST_F(FaultInjectionTest, ARunStoppedInCreatedumpLeavesNoCutReportAndTheNextCommandsHandleItsFiles) {
  // The service killed as its dump appears (the report comes only after the dump) and as its report
  // appears; and the crashed process killed as its dump appears, which must still get its whole report.
  const std::tuple<const char*, bool, bool> cases[] = {
      {"service killed as the dump appears", false, true},
      {"service killed as the report appears", true, true},
      {"crashed process killed as the dump appears", false, false},
  };
  for (const auto& [what, atReport, killService] : cases) {
    SCOPED_TRACE(what);
    EmptyStorage();
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files(sandbox_, id);
    CrashRun run(client_, id);
    ASSERT_TRUE(WaitForFile(atReport ? files.report : files.dump, run.service));
    if (killService) run.service.End(true);
    run.target.End(true);
    EXPECT_EQ(0u, killService ? 0u : run.service.End(false));

    // A report is there whole or not at all (a slow look may find a run further on than asked); a dump
    // without its report is not finished by sendlog.
    const bool reported = IsFile(files.report);
    EXPECT_TRUE(reported || (killService && !atReport));
    EXPECT_EQ(reported ? Names{Name(files.report)} : Names{}, ListTree(crashLogs()));
    EXPECT_EQ(Names{Name(files.dump)}, ListTree(dumps()));
    if (reported) {
      EXPECT_TRUE(EndsWith(ReadFileBytes(files.report).value_or(""), "\r\n</crashreport>"));
    }
    EXPECT_EQ(0u, Run(L"sendlog", id).exitCode);
    EXPECT_EQ(reported ? Names{Name(files.finalReport)} : Names{}, ListTree(crashLogs()));
    EXPECT_EQ(Names{Name(files.dump) + (reported ? L".final" : L"")}, ListTree(dumps()));
    EXPECT_EQ(0u, Run(L"dontsend", id).exitCode);
    EXPECT_EQ(reported ? Names{Name(files.dump) + L".final"} : Names{}, ListTree(dumps()));
  }
}

// The dumps folder a symbolic link: no command acts in the storage folders or where the link leads; logs say why.
TEST_F(FaultInjectionTest, NoCommandActsThroughALinkedStorageFolder) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(sandbox_, id);
  const std::wstring to = sandbox_.roaming() + L"\\elsewhere", dump = L"\\" + Name(files.dump);
  sandbox_.EnableLogging();
  std::filesystem::rename(dumps(), to);
  WriteFileBytes(files.report, "<crashreport>\r\n");
  WriteFileBytes(to + dump, "MDMP");
  StartLinuxProgram(L"Z:\\bin\\ln", L"-s " + QuoteWord(UnixPath(to)) + L" " + QuoteWord(UnixPath(dumps())));
  ASSERT_TRUE(WaitUntil("ln -s to make dumps", std::chrono::seconds(60), [&] { return IsFile(files.dump); }));
  for (const wchar_t* command : {L"createdump", L"sendlog", L"dontsend"}) {
    EXPECT_EQ(0u, Run(command, id).exitCode);
    EXPECT_EQ(Names{Name(files.report)}, ListTree(crashLogs())) << command;
    EXPECT_EQ(Names{dump.substr(1)}, ListTree(to)) << command;
  }
  EXPECT_TRUE(Contains(ReadFileBytes(sandbox_.logFolder() + L"\\LogTransportProcessor.txt").value_or(""), "folder"));
  // Linux removes the link: Wine's removal of a link whose target has gone first never ends.
  StartLinuxProgram(L"Z:\\bin\\rm", L"-f " + QuoteWord(UnixPath(dumps())));
  EXPECT_TRUE(WaitUntil("rm to remove dumps", std::chrono::seconds(60), [&] { return !IsFile(files.dump); }));
}

// A full disk, or the report's name taken: the dump, already written, goes too; no command would send it.
TEST_F(FaultInjectionTest, AReportThatCannotBeWrittenTakesItsDumpWithIt) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(sandbox_, id);
  std::filesystem::create_directories(files.report);
  CrashRun run(client_, id);
  EXPECT_EQ(0u, run.service.End(false));
  EXPECT_EQ(Names{Name(files.report)}, ListTree(crashLogs()));  // the folder, and nothing in it
  EXPECT_EQ(Names{}, ListTree(dumps()));
}

// sendlog writes the closed document beside the original, moves it to the final name, removes the original,
// then moves the dump: each state a run stopped between two of those steps leaves.
TEST_F(FaultInjectionTest, SendlogAfterAStoppedSendlogFinishesTheReportOnce) {
  const std::string document = "<crashreport>\r\n<kept/>\r\n</crashreport>\r\n";
  const std::string finished = "<crashreport>\r\n<kept/>\r\n\r\n</crashreport>\r\n";
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

// What a stopped createdump or sendlog leaves beside the dump is the crash's too: dontsend takes it all.
TEST_F(FaultInjectionTest, DontsendAfterAStoppedRunLeavesNothingOfTheCrash) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(sandbox_, id);
  WriteFileBytes(files.report, "<crashreport>\r\n");
  WriteFileBytes(files.report + L".writing", "<crashrep");
  WriteFileBytes(files.report + L".closing", "<crashrep");
  WriteFileBytes(files.report + L".dmpattached.closing", "<crashrep");
  WriteFileBytes(files.dump, "MDMP");
  EXPECT_EQ(0u, Run(L"dontsend", id).exitCode);
  EXPECT_EQ(Names{}, ListTree(crashLogs()));
  EXPECT_EQ(Names{}, ListTree(dumps()));
}

// A command line of the wrong shape ends with code 0 and leaves no trace. Which steps each command runs is
// the dispatch plan's test.
TEST(ServiceCommandLineTest, AWrongWordCountEndsWithExitCodeZeroAndCreatesNothing) {
  AppDataSandbox sandbox;
  std::wstring hundredWords;
  for (int i = 0; i < 100; ++i) hundredWords += L" createdump";
  for (const std::wstring& arguments : {std::wstring(L"C:\\client createdump"),
                                        std::wstring(L"C:\\client createdump 1234 1 extra"), hundredWords}) {
    SCOPED_TRACE(std::string(arguments.begin(), arguments.end()).substr(0, 60));
    const ServiceRun run = RunProgram(ServicePath(), arguments);
    EXPECT_TRUE(run.finished && run.exitCode == 0) << Describe(run);
    EXPECT_EQ(std::vector<std::wstring>{}, ListTree(sandbox.roaming()));
  }
}

}  // namespace
}  // namespace kx::test

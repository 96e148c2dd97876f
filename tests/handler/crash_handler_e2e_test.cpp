// The crash handler library in a real application (KXCrashDemo) crashing for real, against the real service
// and a local solution and ingest server: what each kind of crash leaves, what each policy does with it, and
// that the application ends within its limits however the service behaves.
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dispatch/report_names.h"
#include "dumpinfo/minidump_parser.h"
#include "frontend/reporter_ticket.h"
#include "prefs/preference_store.h"
#include "kx/crash_handler.h"
#include "frontend/run_history.h"
#include "support/appdata_sandbox.h"
#include "support/https_test_server.h"
#include "support/linux_programs.h"
#include "support/launch_records.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

constexpr DWORD kLaunchWaitMs = 180000;
constexpr char kSolution[] = "/solution-url/win/intel";

std::wstring DemoPath() { return ThisProgramFolder() + L"\\KXCrashDemo.exe"; }

// The source lines of a code address of KXCrashDemo.exe, the outermost inlining function's last, from the
// toolchain's addr2line. Wine starts a Linux program without waiting for it, so the text is moved into
// place whole and waited for.
std::string SourceOf(const std::string& address) {
  const std::wstring out = ThisProgramFolder() + L"\\handler_e2e_addr2line.txt";
  ::DeleteFileW(out.c_str());
  const std::wstring target = L"'" + UnixPath(out) + L"'";
  const std::wstring command = L"x86_64-w64-mingw32-addr2line -i -e '" + UnixPath(DemoPath()) + L"' " +
                               std::wstring(address.begin(), address.end()) + L" > " + target +
                               L".part && mv " + target + L".part " + target;
  RunProgram(L"Z:\\bin\\sh", L"-c " + QuoteWord(command));
  WaitUntil("addr2line's answer for " + address, std::chrono::seconds(120), [&] { return IsFile(out); });
  return ReadFileBytes(out).value_or("");
}

// The one file of the folder, which every sent crash leaves; empty when there is none or more than one.
std::wstring OnlyFile(const std::wstring& folder) {
  const std::vector<std::wstring> names = ListTree(folder);
  return names.size() == 1 ? folder + L"\\" + names.front() : std::wstring();
}

struct CrashRow {
  const wchar_t* kind;
  const wchar_t* policy;
  DWORD code;
  const char* crashType;          // empty: held back, and nothing of it stays
  bool faultInDemoSource = true;  // false: in the compiler's stack probe, which large frames call first
  const char* previousRuns = "";  // the report's figures of the earlier runs; empty: not looked at
  const char* guard = "";         // the report's crashLoop element; empty: none, and a dump
  const char* heldBack = "";      // the report's heldBack element; empty: none
};

class CrashHandlerTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    server_ = std::make_unique<HttpsTestServer>();
    TestAnswer answer;
    answer.headerLines = {"Solution_url: https://help.example/kb/4711", "Attach_Dump: yes"};
    server_->SetAnswer(kSolution, answer);
    server_->SetAnswer("/ingest", TestAnswer());
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    ASSERT_EQ("", server_->failure());
    // The launch recorder stands in for the log transport and records its starts in the client directory.
    client_ = sandbox_.roaming() + L"\\client dir";
    std::filesystem::create_directories(client_);
    std::filesystem::copy_file(LaunchRecorderPath(), client_ + L"\\KXLogTransport.exe");
    const std::string port = std::to_string(server_->port());
    WriteFileBytes(client_ + L"\\kx_win_client_config.cfg",
                   "kxcn-url = localhost\r\nkxcn-port = " + port +
                       "\r\nkxingest-url = localhost\r\nkxingest-port = " + port + "\r\n");
  }

  // The application's own lines ("[handler] ...") go to output().
  ServiceRun Crash(const std::wstring& words, const std::wstring& service = L"", DWORD jobLimits = 0,
                   const std::function<void(DWORD)>& beforeStart = {}) {
    ::DeleteFileW(reporterLog().c_str());
    return RunProgramToFile(DemoPath(),
                            words + L" --client-dir " + QuoteWord(client_) + L" --service " +
                                QuoteWord(service.empty() ? ServicePath() : service) + L" --reporter-log " +
                                QuoteWord(reporterLog()),
                            sandbox_.roaming() + L"\\app.out", 240000, jobLimits, beforeStart);
  }
  std::string output() const { return ReadFileBytes(sandbox_.roaming() + L"\\app.out").value_or(""); }

  // The reporter carries the steps after the dump once the application has ended: waits (bounded) until
  // `runs` reporters have said they are done.
  std::string WaitForReporter(size_t runs = 1) const {
    std::string log;
    const bool done = WaitUntil(std::to_string(runs) + " reporter(s) to say done", std::chrono::seconds(300), [&] {
      log = ReadFileBytes(reporterLog()).value_or("");
      size_t said = 0;
      const std::string line = "KXCrashReporter: done";
      for (size_t at = log.find(line); at != std::string::npos; at = log.find(line, at + 1)) ++said;
      return said >= runs;
    });
    EXPECT_TRUE(done) << "gave up after 300 s waiting for " << runs << " reporter(s) to say done; the log:\n"
                      << log;
    return log;
  }

  // The requests to `path` since the server's `since`th.
  std::vector<RecordedRequest> RequestsTo(const std::string& path, size_t since) const {
    std::vector<RecordedRequest> found;
    const std::vector<RecordedRequest> all = server_->Requests();
    for (size_t r = since; r < all.size(); ++r) {
      if (all[r].path == path) found.push_back(all[r]);
    }
    return found;
  }

  // Crashes the demo as the row says and checks what it left: the report, the fault site, the run history's
  // figures, the loop guard, the day's limit, and the dump handed to the transport.
  void CrashAndCheck(const CrashRow& c) {
    SCOPED_TRACE(testing::Message() << c.kind << L" " << c.policy << " " << c.previousRuns);
    std::filesystem::remove_all(crashLogs());
    std::filesystem::remove_all(dumps());
    const size_t launchesBefore = ReadLaunches(client_).size();
    const size_t requestsBefore = server_->Requests().size();
    ::DeleteFileW(reporterLog().c_str());
    const StartedProgram demo(DemoPath(), {c.kind, c.policy, L"--reports-per-day", L"2", L"--annotate-runs",
                                           L"--client-dir", client_, L"--service", ServicePath(),
                                           L"--reporter-log", reporterLog()});
    ASSERT_EQ(c.code, demo.End(false));
    const bool asked = c.policy == std::wstring(L"--ask");
    const std::string log = asked ? "" : WaitForReporter();
    if (*c.crashType == '\0') {
      // Nothing of it stays: asking, dontsend ran before the application ended.
      EXPECT_EQ(std::vector<std::wstring>{}, ListTree(crashLogs()));
      if (!asked) return;
      // A day later the day's count starts again.
      std::optional<RunHistory> read = ParseRunHistory(ReadFileBytes(runs()).value_or(""));
      ASSERT_TRUE(read.has_value());
      for (SignatureRecord& record : read->signatures) --record.day;
      return WriteFileBytes(runs(), FormatRunHistory(*read));
    }
    // The application ends as soon as its dump is written: the report reaches the solution server later,
    // from the reporter.
    FILETIME created, exited, kernel, user;
    ASSERT_TRUE(::GetProcessTimes(demo.process.get(), &created, &exited, &kernel, &user));
    const std::vector<RecordedRequest> solutions = RequestsTo(kSolution, requestsBefore);
    ASSERT_FALSE(solutions.empty()) << log;
    EXPECT_LT((0ULL + exited.dwHighDateTime) << 32 | exited.dwLowDateTime, solutions[0].received) << log;

    const std::string text = ReadFileBytes(OnlyFile(crashLogs())).value_or("");
    EXPECT_TRUE(Contains(text, std::string("crashType=\"") + c.crashType + "\""));
    // The fault site is the application's own code, never the handler's nor the runtime's: the first frame
    // and the crash's instruction are one address, in the demo's source.
    const std::size_t frame = text.find("<thread index=\"0\">\r\n0 KXCrashDemo.exe+0x");
    ASSERT_NE(std::string::npos, frame) << text;
    const std::string address = text.substr(text.find(" 0x", frame) + 1, 18);
    EXPECT_TRUE(Contains(text, "instruction=\"" + address + "\""));
    const std::string source = SourceOf(address);
    EXPECT_EQ(c.faultInDemoSource, source.rfind("src/crashdemo/main.cpp:") != std::string::npos) << source;
    EXPECT_FALSE(Contains(source, "src/handler/")) << source;
    EXPECT_EQ(c.crashType == std::string("cpp-exception"),
              Contains(text, "<cppException type=\"std::runtime_error\">\r\nan exception nobody catches\r\n"
                             "</cppException>"));
    const std::string figures = *c.previousRuns == '\0' ? "" : c.previousRuns + std::string("<");
    EXPECT_TRUE(Contains(text, "key=\"demo.previousRuns\">previous runs " + figures)) << text;
    const std::string guard = std::string("<crashLoop crashes=\"") + c.guard + "\" dump=\"none\"/>";
    EXPECT_EQ(*c.guard != '\0', Contains(text, guard));
    EXPECT_TRUE(Contains(text, "KXCrashDemo.exe\"/>"));  // the module list, with or without dump
    EXPECT_EQ(*c.heldBack != '\0', Contains(text, std::string("<heldBack reports=\"") + c.heldBack + "\"/>"));
    EXPECT_EQ(*c.guard == '\0', !OnlyFile(dumps()).empty()) << log;
    // Both folders handed to the transport, dump or not. Waited for here, so that a start still on its way
    // is never counted as the next crash's.
    EXPECT_EQ(launchesBefore + 2, WaitForLaunchRecords(client_, launchesBefore + 2, kLaunchWaitMs).size());
    if (*c.guard != '\0') return;

    const MinidumpParse dump = ParseMinidump(ReadFileBytes(OnlyFile(dumps())).value_or(""));
    ASSERT_TRUE(dump.info.exception.has_value()) << dump.error;
    EXPECT_EQ(c.code, dump.info.exception->code);
  }
  std::wstring runs() const { return sandbox_.storageRoot() + L"\\runs-KXCrashDemo.exe"; }

  // Reports past the age limit with a ticket (crash 1) and without (2). The ticket's service is not the one
  // beside the reporter, which alone may run.
  void WriteStrandedReports() const {
    const std::wstring guid = PreferenceStore::GetInstallationGuid(), id = L"20261101-000000-";
    ReporterTicket stale;
    stale.crashIdentifier = id + L"1", stale.kind = "access-violation", stale.progressLog = reporterLog();
    stale.policy = ReportPolicy::kSend, stale.servicePath = L"C:\\nowhere\\s.exe", stale.clientDirectory = client_;
    const FILETIME old = {0, 0x01DD0000};  // June 2026; Wine reads a creation time from all three
    const std::pair<std::wstring, std::string> files[] = {
        {sandbox_.storageRoot() + L"\\reporter\\" + id + L"1.ticket", FormatTicket(stale)},
        {crashLogs() + L"\\" + ReportStem(guid, id + L"1") + kReportSuffix, "x"},
        {dumps() + L"\\" + DumpStem(guid, id + L"2") + kMiniDumpSuffix, "x"}};
    for (const auto& [path, text] : files) {
      std::filesystem::create_directories(path.substr(0, path.rfind(L'\\')));
      WriteFileBytes(path, text);
      const UniqueFileHandle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, 0));
      EXPECT_TRUE(::SetFileTime(file.get(), &old, &old, &old));
    }
  }

  std::vector<std::wstring> LeftOver() const {  // of reports, but what the transport has (".final")
    std::vector<std::wstring> left;
    for (const std::wstring& folder : {crashLogs(), dumps(), sandbox_.storageRoot() + L"\\reporter"})
      for (const std::wstring& name : ListTree(folder))
        if (name.find(L".final") == std::wstring::npos) left.push_back(name);
    return left;
  }

  std::wstring reporterLog() const { return sandbox_.roaming() + L"\\reporter.log"; }
  std::wstring crashLogs() const { return sandbox_.storageRoot() + L"\\crashlogs"; }
  std::wstring dumps() const { return sandbox_.storageRoot() + L"\\dumps"; }

  static std::unique_ptr<HttpsTestServer> server_;
  AppDataSandbox sandbox_;
  std::wstring client_;
};

std::unique_ptr<HttpsTestServer> CrashHandlerTest::server_;

// Nothing of a crash that is not sent stays (attachments and the captured report's files included), and the
// application ends with its own code whatever the service does. A refusal by policy posts the event; a crash
// that left no report posts only the event that says so; with no reporter to ask, the application's own "no",
// or no service that works, nothing at all reaches a server.
TEST_F(CrashHandlerTest, WhatIsNotSentLeavesNothingAndTheApplicationEndsWithItsCode) {
  const std::wstring hanging = ThisProgramFolder() + L"\\hanging_program.exe";
  const std::wstring failing = L"access-violation --send --timeout-ms 3000";
  const DWORD av = EXCEPTION_ACCESS_VIOLATION;
  const struct {
    std::wstring words;
    std::wstring service;  // empty: the real one
    DWORD code;
    size_t reporters;   // the reporters started, each to say done before anything is looked at
    const char* event;  // a text of the event posted; null: nothing reaches a server
    const char* said;   // one of the application's own lines
  } cases[] = {
      {L"access-violation --dont-send --attach-log --capture-first", L"", av, 2, "\"report.sent\":\"no\"", ""},
      {L"access-violation --ask --reporter C:\\nowhere\\KXCrashReporter.exe --attach-log --capture-first",
       L"", av, 0, nullptr, ""},
      // The application's own answer, in the process, asked before anything is sent: "no" is kept like the user's.
      {L"access-violation --ask --decide no --attach-log --capture-first", L"", av, 0, nullptr, ""},
      {failing, L"C:\\nowhere\\KXWindowsClientService.exe", av, 0, nullptr, ""},
      // A createdump that had to be stopped may have left part of a dump: dontsend clears it.
      {failing, hanging, av, 0, nullptr, "[handler] dontsend: the service"},
      // crashing_front_end's command-line check refuses the service's words and ends at once: no report, so
      // the reporter (which runs the service beside itself) neither exchanges nor sends, and says so.
      {failing, ThisProgramFolder() + L"\\crashing_front_end.exe", av, 1, "\"report.written\":\"no\"", ""},
      // No crash: the main thread ends itself, and the handler's thread must not keep the process on. It
      // ends with the main thread's code, as when the last thread ends.
      {L"exit-main-thread", L"", 21, 0, nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.words << L" " << c.service);
    const size_t requestsBefore = server_->Requests().size();
    const ServiceRun run = Crash(c.words, c.service);
    ASSERT_TRUE(run.finished) << "the application did not end";
    EXPECT_EQ(c.code, run.exitCode);
    const std::string log = c.reporters > 0 ? WaitForReporter(c.reporters) : "";
    EXPECT_EQ(std::vector<std::wstring>{}, ListTree(crashLogs()));
    EXPECT_EQ(std::vector<std::wstring>{}, ListTree(dumps()));
    EXPECT_TRUE(ReadLaunches(client_).empty());
    EXPECT_TRUE(Contains(output(), c.said)) << output();
    // Only the refusal by policy had a report to offer for a help link.
    EXPECT_EQ(c.reporters == 2, !RequestsTo(kSolution, requestsBefore).empty()) << log;
    if (!c.event) {
      EXPECT_EQ(std::vector<std::wstring>{}, ListTree(sandbox_.storageRoot() + L"\\ingest"));
      continue;
    }
    // postingestevent runs on after the reporter has ended. Captured reports post no event, and the earlier
    // tests' reports were sent.
    const bool event = WaitUntil("the event post", std::chrono::seconds(120), [&] {
      for (const RecordedRequest& r : RequestsTo("/ingest", requestsBefore))
        if (Contains(r.body, c.event)) return true;
      return false;
    });
    EXPECT_TRUE(event) << "no event with " << c.event << " reached the server; the reporter's log:\n" << log;
  }
}

// Nothing stranded, nothing hijacked: a job that kills its processes on close, with and without breakaway
// (then the next start offers the report again); exit during a capture; reports past the age limit; every
// pipe name without a random part of the next five minutes taken. Each report delivered or gone, nothing left.
TEST_F(CrashHandlerTest, AHandOverThatBreaksStrandsNothing) {
  std::vector<UniqueFileHandle> squatted;
  const auto squat = [&](DWORD processId) {
    for (std::time_t at = std::time(nullptr); squatted.size() < 300; ++at) {
      wchar_t name[64];
      std::wcsftime(name, 64, L"\\\\.\\pipe\\orvan_kxclient_%Y%m%d-%H%M%S-", std::gmtime(&at));
      squatted.emplace_back(::CreateNamedPipeW((name + std::to_wstring(processId)).c_str(), PIPE_ACCESS_DUPLEX,
                                               PIPE_TYPE_BYTE, 1, 0, 0, 0, nullptr));
    }
  };
  const DWORD kill = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  const DWORD av = EXCEPTION_ACCESS_VIOLATION;
  // job: its job's limits; again: it starts once more; stranded: old reports wait; solutions: requests.
  const struct { const char* name; const wchar_t* words; DWORD job; bool again, stranded; DWORD code;
                 size_t solutions; bool squat = false; } cases[] = {
      {"job with breakaway", L"access-violation --send", kill | JOB_OBJECT_LIMIT_BREAKAWAY_OK, false, false, av, 1},
      {"job without breakaway", L"access-violation --send", kill, true, false, av, 1},
      {"exit during a capture", L"capture-exit --send", 0, false, false, 0, 1},
      {"past the age limit", L"exit-main-thread --send", 0, false, true, 21, 0},
      {"pipe names taken", L"access-violation --send", 0, false, false, av, 1, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t requestsBefore = server_->Requests().size();
    if (c.stranded) WriteStrandedReports();
    const ServiceRun run = Crash(c.words, L"", c.job, c.squat ? squat : std::function<void(DWORD)>());
    ASSERT_TRUE(run.finished) << "the application did not end";
    EXPECT_EQ(c.code, run.exitCode) << output();
    EXPECT_TRUE(!c.again || Crash(L"exit-main-thread --send").exitCode == 21u) << output();
    const std::string log = WaitForReporter();
    EXPECT_EQ(c.solutions, RequestsTo(kSolution, requestsBefore).size()) << log;
    EXPECT_EQ(std::vector<std::wstring>{}, LeftOver()) << log;
    std::filesystem::remove_all(crashLogs());
  }
}

// The whole process paused for over the hang limit (a debugger's break, a VM pause), then resumed in the
// worst order, the watched main thread a second after the watchdog: no hang.
TEST_F(CrashHandlerTest, APausedApplicationIsNoHang) {
  const StartedProgram demo(DemoPath(), {L"beat", L"--send", L"--hang-limit-ms", L"2000", L"--client-dir", client_,
                                         L"--service", ServicePath(), L"--reporter-log", reporterLog()});
  ASSERT_TRUE(WaitUntil("its run recorded (at Install, before the watchdog)", std::chrono::seconds(120), [&] {
    return Contains(ReadFileBytes(runs()).value_or(""), " " + std::to_string(demo.processId) + " running");
  }));
  std::vector<UniqueHandle> others;  // the demo's threads but its main one, the watchdog among them
  const UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Thread32First(snapshot.get(), &entry); more; more = ::Thread32Next(snapshot.get(), &entry))
    if (entry.th32OwnerProcessID == demo.processId && entry.th32ThreadID != demo.threadId)
      others.emplace_back(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, entry.th32ThreadID));
  ASSERT_NE(static_cast<DWORD>(-1), ::SuspendThread(demo.thread.get()));
  for (const UniqueHandle& thread : others) ::SuspendThread(thread.get());
  ::Sleep(5000);  // the pause: well over the limit
  for (const UniqueHandle& thread : others) ::ResumeThread(thread.get());
  ::Sleep(1000);  // half the limit: a count that started again at the watchdog's late wake-up is within it
  ::ResumeThread(demo.thread.get());
  EXPECT_EQ(0u, demo.End(false)) << "a hang was reported";
  EXPECT_EQ(std::vector<std::wstring>{}, ListTree(crashLogs()));
}

// Every kind of crash is sent with its own code in report and dump.
TEST_F(CrashHandlerTest, EveryKindOfCrashIsSentWithItsOwnCode) {
  const DWORD av = EXCEPTION_ACCESS_VIOLATION;
  // A C++ exception that nobody catches reaches std::terminate with this toolchain's runtime. The small
  // frames of the overflows leave Wine no room to raise the overflow unless the handler prepared the stack.
  const CrashRow kinds[] = {
      {L"access-violation", L"--send", av, "access-violation"},
      {L"divide-by-zero", L"--send", EXCEPTION_INT_DIVIDE_BY_ZERO, "divide-by-zero"},
      {L"stack-overflow", L"--send", EXCEPTION_STACK_OVERFLOW, "stack-overflow", false},
      {L"stack-overflow-small", L"--send", EXCEPTION_STACK_OVERFLOW, "stack-overflow"},
      {L"stack-overflow-worker", L"--send", EXCEPTION_STACK_OVERFLOW, "stack-overflow"},
      {L"cpp-exception", L"--send", kTerminateCode, "cpp-exception"},
      {L"terminate", L"--send", kTerminateCode, "terminate"},
      {L"abort", L"--send", kAbortCode, "abort"},
      {L"breakpoint", L"--send", EXCEPTION_BREAKPOINT, "breakpoint"},
  };
  for (const CrashRow& c : kinds) CrashAndCheck(c);
}

// On a fresh run history, a run that reports two hangs and ends well, then one signature crashes five times
// in a row, then another: one report per hang, the figures of the earlier runs at each start, the crash-loop
// guard from the third crash of a signature (no dump, the report says why), the day's two reports of a
// signature, the next two held back and counted in the next one sent on a later day. Held back with the send
// policy, the reporter gets the report as dontsend; with the asking policy, nobody is asked and nothing at
// all reaches a server.
TEST_F(CrashHandlerTest, TheRunHistoryGuardsAndThrottles) {
  const DWORD av = EXCEPTION_ACCESS_VIOLATION;
  const char* const avType = "access-violation";
  const CrashRow history[] = {
      {L"access-violation", L"--send", av, avType, true, "1, crashed 0, unknown 0, same crash in a row 0"},
      {L"access-violation", L"--send", av, avType, true, "2, crashed 1, unknown 0, same crash in a row 1"},
      {L"access-violation", L"--send", av, ""},
      {L"access-violation", L"--ask", av, ""},
      {L"access-violation", L"--send", av, avType, true, "5, crashed 4, unknown 0, same crash in a row 4", "5",
       "2"},
      {L"divide-by-zero", L"--send", EXCEPTION_INT_DIVIDE_BY_ZERO, "divide-by-zero", true,
       "6, crashed 5, unknown 0, same crash in a row 5"},
  };
  std::filesystem::remove(runs());
  std::filesystem::remove_all(crashLogs());
  const size_t requestsAtStart = server_->Requests().size();
  const size_t launchesAtStart = ReadLaunches(client_).size();
  // The main thread stops its heartbeats twice, answering in between, and returns from main (4: a hang went
  // unreported). It hangs on for two limits after each report is written: a limit long enough for the
  // report's hand-over to end first even under load, so that a hang reported twice shows.
  ASSERT_EQ(0u, Crash(L"hang --send --hang-limit-ms 2000").exitCode);
  const std::string hangLog = WaitForReporter(2);
  std::vector<std::wstring> hangs;
  for (const std::wstring& name : ListTree(crashLogs()))
    if (name.size() > 10 && name.compare(name.size() - 10, 10, L".xml.final") == 0) hangs.push_back(name);
  ASSERT_EQ(2u, hangs.size()) << hangLog;
  // Each hang report's sendlog starts the transport on both folders.
  EXPECT_EQ(launchesAtStart + 4, WaitForLaunchRecords(client_, launchesAtStart + 4, kLaunchWaitMs).size());
  for (const std::wstring& name : hangs) {
    const std::string text = ReadFileBytes(crashLogs() + L"\\" + name).value_or("");
    EXPECT_TRUE(Contains(text, "crashType=\"hang\"")) << text;
    // The watched thread's stack, down to the demo's own code.
    const std::size_t thread = text.find("<thread index=\"0\">");
    EXPECT_LT(thread, text.find("KXCrashDemo.exe+0x", thread)) << text;
  }
  for (const CrashRow& c : history) CrashAndCheck(c);
  // The hangs', the four sent, and dontsend's own exchange.
  EXPECT_EQ(7u, RequestsTo(kSolution, requestsAtStart).size());
}

}  // namespace
}  // namespace kx::test

// KXCrashReporter.exe on a virtual desktop (run-dialog-tests starts Xvfb and a Wine prefix on it), driven
// with xdotool, against the real service and log transport and a local solution, upload and ingest server.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dispatch/report_names.h"
#include "frontend/reporter_ticket.h"
#include "prefs/preference_store.h"
#include "support/appdata_sandbox.h"
#include "support/https_test_server.h"
#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

constexpr char kReport[] =
    "<time year=\"2026\" month=\"12\" day=\"7\" hour=\"4\" minute=\"5\" second=\"6\" timeoffset=\"0\" "
    "timezone=\"UTC\"/>\r\n<crash exception=\"EXCEPTION_ACCESS_VIOLATION\" exceptionCode=\"0xc0000005\">\r\n"
    "<thread index=\"0\">\r\n0 Glint.exe+0x1A2B 0x00007FF6A1B2C3D4\n</thread>\r\n";

std::wstring OutputFolder() { return ThisProgramFolder() + L"\\..\\reporter-dialog"; }

// A Linux shell command's output. Wine gives no handle of a Linux program: the output file is waited for.
std::string Shell(const std::string& command) {
  static int count = 0;
  const std::wstring out = OutputFolder() + L"\\shell-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                           std::to_wstring(count++) + L".txt";
  const std::wstring target = L"'" + UnixPath(out) + L"'";
  const std::wstring line = L"(" + std::wstring(command.begin(), command.end()) + L") > " + target +
                            L".part 2>&1; mv " + target + L".part " + target;
  if (!StartLinuxProgram(L"Z:\\bin\\sh", L"-c " + QuoteWord(line)).empty()) return "";
  if (!WaitUntil("the output of " + command, std::chrono::seconds(120), [&] { return IsFile(out); }))
    ADD_FAILURE() << "gave up after 120 s waiting for the output of: " << command;
  const std::string text = ReadFileBytes(out).value_or("");
  return ::DeleteFileW(out.c_str()), text;
}

void TakePicture(const std::string& name) {
  const std::wstring folder = UnixPath(OutputFolder());
  Shell("import -window root '" + std::string(folder.begin(), folder.end()) + "/" + name + "'");
}

// The X window titled `title` other than `previous` (maybe still closing) while `process` runs (null: a
// reporter started by someone else); or empty.
std::string WaitForWindow(const std::string& title, HANDLE process, int seconds = 180,
                          const std::string& previous = "") {
  const WaitNote noted("a window titled " + title);
  for (const ULONGLONG deadline = ::GetTickCount64() + seconds * 1000ULL; ::GetTickCount64() < deadline;) {
    const std::string found =
        // A window that goes while xdotool looks at it makes it print an X error: only ids are kept.
        Shell("xdotool search --name '^" + title + "$' 2>/dev/null | grep -x '[0-9]*' | grep -vx '" + previous +
              "' | head -1");
    if (!found.empty()) return found.substr(0, found.find('\n'));
    if (process == nullptr) {
      ::Sleep(500);
    } else if (::WaitForSingleObject(process, 500) == WAIT_OBJECT_0) {
      return "";
    }
  }
  return "";
}

// Esc to the window titled `title` (not `previous`) until no such window is left: under load a key sent
// before the dialog is ready to take it is lost.
void EscapeUntilClosed(const std::string& title, const std::string& previous) {
  for (int i = 0; i < 20; ++i) {
    const std::string window = WaitForWindow(title, nullptr, 1, previous);
    if (window.empty()) return;
    Shell("xdotool key --window " + window + " Escape");
    ::Sleep(500);
  }
}

// Clicks at a point given from the window's right and bottom edges (the task dialog's buttons sit there).
void ClickFromCorner(const std::string& window, int fromRight, int fromBottom) {
  Shell("eval $(xdotool getwindowgeometry --shell " + window + "); xdotool mousemove --window " + window +
        " $((WIDTH-" + std::to_string(fromRight) + ")) $((HEIGHT-" + std::to_string(fromBottom) +
        ")) click 1");
}

class ReporterDialogTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::filesystem::create_directories(OutputFolder());
    server_ = std::make_unique<HttpsTestServer>();
    const std::vector<std::string> link = {"Solution_url: https://help.example/kb/4711", "Attach_Dump: yes"};
    server_->SetAnswer("/solution-url/win/intel", {TestAnswer::Kind::kAnswer, 200, link, ""});
    server_->SetAnswer("/upload", TestAnswer());
    server_->SetAnswer("/ingest", TestAnswer());
  }
  static void TearDownTestSuite() { server_.reset(); }

  void SetUp() override {
    ASSERT_EQ("", server_->failure());
    ASSERT_NE("", Shell("xdotool getdisplaygeometry")) << "no X display: run through run-dialog-tests";
    client_ = sandbox_.roaming() + L"\\client";
    std::filesystem::create_directories(client_);
    const std::wstring transport = L"\\KXLogTransport.exe";
    std::filesystem::copy_file(ThisProgramFolder() + transport, client_ + transport);
    std::string config;
    const std::string port = std::to_string(server_->port());
    for (const std::string server : {"kxcn", "kxupload", "kxingest"})
      config += server + "-url = localhost\r\n" + server + "-port = " + port + "\r\n";
    WriteFileBytes(client_ + L"\\kx_win_client_config.cfg", config);
    WriteCrashFiles();
  }

  // A new crash's report and dump, as "createdump" leaves them.
  void WriteCrashFiles() {
    id_ = WideId(UniqueCrashIdentifier());
    // The service names the files by the installation's GUID, as the handler does.
    guid_ = PreferenceStore::GetInstallationGuid();
    for (const std::wstring& folder : {crashLogs(), dumps()}) std::filesystem::create_directories(folder);
    WriteFileBytes(crashLogs() + L"\\" + ReportStem(guid_, id_) + kReportSuffix, kReport);
    WriteFileBytes(dumps() + L"\\" + DumpStem(guid_, id_) + kMiniDumpSuffix, "MDMP");
    requestsBefore_ = server_->Requests().size();
  }

  ReporterTicket Ticket(ReportPolicy policy) const {
    return {id_,    EXCEPTION_ACCESS_VIOLATION, "access-violation", policy, ServicePath(), client_, true,
            guid_,  "Glint", "2.1", "345", false, false, 120000, 60000, {L"scene.glint"},
            sandbox_.roaming() + L"\\progress.log", L"", "", 0};
  }

  // Writes the ticket into the reporter folder and starts the reporter on it.
  std::unique_ptr<StartedProgram> Start(ReportPolicy policy) {
    std::filesystem::create_directories(sandbox_.storageRoot() + L"\\reporter");
    WriteFileBytes(ticketPath(), FormatTicket(Ticket(policy)));
    return std::make_unique<StartedProgram>(ThisProgramFolder() + L"\\KXCrashReporter.exe",
                                            std::vector<std::wstring>{ticketPath()});
  }

  std::vector<std::string> NewRequestPaths() const {
    std::vector<std::string> paths;
    const std::vector<RecordedRequest> all = server_->Requests();
    for (size_t i = requestsBefore_; i < all.size(); ++i) paths.push_back(all[i].path);
    return paths;
  }

  std::wstring crashLogs() const { return sandbox_.storageRoot() + L"\\crashlogs"; }
  std::wstring dumps() const { return sandbox_.storageRoot() + L"\\dumps"; }
  std::wstring ticketPath() const { return sandbox_.storageRoot() + L"\\reporter\\" + id_ + kTicketSuffix; }
  std::wstring progressPath() const { return sandbox_.roaming() + L"\\progress.log"; }
  std::string progress() const { return ReadFileBytes(progressPath()).value_or(""); }

  static std::unique_ptr<HttpsTestServer> server_;
  AppDataSandbox sandbox_;
  std::wstring client_, id_, guid_;
  size_t requestsBefore_ = 0;
};

std::unique_ptr<HttpsTestServer> ReporterDialogTest::server_;

// "Don't send", clicked or chosen by Enter: a key held down in the application as it crashed must not send.
TEST_F(ReporterDialogTest, DontSendLeavesNoFileOfTheCrashAndReachesNoServer) {
  const struct {
    const char* answer;
    std::string (*choose)(const std::string& window);
  } cases[] = {
      {"click", [](const std::string& w) { return ClickFromCorner(w, 48, 17), std::string(); }},
      {"Enter", [](const std::string& w) { return Shell("xdotool key --window " + w + " Return"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    if (&c != cases) WriteCrashFiles();  // SetUp wrote the first row's
    const std::unique_ptr<StartedProgram> reporter = Start(ReportPolicy::kAsk);
    const std::string window = WaitForWindow("Glint", reporter->process.get());
    ASSERT_NE("", window) << progress();
    ::Sleep(1000);  // a key sent while the dialog is still being made is lost
    c.choose(window);
    EXPECT_EQ(0u, reporter->End(false));
    EXPECT_EQ(std::vector<std::wstring>{}, ListTree(crashLogs()));
    EXPECT_EQ(std::vector<std::wstring>{}, ListTree(dumps()));
    EXPECT_FALSE(IsFile(ticketPath()));
    EXPECT_FALSE(IsFolder(sandbox_.storageRoot() + L"\\ingest")) << "an event was queued";
    ::Sleep(1000);  // anything started in the background would have spoken by now
    EXPECT_EQ(std::vector<std::string>{}, NewRequestPaths());
    EXPECT_TRUE(Contains(progress(), "the user chose not to send")) << progress();
  }
}

// A reporter killed with its dialog open (log-off, Task Manager): the next reporter offers its report again.
TEST_F(ReporterDialogTest, AReporterKilledWithItsDialogOpenAsksAgainLater) {
  const std::unique_ptr<StartedProgram> killed = Start(ReportPolicy::kAsk);
  ASSERT_NE("", WaitForWindow("Glint", killed->process.get())) << progress();
  killed->End(true);
  WriteCrashFiles();  // the next crash: its reporter shows two dialogs, each answered Don't send
  const std::unique_ptr<StartedProgram> next = Start(ReportPolicy::kAsk);
  EXPECT_TRUE(WaitUntil("two dialogs answered", std::chrono::seconds(300), [&] {
    // A click, not a key: keys reach only the dialog that has the focus. The two lie one on the other.
    const std::string window =
        Shell("xdotool search --onlyvisible --name '^Glint$' 2>/dev/null | grep -x '[0-9]*' | tail -1");
    if (!window.empty()) ClickFromCorner(window.substr(0, window.find('\n')), 48, 17);
    const std::string text = progress(), no = "the user chose not to send";
    return text.find(no) != text.rfind(no) && ListTree(crashLogs()).empty() &&
           ListTree(sandbox_.storageRoot() + L"\\reporter").empty();
  })) << progress();
  EXPECT_EQ(0u, next->End(false));
  EXPECT_EQ(std::vector<std::string>{}, NewRequestPaths());
}

TEST_F(ReporterDialogTest, SendExchangesTheReportThenUploadsItThenOffersTheHelpPage) {
  const std::unique_ptr<StartedProgram> reporter = Start(ReportPolicy::kAsk);
  const std::string window = WaitForWindow("Glint", reporter->process.get());
  ASSERT_NE("", window) << progress();
  EXPECT_EQ(std::vector<std::string>{}, NewRequestPaths()) << "something left before the user was asked";
  TakePicture("consent.png");
  ClickFromCorner(window, 480, 43);  // the link "What does the report contain?"
  ::Sleep(1000);
  TakePicture("contents.png");
  ClickFromCorner(window, 145, 17);  // "Send report", on the contents page
  const std::string help = WaitForWindow("Glint", reporter->process.get(), 60, window);
  ASSERT_NE("", help) << "no help page; " << progress();
  TakePicture("help-page.png");
  EscapeUntilClosed("Glint", window);  // Esc chooses "Close"
  EXPECT_EQ(0u, reporter->End(false));

  // The transport runs on after the reporter: wait (bounded) for its upload.
  std::vector<std::string> paths;
  WaitUntil("the uploads and the event post", std::chrono::seconds(180), [&] {
    paths = NewRequestPaths();
    return paths.size() == 4;
  });
  // The report goes to the solution server first; then the transport's uploads and the event, in any order.
  if (!paths.empty()) std::sort(paths.begin() + 1, paths.end());
  EXPECT_EQ((std::vector<std::string>{"/solution-url/win/intel", "/ingest", "/upload", "/upload"}), paths);
  EXPECT_TRUE(Contains(progress(), "the user chose to send")) << progress();
  EXPECT_FALSE(Contains(progress(), "opensolutionurl")) << "the help page opened without being asked";
}

TEST_F(ReporterDialogTest, ATicketOutsideTheReporterFolderIsLeftAlone) {
  const std::wstring reporterFolder = sandbox_.storageRoot() + L"\\reporter";
  std::filesystem::create_directories(reporterFolder);
  const std::wstring cases[] = {sandbox_.roaming() + L"\\" + id_ + kTicketSuffix,
                                reporterFolder + L"\\..\\" + id_ + kTicketSuffix,
                                reporterFolder + L"\\" + id_ + L".txt"};
  for (const std::wstring& path : cases) {
    SCOPED_TRACE(std::string(path.begin(), path.end()));
    // The reporter folder holds a ticket of the same name: the one named is not it, so neither is taken.
    for (const std::wstring& file : {path, ticketPath()})
      WriteFileBytes(file, FormatTicket(Ticket(ReportPolicy::kSend)));
    EXPECT_TRUE(RunProgram(ThisProgramFolder() + L"\\KXCrashReporter.exe", QuoteWord(path)).finished);
    EXPECT_TRUE(IsFile(path) && IsFile(ticketPath()));
    ::DeleteFileW(path.c_str());
  }
  EXPECT_EQ(std::vector<std::string>{}, NewRequestPaths());
}

}  // namespace
}  // namespace kx::test

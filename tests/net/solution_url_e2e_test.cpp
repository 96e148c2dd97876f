// "solutionurl" end to end: a real crash captured by createdump, then the real service posts that report to a
// local HTTPS solution server, hands the link back over a real pipe and keeps or deletes the dump as the
// server's answer says.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/appdata_sandbox.h"
#include "support/crash_commands.h"
#include "support/front_end_run.h"
#include "support/https_test_server.h"
#include "support/linux_programs.h"
#include "support/test_files.h"
#include "handler/crash_pipe.h"

namespace kx::test {
namespace {

constexpr char kSolutionPath[] = "/solution-url/win/intel";

std::string WithoutCarriageReturnLineFeeds(std::string text) {
  for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) text.erase(at, 1);
  return text;
}

// The whole suite shares one storage sandbox, one solution server and one crash; each test uses crash
// identifiers of its own.
class SolutionUrlTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    sandbox_ = std::make_unique<AppDataSandbox>();
    server_ = std::make_unique<HttpsTestServer>();
    clientDirectory_ = sandbox_->roaming() + L"\\client";
    WriteSolutionServerConfig(clientDirectory_, server_->port());
  }
  static void TearDownTestSuite() {
    server_.reset();
    sandbox_.reset();
  }

  void SetUp() override { ASSERT_EQ("", server_->failure()); }

  static void Answer(std::vector<std::string> headerLines, int status = 200) {
    TestAnswer answer;
    answer.status = status;
    answer.headerLines = std::move(headerLines);
    server_->SetAnswer(kSolutionPath, answer);
  }

  static std::string RunSolutionUrl(const std::string& crashIdentifier) {
    return RunPipeReadingCommand(clientDirectory_, L"solutionurl", crashIdentifier);
  }

  // A crash's files as createdump left them, copied from the suite's real crash.
  static ReportFiles CopyOfTheCrash(const std::string& crashIdentifier) {
    const ReportFiles files(*sandbox_, crashIdentifier);
    WriteFileBytes(files.report, report_);
    WriteFileBytes(files.dump, dump_);
    return files;
  }

  static std::unique_ptr<AppDataSandbox> sandbox_;
  static std::unique_ptr<HttpsTestServer> server_;
  static std::wstring clientDirectory_;
  static std::string report_, dump_;  // the real crash's files, once captured
};

std::unique_ptr<AppDataSandbox> SolutionUrlTest::sandbox_;
std::unique_ptr<HttpsTestServer> SolutionUrlTest::server_;
std::wstring SolutionUrlTest::clientDirectory_;
std::string SolutionUrlTest::report_;
std::string SolutionUrlTest::dump_;

TEST_F(SolutionUrlTest, ARealCrashReportTravelsAndItsLinkComesBack) {
  const std::string id = UniqueCrashIdentifier();
  const FrontEndRun crash = RunCrashingFrontEnd(id, "access-violation", "");
  ASSERT_EQ(0u, crash.run.exitCode);
  const ReportFiles files(*sandbox_, id);
  report_ = ReadFileBytes(files.report).value_or("");
  dump_ = ReadFileBytes(files.dump).value_or("");
  ASSERT_NE("", report_);
  ASSERT_NE("", dump_);

  sandbox_->EnableLogging();
  Answer({"Solution_url: https://help.example/crash/4711?lang=en", "Attach_Dump: yes"});
  const size_t before = server_->Requests().size();
  EXPECT_EQ(std::string("https://help.example/crash/4711?lang=en\0", 40), RunSolutionUrl(id));

  const std::vector<RecordedRequest> requests = server_->Requests();
  ASSERT_EQ(before + 1, requests.size());
  const RecordedRequest& request = requests.back();
  EXPECT_EQ("POST", request.method);
  EXPECT_EQ(kSolutionPath, request.path);
  EXPECT_EQ("application/x-www-form-urlencoded", FindHeader(request, "Content-Type").value_or("<none>"));
  EXPECT_EQ("KXWindowsClient", FindHeader(request, "User-Agent").value_or("<none>"));
  EXPECT_EQ(WithoutCarriageReturnLineFeeds(report_), request.body);

  // The dump is wanted: the report carries the mark in its name, the dump stays.
  EXPECT_FALSE(IsFile(files.report));
  EXPECT_EQ(report_, ReadFileBytes(files.attached).value_or("<missing>"));
  EXPECT_EQ(dump_, ReadFileBytes(files.dump).value_or("<missing>"));

  const std::string log = ReadFileBytes(sandbox_->logFolder() + L"\\SolutionURL.txt").value_or("");
  for (const char* line :
       {"Inside fetchSolutionUrlForGeneratedCrashLog Solution\r\n", "Going to POST Request\r\n",
        "Attach dump preference ?? yes\r\n", "End fetchSolutionUrlForGeneratedCrashLog \r\n"}) {
    EXPECT_NE(std::string::npos, log.find(line)) << line << log;
  }
  std::filesystem::remove_all(sandbox_->logFolder());

  // Sent again, under its new name, and the new answer is followed.
  Answer({"Attach_Dump: no"});
  EXPECT_EQ(std::string("-1\0", 3), RunSolutionUrl(id));
  EXPECT_EQ(WithoutCarriageReturnLineFeeds(report_), server_->Requests().back().body);
  EXPECT_TRUE(IsFile(files.attached));
  EXPECT_FALSE(IsFile(files.dump));
}

TEST_F(SolutionUrlTest, TheAnswerDecidesWhetherTheDumpStays) {
  ASSERT_NE("", report_) << "needs the crash of the first test";
  // Header lines of the answer; the link expected in the pipe; whether the dump is wanted.
  const std::tuple<std::vector<std::string>, const char*, bool> cases[] = {
      {{"Solution_url: https://help.example/a", "Attach_Dump: yes"}, "https://help.example/a", true},
      {{"Attach_Dump:"}, "-1", true},
      {{"Attach_Dump: 1"}, "-1", true},
      {{"Solution_url: https://help.example/b", "Attach_Dump: no"}, "https://help.example/b", false},
      {{"Attach_Dump: N"}, "-1", false},
      {{"Solution_url: https://help.example/c"}, "https://help.example/c", false},
      {{}, "-1", false},
  };
  for (const auto& [headerLines, link, wanted] : cases) {
    SCOPED_TRACE(headerLines.empty() ? "no header lines" : headerLines.back());
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files = CopyOfTheCrash(id);
    Answer(headerLines, 500);  // the status is not judged
    EXPECT_EQ(std::string(link) + '\0', RunSolutionUrl(id));
    EXPECT_EQ(!wanted, IsFile(files.report));
    EXPECT_EQ(wanted, IsFile(files.attached));
    EXPECT_EQ(wanted, IsFile(files.dump));
  }
}

TEST_F(SolutionUrlTest, FailuresAnswerMinusOneOrNothingAndChangeOnlyWhatTheyMay) {
  ASSERT_NE("", report_) << "needs the crash of the first test";
  {
    SCOPED_TRACE("the server closes the connection without answering: as if it said nothing");
    TestAnswer close;
    close.kind = TestAnswer::Kind::kClose;
    server_->SetAnswer(kSolutionPath, close);
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files = CopyOfTheCrash(id);
    EXPECT_EQ(std::string("-1\0", 3), RunSolutionUrl(id));
    EXPECT_TRUE(IsFile(files.report));
    EXPECT_FALSE(IsFile(files.dump));
  }
  Answer({"Solution_url: https://help.example/never", "Attach_Dump: no"});
  const size_t requests = server_->Requests().size();
  {
    SCOPED_TRACE("no report: nothing to send, the dump stays");
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files = CopyOfTheCrash(id);
    ::DeleteFileW(files.report.c_str());
    EXPECT_EQ(std::string("-1\0", 3), RunSolutionUrl(id));
    EXPECT_TRUE(IsFile(files.dump));
  }
  {
    SCOPED_TRACE("the report's state cannot be told: no request, no message, no file changed");
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files = CopyOfTheCrash(id);
    ::DeleteFileW(files.report.c_str());
    ASSERT_TRUE(MakeSelfLink(files.report));
    WriteFileBytes(files.attached, report_);
    EXPECT_EQ("<none>", RunSolutionUrl(id));
    EXPECT_TRUE(IsFile(files.attached));
    EXPECT_TRUE(IsFile(files.dump));
  }
  {
    SCOPED_TRACE("no storage: no request, no message");
    const std::string id = UniqueCrashIdentifier();
    const std::wstring blocker = sandbox_->roaming() + L"\\blocker";
    WriteFileBytes(blocker, "x");
    sandbox_->PointAt(blocker + L"\\Roaming");
    EXPECT_EQ("<none>", RunSolutionUrl(id));
    sandbox_->PointAt(sandbox_->roaming());
  }
  EXPECT_EQ(requests, server_->Requests().size());
}

}  // namespace
}  // namespace kx::test

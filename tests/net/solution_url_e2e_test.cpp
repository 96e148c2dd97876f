// "solutionurl" end to end: a real crash captured by createdump, then the real service posts that report to a
// local HTTPS solution server, hands the link back over a real pipe and keeps or deletes the dump as the
// server's answer says.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "frontend/crash_pipe.h"
#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/https_test_server.h"
#include "support/test_files.h"

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
    client_ = sandbox_->roaming() + L"\\client";
    std::filesystem::create_directories(client_);
    // The scheme, the path and the port of the URL are dropped; the port key decides.
    WriteFileBytes(
        client_ + L"\\kx_win_client_config.cfg",
        "kxcn-url = HTTPS://localhost:1/ignored\r\nkxcn-port = " + std::to_string(server_->port()) + "\r\n");
  }
  static void TearDownTestSuite() {
    server_.reset();
    sandbox_.reset();
  }

  void SetUp() override { ASSERT_EQ("", server_->failure()); }

  static void Answer(std::vector<std::string> headerLines, int status = 200) {
    server_->SetAnswer(kSolutionPath, {TestAnswer::Kind::kAnswer, status, std::move(headerLines), ""});
  }

  // Runs solutionurl for the crash while serving its pipe; what the service wrote there.
  static std::string RunSolutionUrl(const std::string& crashIdentifier) {
    CrashPipe pipe(WideId(crashIdentifier));
    EXPECT_EQ("", pipe.createFailure());
    pipe.StartReading();
    EXPECT_TRUE(RunService({client_, L"solutionurl", WideId(crashIdentifier)}).finished);
    // The service has ended: a client that has not come by now never will.
    const CrashPipe::Outcome outcome = pipe.Finish(2000);
    EXPECT_EQ("", outcome.failure);
    return outcome.received;
  }

  // A crash's files as createdump left them, copied from the suite's real crash.
  static ReportFiles CopyOfTheCrash(const std::string& crashIdentifier) {
    const ReportFiles files(*sandbox_, crashIdentifier);
    WriteFileBytes(files.report, report_);
    WriteFileBytes(files.dump, dump_);
    return files;
  }

  inline static std::unique_ptr<AppDataSandbox> sandbox_;
  inline static std::unique_ptr<HttpsTestServer> server_;
  inline static std::wstring client_;
  inline static std::string report_, dump_;  // the real crash's files, once captured
};

TEST_F(SolutionUrlTest, ARealCrashReportTravelsAndItsLinkComesBack) {
  const std::string id = UniqueCrashIdentifier();
  ASSERT_EQ(0u, RunCrashingFrontEnd(id, "access-violation", "").run.exitCode);
  const ReportFiles files(*sandbox_, id);
  report_ = ReadFileBytes(files.report).value_or("");
  dump_ = ReadFileBytes(files.dump).value_or("");
  ASSERT_NE("", report_);
  ASSERT_NE("", dump_);

  Answer({"Solution_url: https://help.example/crash/4711?lang=en", "Attach_Dump: yes"});
  const size_t before = server_->Requests().size();
  EXPECT_EQ(std::string("https://help.example/crash/4711?lang=en\0", 40), RunSolutionUrl(id));
  const std::vector<RecordedRequest> requests = server_->Requests();
  ASSERT_EQ(before + 1, requests.size());
  EXPECT_EQ(kSolutionPath, requests.back().path);
  EXPECT_EQ(WithoutCarriageReturnLineFeeds(report_), requests.back().body);
  // The dump is wanted: the report carries the mark in its name, the dump stays.
  EXPECT_FALSE(IsFile(files.report));
  EXPECT_EQ(report_, ReadFileBytes(files.attached).value_or("<missing>"));
  EXPECT_EQ(dump_, ReadFileBytes(files.dump).value_or("<missing>"));

  // Sent again, under its new name, and the new answer is followed.
  Answer({"Attach_Dump: no"});
  EXPECT_EQ(std::string("-1\0", 3), RunSolutionUrl(id));
  EXPECT_EQ(WithoutCarriageReturnLineFeeds(report_), server_->Requests().back().body);
  EXPECT_TRUE(IsFile(files.attached));
  EXPECT_FALSE(IsFile(files.dump));
}

// Whatever the status, the answer's values decide. A server that hangs up inside its header block cuts the
// link's line: whatever the platform makes of the rest, no cut link reaches the front end. Without a report
// there is nothing to send: "-1", and the dump stays.
TEST_F(SolutionUrlTest, TheAnswerDecidesWhetherTheDumpStaysAndWithoutAReportNothingGoes) {
  ASSERT_NE("", report_) << "needs the crash of the first test";
  struct Row {
    bool report;
    TestAnswer::Kind kind;
    std::vector<std::string> headerLines;
    std::string message;  // in the pipe, before its NUL
    const char* left;     // which of the crash's files are there afterwards
    size_t requests;
  };
  using Kind = TestAnswer::Kind;
  const Row rows[] = {
      {true, Kind::kAnswer, {"Solution_url: https://help.example/c"}, "https://help.example/c", "report", 1},
      {true, Kind::kCut, {"Attach_Dump: no", "Solution_url: https://help.example/cu"}, "-1", "report", 1},
      {false, Kind::kAnswer, {"Attach_Dump: no"}, "-1", "dump", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.headerLines.back());
    const std::string id = UniqueCrashIdentifier();
    const ReportFiles files = CopyOfTheCrash(id);
    if (!row.report) ::DeleteFileW(files.report.c_str());
    server_->SetAnswer(kSolutionPath, {row.kind, 500, row.headerLines, ""});
    const size_t before = server_->Requests().size();
    EXPECT_EQ(row.message + '\0', RunSolutionUrl(id));
    std::string left;
    for (const auto& [name, path] : {std::pair<std::string, std::wstring>{"report", files.report},
                                     {"attached", files.attached},
                                     {"dump", files.dump}}) {
      if (IsFile(path)) left += (left.empty() ? "" : " ") + name;
    }
    EXPECT_EQ(row.left, left);
    EXPECT_EQ(before + row.requests, server_->Requests().size());
  }
}

}  // namespace
}  // namespace kx::test

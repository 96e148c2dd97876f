// sendlog and dontsend end to end, and the log transport launcher: the real service on report files in every
// state, with copies of a recording program standing in as the log transport: signed at test time, unsigned,
// and changed after signing. (The whole life of a real crash through the real transport is in the transport
// tests.)
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/launch_records.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "handler/crash_pipe.h"

namespace kx::test {
namespace {

constexpr char kClosing[] = "\r\n</crashreport>\r\n";
constexpr char kClosingWithDump[] = "\r\n<dumpAttached>\r\n\r\n</dumpAttached>\r\n</crashreport>\r\n";
constexpr DWORD kLaunchWaitMs = 30000;

std::wstring TestTransport(const wchar_t* kind) {
  return ThisProgramFolder() + L"\\..\\test-transports\\" + kind + L".exe";
}

// A client directory holding the given transport copy as KXLogTransport.exe (none for an empty kind). Its
// name has a blank, which the starts must carry through their quoting.
std::wstring MakeClientDirectory(const AppDataSandbox& sandbox, const wchar_t* kind) {
  static int counter = 0;
  const std::wstring directory = sandbox.roaming() + L"\\client dir " + std::to_wstring(counter++);
  std::filesystem::create_directories(directory);
  if (*kind) {
    std::filesystem::copy_file(TestTransport(kind), directory + L"\\KXLogTransport.exe");
  }
  return directory;
}

class DispatchTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    sandbox_ = std::make_unique<AppDataSandbox>();
    sandbox_->EnableLogging();
    for (const wchar_t* folder : {L"\\crashlogs", L"\\dumps"}) {
      std::filesystem::create_directories(sandbox_->storageRoot() + folder);
    }
  }
  static void TearDownTestSuite() { sandbox_.reset(); }

  static ServiceRun Run(const std::wstring& clientDirectory, const wchar_t* command, const std::string& id,
                        bool verify = false) {
    if (verify) return RunService({clientDirectory, command, WideId(id), L"1"});
    return RunService({clientDirectory, command, WideId(id)});
  }
  static std::string Log(const wchar_t* name) {
    return ReadFileBytes(sandbox_->logFolder() + L"\\" + name).value_or("<missing>");
  }
  // The two starts each run makes: the crash log folder and the dump folder, each after the client directory
  // (the record folder of the recorder, so a record in the client directory proves that word arrived whole).
  static void ExpectBothFoldersStarted(std::vector<Launch> arguments) {
    std::sort(arguments.begin(), arguments.end());
    const std::vector<Launch> expected = {{sandbox_->storageRoot() + L"\\crashlogs"},
                                          {sandbox_->storageRoot() + L"\\dumps"}};
    EXPECT_EQ(expected, arguments);
  }

  static std::unique_ptr<AppDataSandbox> sandbox_;
};

std::unique_ptr<AppDataSandbox> DispatchTest::sandbox_;

TEST_F(DispatchTest, SendlogFinishesEachState) {
  const std::string document =
      "<?xml?>\r\n<crashreport a=\"1\">\r\n<x/>\r\n</crashreport>\r\n</crashreport>junk";
  const std::string kept = "<?xml?>\r\n<crashreport a=\"1\">\r\n<x/>\r\n";
  // Which report name and dump name exist beforehand (empty: none); the finished report expected. How a
  // document is closed is the report closing test's table.
  const std::tuple<const char*, std::string, const wchar_t*, std::string, const char*> cases[] = {
      {"mini dump, no decision yet", document, L".dmp", kept + kClosing, ".solurl"},
      {"full dump, dump wanted", document, L".dmp.full", kept + kClosingWithDump, ".solurl.dmpattached"},
      {"dump deleted by solutionurl", document, L"", kept + kClosing, ".solurl"},
  };
  const std::wstring client = MakeClientDirectory(*sandbox_, L"");
  std::string lastId;
  for (const auto& [what, text, dumpSuffix, finished, reportName] : cases) {
    SCOPED_TRACE(what);
    const std::string id = UniqueCrashIdentifier();
    lastId = id;
    const ReportFiles files(*sandbox_, id);
    const std::wstring reportPath = std::string(reportName) == ".solurl" ? files.report : files.attached;
    WriteFileBytes(reportPath, text);
    const std::wstring dumpPath = files.dump.substr(0, files.dump.size() - 4) + dumpSuffix;
    if (*dumpSuffix) WriteFileBytes(dumpPath, "MDMP");

    EXPECT_TRUE(Run(client, L"sendlog", id).finished);
    EXPECT_EQ(finished, ReadFileBytes(files.finalReport).value_or("<missing>"));
    EXPECT_FALSE(IsFile(files.report) || IsFile(files.attached));
    if (*dumpSuffix) {
      EXPECT_EQ("MDMP", ReadFileBytes(dumpPath + L".final").value_or("<missing>"));
    }
    EXPECT_FALSE(IsFile(dumpPath));
  }
  // A second sendlog finds nothing left to finish and changes nothing.
  const std::vector<std::wstring> finishedFiles = ListTree(sandbox_->storageRoot());
  EXPECT_TRUE(Run(client, L"sendlog", lastId).finished);
  EXPECT_EQ(finishedFiles, ListTree(sandbox_->storageRoot()));
  EXPECT_EQ("Log transport not present\r\n", Log(L"LogTransportProcessor.txt"));
}

TEST_F(DispatchTest, DontsendDeletesTheReportAndItsDumpButNoFinishedFile) {
  const std::string id = UniqueCrashIdentifier();
  const ReportFiles files(*sandbox_, id);
  for (const std::wstring& path :
       {files.attached, files.fullDump, files.finalReport, files.dump + L".final"}) {
    WriteFileBytes(path, "x");
  }
  EXPECT_TRUE(Run(MakeClientDirectory(*sandbox_, L"unsigned"), L"dontsend", id).finished);
  EXPECT_FALSE(IsFile(files.attached));
  EXPECT_FALSE(IsFile(files.fullDump));
  EXPECT_TRUE(IsFile(files.finalReport));
  EXPECT_TRUE(IsFile(files.dump + L".final"));
}

TEST_F(DispatchTest, OnlyATransportWhoseOwnSignatureHoldsIsStarted) {
  // A copy changed after signing: the digest check, not only the presence of a signature, refuses it (which
  // verdict each status gives is the trust verdict test's table). A signed copy beside the service does not
  // vouch for the program in the client directory: the refused run uses a copy of the service that has one.
  const std::wstring serviceCopy = sandbox_->roaming() + L"\\service";
  std::filesystem::create_directories(serviceCopy);
  std::filesystem::copy_file(ServicePath(), serviceCopy + L"\\KXWindowsClientService.exe");
  std::filesystem::copy_file(TestTransport(L"signed"), serviceCopy + L"\\KXLogTransport.exe");
  const std::wstring refused = MakeClientDirectory(*sandbox_, L"altered");
  EXPECT_TRUE(RunProgram(serviceCopy + L"\\KXWindowsClientService.exe",
                         QuoteWord(refused) + L" sendlog " + WideId(UniqueCrashIdentifier()) + L" 1")
                  .finished);
  const std::string transportLog = Log(L"LogTransportProcessor.txt");
  EXPECT_TRUE(EndsWith(transportLog, "Verification failed for log transport file. Returning\r\n"))
      << transportLog;
  EXPECT_NE(std::string::npos, Log(L"SignatureVerifierUtils.txt").find("Error is: -2146869232"));

  // Started: without the check even an unsigned transport, and a signed one with it (updatepvbpreference's
  // start is the preference sync test's). Once these starts are recorded, a start of the refused run before
  // them would be too.
  for (const auto& [kind, verify] :
       {std::pair<const wchar_t*, bool>{L"unsigned", false}, {L"signed", true}}) {
    SCOPED_TRACE(verify);
    const std::wstring client = MakeClientDirectory(*sandbox_, kind);
    EXPECT_TRUE(Run(client, L"sendlog", UniqueCrashIdentifier(), verify).finished);
    ExpectBothFoldersStarted(WaitForLaunchRecords(client, 2, kLaunchWaitMs));
  }
  EXPECT_TRUE(ReadLaunches(refused).empty());
}

}  // namespace
}  // namespace kx::test

// The real service under Wine: it ends with code 0 whatever its command line, and a command line of the
// wrong shape leaves no trace.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::AppDataSandbox;
using test::RunService;
using test::RunServiceWithArguments;
using test::ServiceRun;

void ExpectCleanExit(const ServiceRun& run) {
  ASSERT_EQ(L"", run.error);
  ASSERT_TRUE(run.finished) << "the service did not end in time";
  EXPECT_EQ(0u, run.exitCode);
}

TEST(ServiceCommandLineTest, WrongWordCountRunsNothingAndCreatesNothing) {
  AppDataSandbox sandbox;
  const std::vector<std::wstring> nothing;
  std::wstring hundredWords;
  for (int i = 0; i < 100; ++i) hundredWords += L" createdump";

  const std::wstring commandLines[] = {L"", L"C:\\client", L"C:\\client createdump",
                                       L"C:\\client createdump 1234 1 extra", hundredWords};
  for (const std::wstring& arguments : commandLines) {
    SCOPED_TRACE(std::string(arguments.begin(), arguments.end()).substr(0, 60));
    ExpectCleanExit(RunServiceWithArguments(arguments));
    EXPECT_EQ(nothing, test::ListTree(sandbox.roaming()));
  }
}

TEST(ServiceCommandLineTest, EveryCommandEndsWithExitCodeZero) {
  AppDataSandbox sandbox;
  const std::wstring client = sandbox.roaming() + L"\\client dir";
  const wchar_t* words[] = {L"createdump",      L"solutionurl",    L"sendlog",         L"dontsend",
                            L"updatepvbpreference", L"opensolutionurl", L"postingestevent", L"CreateDump",
                            L"no-such-command"};
  for (const wchar_t* word : words) {
    SCOPED_TRACE(std::wstring(word).size());
    ExpectCleanExit(RunService({client, word, L"1234"}));
    ExpectCleanExit(RunService({client, word, L"..\\..\\escape", L"1"}));
    ExpectCleanExit(RunService({L"", word, L"", L""}));
  }
}

}  // namespace
}  // namespace kx

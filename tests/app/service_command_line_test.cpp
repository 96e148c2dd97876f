// The real service under Wine: it ends with code 0 whatever its command line, and a command line of the
// wrong shape leaves no trace. Which steps each command runs is the dispatch plan's test.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

TEST(ServiceCommandLineTest, EveryCommandEndsWithExitCodeZeroAndAWrongWordCountCreatesNothing) {
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

  const std::wstring client = sandbox.roaming() + L"\\client dir";
  for (const wchar_t* word : {L"createdump", L"solutionurl", L"sendlog", L"dontsend", L"updatepvbpreference",
                              L"opensolutionurl", L"postingestevent", L"no-such-command"}) {
    SCOPED_TRACE(std::wstring(word).size());
    for (const ServiceRun& run : {RunService({client, word, L"1234"}), RunService({L"", word, L"", L""})}) {
      EXPECT_TRUE(run.finished && run.exitCode == 0) << Describe(run);
    }
  }
}

}  // namespace
}  // namespace kx::test

// kxdumpinfo as a support engineer runs it, on what it cannot show: it must end with one line and its exit
// code. What it shows of real dumps the createdump end-to-end test checks, on each dump that test makes;
// which files the parser refuses is its own test's table.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <tuple>

#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

TEST(DumpInfoEndToEndTest, WhatIsNotADumpEndsWithOneLineAndItsExitCode) {
  AppDataSandbox sandbox;
  const std::wstring folder = sandbox.roaming();
  WriteFileBytes(folder + L"\\text.dmp", "MDMP, but no more than that");
  const std::tuple<std::wstring, DWORD, const char*> cases[] = {
      {L"", 1, "kxdumpinfo: usage: kxdumpinfo [--json] <dump file>\n"},
      {L"--json", 1, "usage"},
      {QuoteWord(folder + L"\\missing.dmp"), 2, "missing.dmp: error 2: "},
      {QuoteWord(folder + L"\\text.dmp"), 3, "text.dmp is not a usable minidump: "},
  };
  for (const auto& [arguments, exitCode, message] : cases) {
    SCOPED_TRACE(std::string(arguments.begin(), arguments.end()));
    const std::wstring output = folder + L"\\output.txt";
    const ServiceRun run =
        RunProgramToFile(ThisProgramFolder() + L"\\kxdumpinfo.exe", arguments, output, 60000);
    ASSERT_TRUE(run.finished) << Describe(run);
    EXPECT_EQ(exitCode, run.exitCode);
    // One line, "kxdumpinfo: " and why, and nothing else (standard output and error both go to the file).
    const std::string text = ReadFileBytes(output).value_or("<missing>");
    EXPECT_TRUE(Contains(text, "kxdumpinfo: ") && Contains(text, message)) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
  }
}

}  // namespace
}  // namespace kx::test

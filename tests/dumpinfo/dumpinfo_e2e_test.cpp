// kxdumpinfo as a support engineer runs it: on the minidump the service wrote of a real crash it must show
// exactly the crash the crashing front end saw; on anything else it must end with one line and its exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <tuple>

#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

struct ToolRun {
  DWORD exitCode;
  std::string output;  // standard output and error together
};

ToolRun RunDumpInfo(const std::wstring& arguments, const AppDataSandbox& sandbox) {
  const std::wstring output = sandbox.roaming() + L"\\output.txt";
  const ServiceRun run =
      RunProgramToFile(ThisProgramFolder() + L"\\kxdumpinfo.exe", arguments, output, 60000);
  EXPECT_TRUE(run.finished) << Describe(run);
  return {run.exitCode, ReadFileBytes(output).value_or("<missing>")};
}

// A refusal is one line, "kxdumpinfo: " and why, and nothing else.
void ExpectOneLine(const ToolRun& run, const std::string& piece) {
  EXPECT_TRUE(Contains(run.output, "kxdumpinfo: ") && Contains(run.output, piece)) << run.output;
  EXPECT_EQ(run.output.find('\n'), run.output.size() - 1) << run.output;
}

std::string Hex16(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%016llX", static_cast<unsigned long long>(value));
  return text;
}

TEST(DumpInfoEndToEndTest, TheDumpOfARealCrashShowsThatCrash) {
  AppDataSandbox sandbox;
  const std::string id = UniqueCrashIdentifier();
  const FrontEndRun crash = RunCrashingFrontEnd(id, "access-violation", "");
  ASSERT_EQ(0u, crash.run.exitCode);
  ASSERT_TRUE(crash.capture.has_value());
  const std::wstring dump = ReportFiles(sandbox, id).dump;

  const ToolRun run = RunDumpInfo(L"--json " + QuoteWord(dump), sandbox);
  ASSERT_EQ(0u, run.exitCode) << run.output;
  EXPECT_FALSE(Contains(run.output, "kxdumpinfo: ")) << run.output;
  const std::uintptr_t address =
      reinterpret_cast<std::uintptr_t>(crash.capture->exceptionRecord.ExceptionAddress);
  for (const std::string& piece : {
           "\"thread_id\": " + std::to_string(crash.capture->threadId) + ",",
           std::string("\"code\": \"0xC0000005\",\n    \"name\": \"EXCEPTION_ACCESS_VIOLATION\""),
           "\"address\": \"" + Hex16(address) + "\"",
           "\"rip\": \"" + Hex16(crash.capture->context.Rip) + "\"",
           "{\"base\": \"" + Hex16(crash.capture->imageBase) +
               "\", \"size\": " + std::to_string(crash.capture->imageSize) + ", ",
       }) {
    EXPECT_TRUE(Contains(run.output, piece)) << piece << "\n---\n" << run.output;
  }
  const std::size_t module = run.output.find("{\"base\": \"" + Hex16(crash.capture->imageBase));
  EXPECT_TRUE(Contains(run.output.substr(module, run.output.find('\n', module) - module),
                       "crashing_front_end.exe\"}"));

  // The same dump cut in half: its later streams now point beyond the end.
  const std::string bytes = ReadFileBytes(dump).value_or("");
  WriteFileBytes(sandbox.roaming() + L"\\half.dmp", bytes.substr(0, bytes.size() / 2));
  const ToolRun half = RunDumpInfo(QuoteWord(sandbox.roaming() + L"\\half.dmp"), sandbox);
  EXPECT_EQ(3u, half.exitCode);
  ExpectOneLine(half, "lies beyond the end of the file\n");
}

// A refusal of each exit code but 3, which the cut dump above shows; which files the parser refuses is its
// own test's table.
TEST(DumpInfoEndToEndTest, WhatIsNotADumpEndsWithOneLineAndItsExitCode) {
  AppDataSandbox sandbox;
  const std::tuple<std::wstring, DWORD, const char*> cases[] = {
      {L"", 1, "kxdumpinfo: usage: kxdumpinfo [--json] <dump file>\n"},
      {L"--json", 1, "usage"},
      {QuoteWord(sandbox.roaming() + L"\\missing.dmp"), 2, "missing.dmp: error 2: "},
  };
  for (const auto& [arguments, exitCode, message] : cases) {
    SCOPED_TRACE(std::string(arguments.begin(), arguments.end()));
    const ToolRun run = RunDumpInfo(arguments, sandbox);
    EXPECT_EQ(exitCode, run.exitCode);
    ExpectOneLine(run, message);
  }
}

}  // namespace
}  // namespace kx::test

// kxdumpinfo as a support engineer runs it: on the minidump the service wrote of a real crash it must show
// exactly the crash the crashing front end saw; on anything else it must end with one line and its exit code.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/win_handles.h"
#include "support/appdata_sandbox.h"
#include "support/front_end_run.h"
#include "support/service_harness.h"
#include "support/test_files.h"
#include "handler/crash_pipe.h"

namespace kx::test {
namespace {

struct ToolRun {
  DWORD exitCode = 0xFFFFFFFF;  // also when it could not be started or did not end
  std::string out, err;
};

// Runs kxdumpinfo (next to this program) with its standard output and error going to files in `folder`.
ToolRun RunDumpInfo(const std::wstring& arguments, const std::wstring& folder) {
  ToolRun run;
  {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const auto create = [&](const wchar_t* name) {
      return UniqueFileHandle(::CreateFileW((folder + name).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const UniqueFileHandle out = create(L"\\out.txt"), err = create(L"\\err.txt");
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out.get();
    startup.hStdError = err.get();
    std::wstring commandLine = QuoteWord(ThisProgramFolder() + L"\\kxdumpinfo.exe") + L" " + arguments;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process)) {
      ADD_FAILURE() << Win32ErrorText(::GetLastError());
      return run;
    }
    const UniqueHandle processOwner(process.hProcess), threadOwner(process.hThread);
    if (::WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0)
      ::TerminateProcess(process.hProcess, 1);
    ::WaitForSingleObject(process.hProcess, 10000);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  }
  run.out = ReadFileBytes(folder + L"\\out.txt").value_or("<missing>");
  run.err = ReadFileBytes(folder + L"\\err.txt").value_or("<missing>");
  return run;
}

std::string Hex(std::uint64_t value, int digits) {
  char text[32];
  std::snprintf(text, sizeof(text), "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

TEST(DumpInfoEndToEndTest, TheDumpOfARealCrashShowsThatCrash) {
  AppDataSandbox sandbox;
  const std::string id = UniqueCrashIdentifier();
  const FrontEndRun crash = RunCrashingFrontEnd(id, "access-violation", "");
  ASSERT_EQ(0u, crash.run.exitCode);
  ASSERT_TRUE(crash.capture.has_value());
  const std::wstring dump = ReportFiles(sandbox, id).dump;

  const ToolRun run = RunDumpInfo(L"--json " + QuoteWord(dump), sandbox.roaming());
  ASSERT_EQ(0u, run.exitCode) << run.err;
  EXPECT_EQ("", run.err);
  const EXCEPTION_RECORD& exception = crash.capture->exceptionRecord;
  for (const std::string& piece : {
           "\"thread_id\": " + std::to_string(crash.capture->threadId) + ",",
           std::string("\"code\": \"0xC0000005\",\n    \"name\": \"EXCEPTION_ACCESS_VIOLATION\""),
           "\"address\": \"" + Hex(reinterpret_cast<std::uintptr_t>(exception.ExceptionAddress), 16) + "\"",
           "\"rip\": \"" + Hex(crash.capture->context.Rip, 16) + "\"",
           "{\"base\": \"" + Hex(crash.capture->imageBase, 16) +
               "\", \"size\": " + std::to_string(crash.capture->imageSize) + ", ",
       }) {
    EXPECT_TRUE(Contains(run.out, piece)) << piece << "\n---\n" << run.out;
  }
  const std::size_t module = run.out.find("{\"base\": \"" + Hex(crash.capture->imageBase, 16));
  EXPECT_TRUE(
      Contains(run.out.substr(module, run.out.find('\n', module) - module), "crashing_front_end.exe\"}"));

  // The same dump cut in half: its later streams now point beyond the end.
  const std::string bytes = ReadFileBytes(dump).value_or("");
  WriteFileBytes(sandbox.roaming() + L"\\half.dmp", bytes.substr(0, bytes.size() / 2));
  const ToolRun half = RunDumpInfo(QuoteWord(sandbox.roaming() + L"\\half.dmp"), sandbox.roaming());
  EXPECT_EQ(3u, half.exitCode);
  EXPECT_TRUE(Contains(half.err, "lies beyond the end of the file\n")) << half.err;
  EXPECT_EQ(half.err.find('\n'), half.err.size() - 1) << half.err;
}

// A refusal of each exit code but 3, which the cut dump above shows; which files the parser refuses is its
// own test's table.
TEST(DumpInfoEndToEndTest, WhatIsNotADumpEndsWithOneLineAndItsExitCode) {
  AppDataSandbox sandbox;
  const std::wstring folder = sandbox.roaming();
  struct Case {
    std::wstring arguments;
    DWORD exitCode;
    const char* message;
  };
  const Case cases[] = {
      {L"", 1, "kxdumpinfo: usage: kxdumpinfo [--json] <dump file>\n"},
      {L"--json", 1, "usage"},
      {QuoteWord(folder + L"\\missing.dmp"), 2, "missing.dmp: error 2: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.arguments.begin(), c.arguments.end()));
    const ToolRun run = RunDumpInfo(c.arguments, folder);
    EXPECT_EQ(c.exitCode, run.exitCode);
    EXPECT_EQ("", run.out);
    EXPECT_TRUE(Contains(run.err, c.message)) << run.err;
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
}

}  // namespace
}  // namespace kx::test

// The crash log generator in this process, on a live stand-in for the crashed program, with the GPU probe's
// limit injected.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/win_handles.h"
#include "report/kx_log_generator.h"
#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx {
namespace {

TEST(KXLogGeneratorTest, WmiPastItsLimitCostsTheGpuLinesOnlyNotTheReportOrTheDump) {
  const test::AppDataSandbox sandbox;
  std::wstring line = L"\"" + test::ThisProgramFolder() + L"\\hanging_program.exe\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  ASSERT_TRUE(
      ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  CrashData crash;
  crash.ProcessId = info.dwProcessId;
  crash.ThreadId = info.dwThreadId;
  crash.LogFileName = L"gpu-limit";
  crash.DumpFileName = L"gpu-limit";

  ReportProbes probes(0);  // already past when WMI answers
  EXPECT_EQ(KXLogGenerator::kReportWritten, KXLogGenerator().GenerateCrashLog(crash, probes));
  ::TerminateProcess(process.get(), 0);

  const std::string report =
      test::ReadFileBytes(sandbox.storageRoot() + L"\\crashlogs\\gpu-limit.solurl").value_or("");
  EXPECT_NE(std::string::npos, report.find("\"/>\r\n<gpu>\r\n</gpu>\r\n<crash ")) << report;
  EXPECT_NE(std::string::npos, report.find("<binaryImage ")) << report;
  EXPECT_GT(test::ReadFileBytes(sandbox.storageRoot() + L"\\dumps\\gpu-limit.dmp").value_or("").size(), 32u);
}

}  // namespace
}  // namespace kx

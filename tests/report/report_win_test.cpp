// The crash log generator in this process on a live stand-in for the crashed program, with the GPU probe's
// limit injected: WMI can take far longer than a crash may wait.
#include <windows.h>
#include <dbghelp.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "report/crash_files_writer.h"
#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx {
namespace {

// Given time, the GPU lines arrive (Wine lists one video controller); past the limit only they are lost,
// never the report or the dump.
TEST(ReportWinTest, WmiPastItsLimitCostsTheGpuLinesOnlyNotTheReportOrTheDump) {
  const std::pair<DWORD, const char*> cases[] = {
      {120000, "\"/>\r\n<gpu>\r\n<gpuinfo availability="},  // far more than a cold WMI needs
      {0, "\"/>\r\n<gpu>\r\n</gpu>\r\n<crash "},            // already past when WMI answers
  };
  for (const auto& [limitMs, gpuText] : cases) {
    SCOPED_TRACE(limitMs);
    const test::AppDataSandbox sandbox;
    const test::StartedProgram target(test::ThisProgramFolder() + L"\\hanging_program.exe", {});
    // Ends with this process should the writer take it down: a stand-in left behind holds ctest's output open.
    const UniqueHandle job = test::JobHolding(target.process.get(), JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE);
    CrashData crash;
    crash.ProcessId = target.processId;
    crash.ThreadId = target.threadId;
    crash.LogFileName = L"gpu-limit";
    crash.DumpFileName = L"gpu-limit";

    ReportProbes probes(limitMs);
    EXPECT_EQ(CrashFilesResult::kWritten, CrashFilesWriter().Write(crash, probes));
    target.End(true);
    // Wine's writer reads every module's debug information unless loads are deferred, and that read kills
    // the service now and then; the odds make a crash test a lottery, the option this process wrote with
    // does not.
    EXPECT_TRUE(::SymGetOptions() & SYMOPT_DEFERRED_LOADS);

    const std::string report =
        test::ReadFileBytes(sandbox.storageRoot() + L"\\crashlogs\\gpu-limit.solurl").value_or("");
    EXPECT_TRUE(test::Contains(report, gpuText) && test::Contains(report, "<binaryImage ")) << report;
    EXPECT_GT(test::ReadFileBytes(sandbox.storageRoot() + L"\\dumps\\gpu-limit.dmp").value_or("").size(),
              32u);
  }
}

}  // namespace
}  // namespace kx

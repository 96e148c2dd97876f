// The Win32 layers of the report pieces, run under Wine (or Windows): the probes, and the crash log generator
// in this process on a live stand-in for the crashed program, with the GPU probe's limit injected. (The
// module lines of real crashes are the createdump end-to-end test's.)
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <utility>

#include "common/text_convert.h"
#include "report/gpu_probe.h"
#include "report/kx_log_generator.h"
#include "report/system_probe.h"
#include "support/appdata_sandbox.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx {
namespace {

TEST(ReportWinTest, ProbesFillEveryAttributeAndTheGpuProbeLeavesComAsItFoundIt) {
  const std::string tag = FormatSystemTag("de_DE");
  const std::regex form(
      "<system platform=\"[^\"]+\" osversion=\"\\d+\\.\\d+\" osbuild=\"\\d+\" applicationlanguage=\"de_DE\" "
      "userlanguage=\"[a-z]+-[A-Z]+\" oslanguage=\"[a-z]+-[A-Z]+\" ram=\"\\d+\" "
      "machine=\"[^\" ][^\"]*[^\" ]\" model=\"[^\" ][^\"]*[^\" ]\" cpuCount=\"[1-9]\\d*\" "
      "cpuType=\"\\d+\" cpuFreq=\"\\d+ MHz\" processorArchitecture=\"9\"/>\n");
  EXPECT_TRUE(std::regex_match(tag, form)) << tag;

  std::wstring lines;
  CollectGpuInfo(lines);
  const std::wregex gpuinfo(
      L"(<gpuinfo availability=\"[^\"]+\" adapterCompatibility=\"[^\"]+\" adapterRAM=\"\\d+ MB\" "
      L"caption=\"[^\"]+\" description=\"[^\"]+\" driverDate=\"[^\"]+\" driverVersion=\"[^\"]+\" "
      L"videoModeDescription=\"[^\"]+\" pnpDeviceID=\"([^\"&\\\\]|&#\\d+;)+\" "
      L"installedDisplayDrivers=\"[^\"\\\\]+\"/>\n)+");
  EXPECT_TRUE(std::regex_match(lines, gpuinfo)) << NarrowToCodePage(lines, CP_ACP);
  // The probe's apartment is gone: this thread can enter another one. A thread already in another
  // apartment: the probe does nothing and leaves the caller's COM alone.
  ASSERT_EQ(S_OK, ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  std::wstring none;
  CollectGpuInfo(none);
  EXPECT_EQ(L"", none);
  const HRESULT again = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  EXPECT_EQ(S_FALSE, again);
  if (SUCCEEDED(again)) ::CoUninitialize();
  ::CoUninitialize();
}

// The probes run beside the dump: given time, their lines arrive (Wine lists one video controller); past
// their limit, only the GPU lines are lost, never the report or the dump.
TEST(ReportWinTest, WmiPastItsLimitCostsTheGpuLinesOnlyNotTheReportOrTheDump) {
  const std::pair<DWORD, const char*> cases[] = {
      {120000, "\"/>\r\n<gpu>\r\n<gpuinfo availability="},  // far more than a cold WMI needs
      {0, "\"/>\r\n<gpu>\r\n</gpu>\r\n<crash "},            // already past when WMI answers
  };
  for (const auto& [limitMs, gpuText] : cases) {
    SCOPED_TRACE(limitMs);
    const test::AppDataSandbox sandbox;
    const test::StartedProgram target(test::ThisProgramFolder() + L"\\hanging_program.exe", {});
    CrashData crash;
    crash.ProcessId = target.processId;
    crash.ThreadId = target.threadId;
    crash.LogFileName = L"gpu-limit";
    crash.DumpFileName = L"gpu-limit";

    ReportProbes probes(limitMs);
    EXPECT_EQ(KXLogGenerator::kReportWritten, KXLogGenerator().GenerateCrashLog(crash, probes));
    target.End(true);

    const std::string report =
        test::ReadFileBytes(sandbox.storageRoot() + L"\\crashlogs\\gpu-limit.solurl").value_or("");
    EXPECT_NE(std::string::npos, report.find(gpuText)) << report;
    EXPECT_NE(std::string::npos, report.find("<binaryImage ")) << report;
    EXPECT_GT(test::ReadFileBytes(sandbox.storageRoot() + L"\\dumps\\gpu-limit.dmp").value_or("").size(),
              32u);
  }
}

}  // namespace
}  // namespace kx

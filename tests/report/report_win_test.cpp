// The Win32 layers of the report pieces, run under Wine (or Windows).
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <regex>

#include "common/text_convert.h"
#include "report/gpu_probe.h"
#include "report/module_list_callback.h"
#include "report/system_probe.h"

namespace kx {
namespace {

MINIDUMP_CALLBACK_INPUT ModuleInput(const wchar_t* path, ULONG64 base, ULONG size) {
  MINIDUMP_CALLBACK_INPUT input = {};
  input.CallbackType = ModuleCallback;
  input.Module.FullPath = const_cast<PWCHAR>(path);
  input.Module.BaseOfImage = base;
  input.Module.SizeOfImage = size;
  return input;
}

TEST(ReportWinTest, ModuleListCallbackAppendsOneLinePerModuleAndNothingElse) {
  std::wstring collector;
  MINIDUMP_CALLBACK_OUTPUT output;
  std::memset(&output, 0xA5, sizeof(output));
  const MINIDUMP_CALLBACK_OUTPUT untouched = output;
  MINIDUMP_CALLBACK_INPUT input = ModuleInput(L"C:\\Program Files\\Orvan\\k&x.dll", 0x7FFB00000000u, 0x2000u);
  EXPECT_TRUE(ModuleListCallback(&collector, &input, &output));
  input = ModuleInput(nullptr, 0x10000u, 0x10u);
  EXPECT_TRUE(ModuleListCallback(&collector, &input, &output));
  for (ULONG type : {ThreadCallback, IncludeModuleCallback, MemoryCallback, CancelCallback}) {
    input.CallbackType = type;
    EXPECT_TRUE(ModuleListCallback(&collector, &input, &output));
  }
  EXPECT_EQ(L"<binaryImage start=\"0x00007FFB00000000\" end=\"0x00007FFB00002000\" "
            L"path=\"orvan\\k&#38;x.dll\"/>\n"
            L"<binaryImage start=\"0x0000000000010000\" end=\"0x0000000000010010\" path=\"\"/>\n",
            collector);
  EXPECT_EQ(0, std::memcmp(&untouched, &output, sizeof(output)));
}

TEST(ReportWinTest, SystemProbeFillsEveryAttribute) {
  const std::string tag = FormatSystemTag("de_DE");
  const std::regex form(
      "<system platform=\"[^\"]+\" osversion=\"\\d+\\.\\d+\" osbuild=\"\\d+\" applicationlanguage=\"de_DE\" "
      "userlanguage=\"[a-z]+-[A-Z]+\" oslanguage=\"[a-z]+-[A-Z]+\" ram=\"\\d+\" "
      "machine=\"[^\" ][^\"]*[^\" ]\" model=\"[^\" ][^\"]*[^\" ]\" cpuCount=\"[1-9]\\d*\" "
      "cpuType=\"\\d+\" cpuFreq=\"\\d+ MHz\" processorArchitecture=\"9\"/>\n");
  EXPECT_TRUE(std::regex_match(tag, form)) << tag;
}

TEST(ReportWinTest, GpuProbeWritesAllAttributesAndLeavesComAsItFoundIt) {
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

}  // namespace
}  // namespace kx

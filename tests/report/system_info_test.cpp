// The machine's part of the report: the system tag's rules, the GPU values, the module paths.
#include "report/system_info.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "report/gpu_info.h"
#include "report/module_list.h"

namespace kx {
namespace {

TEST(SystemInfoTest, Windows11IsToldByTheBuild) {
  const std::tuple<const char*, std::uint32_t, std::uint32_t, const char*, const char*> cases[] = {
      {"Windows 10 Pro", 10, 22000, "Windows 11 Pro", "11.0"},
      {"Windows 10 Pro", 10, 21999, "Windows 10 Pro", "10.0"},
      {"Windows 10 Enterprise LTSC 2010 ", 10, 26100, "Windows 11 Enterprise LTSC 2011", "11.0"},
      {"Windows Server 2022", 10, 26100, "Windows Server 2022", "11.0"},
      {"Windows 8.1 Pro", 6, 9600, "Windows 8.1 Pro", "6.0"},
  };
  for (const auto& [name, major, build, platform, osversion] : cases) {
    SCOPED_TRACE(testing::Message() << name << " " << build);
    EXPECT_EQ(platform, AdjustProductName(name, build));
    EXPECT_EQ(osversion, FormatOsVersion({major, 0, build}));
  }
}

TEST(SystemInfoTest, FallbacksAndWhichFactGoesWhere) {
  EXPECT_EQ("de-unknown", FormatLanguageTag({std::string("de"), std::nullopt}));
  EXPECT_EQ("unknown-FR", FormatLanguageTag({std::nullopt, std::string("FR")}));
  EXPECT_EQ("unknown", FormatMemory(std::nullopt));
  EXPECT_EQ("unknown", FormatProcessorSpeed(std::nullopt));

  SystemFacts facts;
  facts.productName = "Windows 10 Pro";
  facts.version = OsVersionNumbers{10, 0, 22631};
  facts.userLocale = {std::string("en"), std::string("GB")};
  facts.systemLocale = {std::string("de"), std::string("DE ")};
  facts.totalPhysicalBytes = std::uint64_t{17178820608u};
  facts.processorName = " Intel(R) Core(TM) CPU   ";
  SystemValues values = BuildSystemValues(facts);
  EXPECT_EQ("", values.platform + values.osversion + values.osbuild);  // the version key was not open
  EXPECT_EQ("en-GB de-DE 16383 Intel(R) Core(TM) CPU",
            values.userlanguage + " " + values.oslanguage + " " + values.ram + " " + values.machine);
  facts.versionKeyOpen = true;
  values = BuildSystemValues(facts);
  EXPECT_EQ("Windows 11 Pro 11.0 22631", values.platform + " " + values.osversion + " " + values.osbuild);
}

TEST(GpuInfoTest, DriverListAdapterRamAndValuesCutWithoutSplittingAReference) {
  const std::pair<const wchar_t*, const wchar_t*> lists[] = {
      {L"C:\\x\\b.dll,C:\\y\\a.dll,,C:\\z\\b.dll", L"a.dll,b.dll"},
      {L"C:\\drv\\,x.dll", L",x.dll"},
      {L"b.dll,Z.dll,a.dll", L"Z.dll,a.dll,b.dll"},
  };
  for (const auto& [list, simplified] : lists) EXPECT_EQ(simplified, SimplifyDriverList(list)) << list;
  EXPECT_EQ(L"", FormatAdapterRam(0));
  EXPECT_EQ(L"4095 MB", FormatAdapterRam(0xFFFFFFFFu));
  EXPECT_STREQ(L"Other", AvailabilityName(22));
  EXPECT_EQ(std::wstring(100, L'c'), GpuTextValue(std::wstring(120, L'c')));
  EXPECT_EQ(std::wstring(98, L'x'), GpuTextValue(std::wstring(98, L'x') + L"&y"));  // "&#38;" left out
  // Only the first 4096 characters of the list are read; "a.dll" loses its end.
  EXPECT_EQ(L"a," + std::wstring(98, L'z'), GpuDriverListValue(std::wstring(4094, L'z') + L",a.dll"));
}

TEST(ModuleListTest, FilterModulePathKeepsTheFileNameAndTheFirstListedWord) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\Program Files\\ORVAN\\Bin\\KxCore.dll", L"orvan\\KxCore.dll"},
      {L"C:\\Windows\\System32\\kernel32.dll", L"kernel32.dll"},
      {L"C:\\Glint\\OrVaN\\x.dll", L"orvan\\x.dll"},  // list order, not position in the path
      {L"C:\\Users\\glinter\\AppData\\a.dll", L"glint\\a.dll"},
      {L"\\\\srv\\tumbleClatter\\u.dll", L"tumbleclatter\\u.dll"},
      {L"C:\\apps\\TessaLinex.dll", L"tessaline\\TessaLinex.dll"},
      {L"/lib/x86_64-linux-gnu/libc.so.6", L"/lib/x86_64-linux-gnu/libc.so.6"},
      {L"C:\\dir\\", L""},
  };
  for (const auto& [path, reduced] : cases) EXPECT_EQ(reduced, FilterModulePath(path)) << path;
  EXPECT_EQ("c", LastPathComponent("a::b::c", "::"));
}

}  // namespace
}  // namespace kx

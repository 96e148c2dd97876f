#include "report/gpu_info.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(GpuInfoTest, SimplifyDriverList) {
  struct Case {
    const wchar_t* list;
    const wchar_t* simplified;
  };
  const Case cases[] = {
      {L"C:\\x\\b.dll,C:\\y\\a.dll,,C:\\z\\b.dll", L"a.dll,b.dll"},
      {L"C:\\drv\\,x.dll", L",x.dll"},
      {L",a.dll,", L"a.dll"},
      {L"", L""},
      {L",,,", L""},
      {L"wine.dll", L"wine.dll"},
      {L"b.dll,Z.dll,a.dll", L"Z.dll,a.dll,b.dll"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(c.simplified, SimplifyDriverList(c.list));
  }
}

TEST(GpuInfoTest, AvailabilityNamesAndAdapterRam) {
  EXPECT_STREQ(L"Other", AvailabilityName(0));
  EXPECT_STREQ(L"Other", AvailabilityName(1));
  EXPECT_STREQ(L"Unknown", AvailabilityName(2));
  EXPECT_STREQ(L"Running/Full Power", AvailabilityName(3));
  EXPECT_STREQ(L"Power Save - Low Power Mode", AvailabilityName(14));
  EXPECT_STREQ(L"Quiesced", AvailabilityName(21));
  EXPECT_STREQ(L"Other", AvailabilityName(22));
  EXPECT_STREQ(L"Other", AvailabilityName(65535));

  EXPECT_EQ(L"", FormatAdapterRam(0));
  EXPECT_EQ(L"512 MB", FormatAdapterRam(536870912u));
  EXPECT_EQ(L"4095 MB", FormatAdapterRam(0xFFF00000u));
  EXPECT_EQ(L"4095 MB", FormatAdapterRam(0xFFFFFFFFu));
  EXPECT_EQ(L"0 MB", FormatAdapterRam(1));
}

TEST(GpuInfoTest, ValuesAreEscapedBeforeTheCutWhichKeepsReferencesWhole) {
  EXPECT_EQ(std::wstring(100, L'c'), GpuTextValue(std::wstring(120, L'c')));
  // 98 characters and "&": "&#38;" would end at 103, so it is left out whole.
  EXPECT_EQ(std::wstring(98, L'x'), GpuTextValue(std::wstring(98, L'x') + L"&y"));
  EXPECT_EQ(std::wstring(95, L'x') + L"&#38;", GpuTextValue(std::wstring(95, L'x') + L"&y"));
  EXPECT_EQ(L"Tom&#38;Jerry", GpuTextValue(L"Tom&Jerry"));
  EXPECT_EQ(L"a.dll,b&#38;c.dll", GpuDriverListValue(L"C:\\b&c.dll,a.dll"));
  // Only the first 4096 characters of the list are read: "a.dll" loses its end, then the value is cut.
  EXPECT_EQ(L"a," + std::wstring(98, L'z'), GpuDriverListValue(std::wstring(4094, L'z') + L",a.dll"));
}

TEST(GpuInfoTest, GpuInfoLine) {
  GpuInfo info;
  info.availability = AvailabilityName(3);
  info.adapterCompatibility = L"The Wine Project";
  info.adapterRAM = FormatAdapterRam(536870912u);
  info.caption = L"VideoController1";
  info.description = L"Adapter 'one'";
  info.driverDate = L"20230101000000.000000+000";
  info.driverVersion = L"1.0";
  info.videoModeDescription = L"1024 x 768 x 4294967296 colors";
  info.pnpDeviceID = L"PCI\\VEN_0000&DEV_0000";
  info.installedDisplayDrivers = L"C:\\windows\\system32\\wine.dll";
  EXPECT_EQ(
      L"<gpuinfo availability=\"Running/Full Power\" adapterCompatibility=\"The Wine Project\" "
      L"adapterRAM=\"512 MB\" caption=\"VideoController1\" description=\"Adapter &#39;one&#39;\" "
      L"driverDate=\"20230101000000.000000+000\" driverVersion=\"1.0\" "
      L"videoModeDescription=\"1024 x 768 x 4294967296 colors\" "
      L"pnpDeviceID=\"PCI&#92;VEN_0000&#38;DEV_0000\" "
      L"installedDisplayDrivers=\"wine.dll\"/>\n",
      FormatGpuInfoLine(info));
  EXPECT_EQ(
      L"<gpuinfo availability=\"\" adapterCompatibility=\"\" adapterRAM=\"\" caption=\"\" description=\"\" "
      L"driverDate=\"\" driverVersion=\"\" videoModeDescription=\"\" pnpDeviceID=\"\" "
      L"installedDisplayDrivers=\"\"/>\n",
      FormatGpuInfoLine(GpuInfo{}));
}

}  // namespace
}  // namespace kx

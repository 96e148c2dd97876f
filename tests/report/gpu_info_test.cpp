#include "report/gpu_info.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

TEST(GpuInfoTest, SimplifyDriverList) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\x\\b.dll,C:\\y\\a.dll,,C:\\z\\b.dll", L"a.dll,b.dll"},
      {L"C:\\drv\\,x.dll", L",x.dll"},
      {L",a.dll,", L"a.dll"},
      {L",,", L""},
      {L"b.dll,Z.dll,a.dll", L"Z.dll,a.dll,b.dll"},
  };
  for (const auto& [list, simplified] : cases) {
    SCOPED_TRACE(testing::Message() << list);
    EXPECT_EQ(simplified, SimplifyDriverList(list));
  }
}

TEST(GpuInfoTest, AvailabilityNamesAndAdapterRam) {
  EXPECT_STREQ(L"Quiesced", AvailabilityName(21));
  EXPECT_STREQ(L"Other", AvailabilityName(22));
  EXPECT_EQ(L"", FormatAdapterRam(0));
  EXPECT_EQ(L"4095 MB", FormatAdapterRam(0xFFF00000u));
  EXPECT_EQ(L"4095 MB", FormatAdapterRam(0xFFFFFFFFu));
}

TEST(GpuInfoTest, ValuesAreEscapedThenCutWithoutSplittingAReference) {
  EXPECT_EQ(std::wstring(100, L'c'), GpuTextValue(std::wstring(120, L'c')));
  EXPECT_EQ(std::wstring(98, L'x'), GpuTextValue(std::wstring(98, L'x') + L"&y"));  // "&#38;" left out
  // Only the first 4096 characters of the list are read; "a.dll" loses its end.
  EXPECT_EQ(L"a," + std::wstring(98, L'z'), GpuDriverListValue(std::wstring(4094, L'z') + L",a.dll"));
}

// The attribute names and their order: the GPU probe's test, against WMI.
TEST(GpuInfoTest, EveryValueOfTheLineIsEscaped) {
  const std::wstring raw = L"<'\"&>";
  const std::wstring line = FormatGpuInfoLine(GpuInfo{raw, raw, raw, raw, raw, raw, raw, raw, raw, raw});
  const std::wstring escaped = L"=\"&#60;&#39;&#34;&#38;&#62;\"";
  size_t count = 0;
  for (size_t at = line.find(escaped); at != std::wstring::npos; at = line.find(escaped, at + 1)) ++count;
  EXPECT_EQ(10u, count);
}

}  // namespace
}  // namespace kx

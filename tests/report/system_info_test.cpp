#include "report/system_info.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(SystemInfoTest, Windows11IsToldByTheBuild) {
  const std::tuple<const char*, std::uint32_t, std::uint32_t, const char*, const char*> cases[] = {
      {"Windows 10 Pro", 10, 22000, "Windows 11 Pro", "11.0"},
      {"Windows 10 Pro", 10, 21999, "Windows 10 Pro", "10.0"},
      {"Windows 10 Pro", 10, 100000, "Windows 11 Pro", "11.0"},
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

TEST(SystemInfoTest, FallbacksAndNumberFormats) {
  EXPECT_EQ("de-unknown", FormatLanguageTag({std::string("de"), std::nullopt}));
  EXPECT_EQ("unknown-FR", FormatLanguageTag({std::nullopt, std::string("FR")}));
  EXPECT_EQ("16383", FormatMemory(std::uint64_t{17178820608u}));
  EXPECT_EQ("unknown", FormatMemory(std::nullopt));
  EXPECT_EQ("unknown", FormatProcessorSpeed(std::nullopt));

  SystemFacts facts;
  facts.productName = "Windows 10 Pro";
  facts.version = OsVersionNumbers{10, 0, 22631};
  const SystemValues closedKey = BuildSystemValues(facts);
  EXPECT_EQ("", closedKey.platform + closedKey.osversion + closedKey.osbuild);
  EXPECT_EQ("unknown-unknown", closedKey.userlanguage);
}

TEST(SystemInfoTest, SystemTagHasThirteenTrimmedEscapedValuesInOrder) {
  SystemFacts facts;
  facts.versionKeyOpen = true;
  facts.productName = "Windows 10 Pro";
  facts.version = OsVersionNumbers{10, 0, 22631};
  facts.applicationLocale = " en_US ";
  facts.userLocale = {std::string("en"), std::string("GB")};
  facts.systemLocale = {std::string("de"), std::string("DE ")};
  facts.totalPhysicalBytes = std::uint64_t{34359738368u};
  facts.processorName = "Intel(R) Core(TM) <\"i7\"> & CPU @ 2.90GHz   ";
  facts.processorIdentifier = " Intel64 Family 6";
  facts.processorMhz = 2904u;
  facts.processorCount = 8;
  facts.processorType = 8664;
  facts.processorArchitecture = 9;
  EXPECT_EQ("<system platform=\"Windows 11 Pro\" osversion=\"11.0\" osbuild=\"22631\" "
            "applicationlanguage=\" en_US \" userlanguage=\"en-GB\" oslanguage=\"de-DE\" ram=\"32768\" "
            "machine=\"Intel(R) Core(TM) &#60;&#34;i7&#34;&#62; &#38; CPU @ 2.90GHz\" "
            "model=\"Intel64 Family 6\" cpuCount=\"8\" cpuType=\"8664\" cpuFreq=\"2904 MHz\" "
            "processorArchitecture=\"9\"/>\n",
            FormatSystemTag(BuildSystemValues(facts)));
}

}  // namespace
}  // namespace kx

#include "report/system_info.h"

#include <gtest/gtest.h>

namespace kx {
namespace {

TEST(SystemInfoTest, Windows11IsToldByTheBuild) {
  struct Case {
    const char* name;
    std::uint32_t major, build;
    const char* platform;
    const char* osversion;
  };
  const Case cases[] = {
      {"Windows 10 Pro", 10, 22000, "Windows 11 Pro", "11.0"},
      {"Windows 10 Pro", 10, 22631, "Windows 11 Pro", "11.0"},
      {"Windows 10 Pro", 10, 21999, "Windows 10 Pro", "10.0"},
      {"Windows 10 Pro", 10, 100000, "Windows 11 Pro", "11.0"},
      {"Windows 10 Enterprise LTSC 2010 ", 10, 26100, "Windows 11 Enterprise LTSC 2011", "11.0"},
      {"Windows Server 2022 Datacenter", 10, 26100, "Windows Server 2022 Datacenter", "11.0"},
      {"Windows 8.1 Pro", 6, 9600, "Windows 8.1 Pro", "6.0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.build);
    EXPECT_EQ(c.platform, AdjustProductName(c.name, c.build));
    EXPECT_EQ(c.osversion, FormatOsVersion({c.major, 0, c.build}));
  }
  EXPECT_EQ("6.3", FormatOsVersion({6, 3, 9600}));
}

TEST(SystemInfoTest, LanguageTagsMemoryAndSpeed) {
  EXPECT_EQ("en-US", FormatLanguageTag({std::string("en"), std::string("US")}));
  EXPECT_EQ("de-unknown", FormatLanguageTag({std::string("de"), std::nullopt}));
  EXPECT_EQ("unknown-FR", FormatLanguageTag({std::nullopt, std::string("FR")}));
  EXPECT_EQ("unknown-unknown", FormatLanguageTag({}));
  EXPECT_EQ("en- US", FormatLanguageTag({std::string(" en"), std::string(" US ")}));

  EXPECT_EQ("16383", FormatMemory(std::uint64_t{17178820608u}));
  EXPECT_EQ("0", FormatMemory(std::uint64_t{1048575u}));
  EXPECT_EQ("unknown", FormatMemory(std::nullopt));
  EXPECT_EQ("2904 MHz", FormatProcessorSpeed(2904u));
  EXPECT_EQ("unknown", FormatProcessorSpeed(std::nullopt));
}

SystemFacts SampleFacts() {
  SystemFacts facts;
  facts.versionKeyOpen = true;
  facts.productName = "Windows 10 Pro";
  facts.version = OsVersionNumbers{10, 0, 22631};
  facts.applicationLocale = " en_US ";
  facts.userLocale = {std::string("en"), std::string("GB")};
  facts.systemLocale = {std::string("de"), std::string("DE")};
  facts.totalPhysicalBytes = std::uint64_t{34359738368u};
  facts.processorName = "Intel(R) Core(TM) i7 CPU @ 2.90GHz   ";
  facts.processorIdentifier = " Intel64 Family 6 Model 158 Stepping 10";
  facts.processorMhz = 2904u;
  facts.processorCount = 8;
  facts.processorType = 8664;
  facts.processorArchitecture = 9;
  return facts;
}

TEST(SystemInfoTest, SystemTagHasThirteenAttributesInOrder) {
  EXPECT_EQ(
      "<system platform=\"Windows 11 Pro\" osversion=\"11.0\" osbuild=\"22631\" applicationlanguage=\" en_US "
      "\" "
      "userlanguage=\"en-GB\" oslanguage=\"de-DE\" ram=\"32768\" machine=\"Intel(R) Core(TM) i7 CPU @ "
      "2.90GHz\" "
      "model=\"Intel64 Family 6 Model 158 Stepping 10\" cpuCount=\"8\" cpuType=\"8664\" cpuFreq=\"2904 MHz\" "
      "processorArchitecture=\"9\"/>\n",
      FormatSystemTag(BuildSystemValues(SampleFacts())));
}

TEST(SystemInfoTest, UnreadableVersionKeyEmptiesOnlyTheWindowsValues) {
  SystemFacts facts = SampleFacts();
  facts.versionKeyOpen = false;
  facts.processorName = "A&B <\"x\">";
  const SystemValues values = BuildSystemValues(facts);
  EXPECT_EQ("", values.platform);
  EXPECT_EQ("", values.osversion);
  EXPECT_EQ("", values.osbuild);
  EXPECT_EQ("en-GB", values.userlanguage);
  EXPECT_EQ("8", values.cpuCount);
  EXPECT_NE(std::string::npos, FormatSystemTag(values).find(" machine=\"A&#38;B &#60;&#34;x&#34;&#62;\" "));

  facts.versionKeyOpen = true;
  facts.version.reset();
  facts.productName = " Windows 10 Home ";
  const SystemValues noVersion = BuildSystemValues(facts);
  EXPECT_EQ("Windows 10 Home", noVersion.platform);
  EXPECT_EQ("", noVersion.osversion);
}

}  // namespace
}  // namespace kx

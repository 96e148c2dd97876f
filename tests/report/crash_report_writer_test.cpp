// The report's texts and the parts of it that no end-to-end crash reaches, and the machine's part of it (the
// system tag's rules, the GPU values, the module paths). That every escaped text reads back as its input and
// holds no markup, that a cut never splits a reference, and that base64 is never decoded past its capacity,
// the fuzz targets check on any text; the values as a parser reads them back from a real report are the
// createdump end-to-end test's hostile read-back.
#include "report/crash_report_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "report/attachment_rules.h"
#include "report/base64.h"
#include "report/gpu_info.h"
#include "report/module_list.h"
#include "report/system_info.h"
#include "report/xml_text.h"

namespace kx {
namespace {

// The application's texts: references for markup and UTF-8 characters, %XX for what XML cannot carry.
TEST(XmlTextTest, ReversibleForm) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"a&<>\"%41", "a&#38;&#60;&#62;&#34;%2541", "a&#38;&#60;&#62;&#34;%2541"},
      {std::string("\0\x01\t\n\r\x7F", 6), "%00%01&#9;&#10;&#13;\x7F", "%00%01\t\n&#13;\x7F"},
      {"caf\xC3\xA9 \xF0\x9F\x98\x80", "caf&#233; &#128512;", "caf&#233; &#128512;"},
      // Not UTF-8 (a lone byte, a cut sequence, an overlong form, a surrogate) and U+FFFF: byte by byte.
      {"\xE9 \xC3 \xC0\x80 \xED\xA0\x80 \xEF\xBF\xBF", "%E9 %C3 %C0%80 %ED%A0%80 %EF%BF%BF",
       "%E9 %C3 %C0%80 %ED%A0%80 %EF%BF%BF"},
  };
  for (const auto& [in, attribute, elementText] : cases) {
    SCOPED_TRACE(in);
    EXPECT_EQ(attribute, EscapeReversible(in, true));
    EXPECT_EQ(elementText, EscapeReversible(in, false));
  }
}

// Decoded with a capacity as large as the text, as the crash log generator does. That whatever the handler
// encodes decodes back, short final groups included, is the fuzz target's round trip; here the bytes its
// encoder never writes.
TEST(Base64Test, SkipsAnyByteOutsideTheAlphabetAndEndsAtAZeroByteBetweenGroups) {
  const std::pair<std::string, std::string> cases[] = {
      {"= TW\r\nFu== \t", "Man"},
      {"TWFuT", "Man"},                       // one trailing character: nothing
      {std::string("TWFu\0TWFu", 9), "Man"},  // a zero byte where a group would begin ends the text
      {std::string("TW\0Fu", 5), "Man"},      // inside a group it is skipped like any other byte
  };
  for (const auto& [text, bytes] : cases) {
    SCOPED_TRACE(text);
    std::vector<unsigned char> out(text.size());
    std::size_t count = out.size();
    EXPECT_TRUE(DecodeBase64(text, out.data(), count));
    EXPECT_EQ(bytes, std::string(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(count)));
  }
}

// A crash type after a name of any length, a code without a name, a note that annotations were left out.
TEST(CrashReportWriterTest, PartsNoEndToEndCrashReaches) {
  CrashReportHeader header;
  header.crashType = "SIGSEGV";
  header.applicationName.assign(2000, 'n');
  const std::string line = FormatCrashReportTag(header);
  EXPECT_EQ("\" crashType=\"SIGSEGV\">\n", line.substr(line.size() - 23));
  EXPECT_STREQ("EXCEPTION_UNKNOWN", ExceptionCodeName(0xE06D7363u));
  EXPECT_EQ("<annotations note=\"busy\">\n<annotation key=\"k&#34;\">v\n%01</annotation>\n</annotations>\n",
            FormatAnnotationsElement({{"k\"", "v\n\x01"}}, "busy"));
}

TEST(CrashReportWriterTest, AnAttachmentIsCopiedOnlyFromAPlainLocalOrSharePath) {
  const std::pair<const wchar_t*, bool> paths[] = {
      {L"C:\\logs\\app.log", true},
      {L"\\\\server\\share\\app.log", true},
      {L"logs\\app.log", false},
      {L"\\\\.\\pipe\\app", false},
      {L"\\\\?\\C:\\app.log", false},
      {L"C:\\logs\\app.log:stream", false},
      {L"C:\\logs\\..\\app.log", false},
      {L"C:\\logs\\con.txt", false},
      {L"C:\\LPT1 \\x", false},
      {L"C:\\logs\\console.log", true},
      {L"C:/logs/app.log", false},
      {L"C:\\a<b", false},
  };
  for (const auto& [path, copyable] : paths) EXPECT_EQ(copyable, IsCopyablePath(path)) << path;
}

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

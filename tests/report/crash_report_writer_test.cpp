// The report's rules no end-to-end crash reaches. That every escaped text reads back as its input and holds
// no markup, and that a cut never splits a reference, the fuzz targets check on any text; the values as a
// parser reads them back from a real report are the createdump end-to-end test's hostile read-back.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <utility>

#include "report/attachment_rules.h"
#include "report/module_list.h"
#include "report/system_info.h"
#include "report/xml_text.h"

namespace kx {
namespace {

// The application's texts: references for markup and UTF-8 characters, %XX for what XML cannot carry.
TEST(XmlTextTest, ReversibleForm) {
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"a&<>\"%41", "a&#38;&#60;&#62;&#34;%2541", "a&#38;&#60;&#62;&#34;%2541"},
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

// A locale part the system cannot name, and the version key's facts only when it could be read, with
// Windows 11 told by its build (it still calls itself Windows 10).
TEST(SystemInfoTest, FallbacksAndWindows11) {
  EXPECT_EQ("de-unknown unknown-FR", FormatLanguageTag({std::string("de"), std::nullopt}) + " " +
                                         FormatLanguageTag({std::nullopt, std::string("FR")}));
  SystemFacts facts;
  facts.productName = "Windows 10 Pro";
  facts.version = OsVersionNumbers{10, 0, 22000};
  SystemValues values = BuildSystemValues(facts);
  EXPECT_EQ("", values.platform + values.osversion + values.osbuild);
  facts.versionKeyOpen = true;
  values = BuildSystemValues(facts);
  EXPECT_EQ("Windows 11 Pro 11.0 22000", values.platform + " " + values.osversion + " " + values.osbuild);
  facts.version->build = 21999;
  values = BuildSystemValues(facts);
  EXPECT_EQ("Windows 10 Pro 10.0 21999", values.platform + " " + values.osversion + " " + values.osbuild);
}

// No folder of the user's (a user name, a company's layout) reaches the server: only the file name, after
// the first of the product words the path holds.
TEST(ModuleListTest, FilterModulePathKeepsTheFileNameAndTheFirstListedWord) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"C:\\Program Files\\ORVAN\\Bin\\KxCore.dll", L"orvan\\KxCore.dll"},
      {L"C:\\Users\\jane\\AppData\\kernel32.dll", L"kernel32.dll"},
      {L"C:\\Users\\glinter\\AppData\\a.dll", L"glint\\a.dll"},
      {L"C:\\dir\\", L""},
  };
  for (const auto& [path, reduced] : cases) EXPECT_EQ(reduced, FilterModulePath(path)) << path;
}

}  // namespace
}  // namespace kx

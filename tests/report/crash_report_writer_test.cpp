// The report's parts that no end-to-end crash reaches; the values as a parser reads them back are the
// end-to-end test's hostile read-back.
#include "report/crash_report_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "report/attachment_rules.h"

namespace kx {
namespace {

TEST(CrashReportWriterTest, TagsKeepTheirEndWhateverTheValuesAndAreBlankWhenUnknown) {
  CrashReportHeader header;
  header.crashType = "SIGSEGV";
  header.applicationName.assign(2000, 'n');
  const std::string line = FormatCrashReportTag(header);
  EXPECT_EQ("\" crashType=\"SIGSEGV\">\n", line.substr(line.size() - 23));
  EXPECT_EQ(
      "<time year=\"\" month=\"\" day=\"\" hour=\"\" minute=\"\" second=\"\" timeoffset=\"\" "
      "timezone=\"\"/>\n",
      FormatTimeTag(std::nullopt, 60, "N/A"));
  EXPECT_EQ("<crash exception=\"EXCEPTION_UNKNOWN\" exceptionCode=\"0xe06d7363\" "
            "instruction=\"0x00007FF6A1B2C3D4\">\n",
            FormatCrashTag(0xE06D7363u, 0x7FF6A1B2C3D4u));
  EXPECT_EQ("<annotations note=\"busy\">\n<annotation key=\"k&#34;\">v\n%01</annotation>\n</annotations>\n",
            FormatAnnotationsElement({{"k\"", "v\n\x01"}}, "busy"));
}

TEST(CrashReportWriterTest, UserGuidIsTheSecondPieceOfTheLogFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"kxWinLog_6F9619FF-8B86-D011-B42D-00C04FC964FF_4711_abc.xml", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
      {"noUnderscore.xml", "noUnderscore.xml"},
      {"one_rest.xml", "rest.xml"},
      {"lead__x", ""},
      {"kxWinLog_{<&\"g\">}_42", "{&#60;&#38;&#34;g&#34;&#62;}"},
  };
  for (const auto& [logFileName, guid] : cases) {
    EXPECT_EQ(std::string("<user guid=\"") + guid + "\"/>\n", FormatUserTag(logFileName)) << logFileName;
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

}  // namespace
}  // namespace kx

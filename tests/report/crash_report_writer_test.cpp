// The report's parts that no end-to-end crash reaches; the values as a parser reads them back are the
// end-to-end test's hostile read-back.
#include "report/crash_report_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "report/attachment_rules.h"

namespace kx {
namespace {

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

TEST(CrashReportWriterTest, UserGuidIsTheSecondPieceOfTheLogFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"kxWinLog_6F9619FF-8B86-D011-B42D-00C04FC964FF_4711_abc.xml", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
      {"noUnderscore.xml", "noUnderscore.xml"},
      {"one_rest.xml", "rest.xml"},
      {"lead__x", ""},
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

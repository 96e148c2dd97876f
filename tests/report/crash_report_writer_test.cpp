#include "report/crash_report_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "report/attachment_rules.h"

namespace kx {
namespace {

// The values as a parser reads them back are the end-to-end test's hostile read-back.
TEST(CrashReportWriterTest, CrashReportTagHasSixOrSevenAttributesAndIsNeverCut) {
  CrashReportHeader header;
  EXPECT_EQ(
      "<crashreport serviceVersion=\"12.0.0.202304060538_39d0b25\" "
      "clientVersion=\"12.0.0.202304060538_39d0b25\" applicationName=\"\" applicationVersion=\"\" "
      "build=\"\" source=\"\">\n",
      FormatCrashReportTag(header));
  header.crashType = "SIGSEGV";
  header.applicationName.assign(2000, 'n');
  const std::string line = FormatCrashReportTag(header);
  EXPECT_EQ("\" crashType=\"SIGSEGV\">\n", line.substr(line.size() - 23));
}

TEST(CrashReportWriterTest, TimeAndUserTags) {
  EXPECT_EQ(
      "<time year=\"2024\" month=\"3\" day=\"7\" hour=\"0\" minute=\"5\" second=\"9\" "
      "timeoffset=\"-300\" timezone=\"Eastern &#60;&#34;&#38;&#34;&#62; Time\"/>\n",
      FormatTimeTag(LocalTimeParts{2024, 3, 7, 0, 5, 9}, -300, "Eastern <\"&\"> Time"));
  EXPECT_EQ(
      "<time year=\"\" month=\"\" day=\"\" hour=\"\" minute=\"\" second=\"\" timeoffset=\"\" "
      "timezone=\"\"/>\n",
      FormatTimeTag(std::nullopt, 60, "N/A"));

  const std::pair<const char*, const char*> guids[] = {
      {"kxWinLog_6F9619FF-8B86-D011-B42D-00C04FC964FF_4711_abc.xml", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
      {"noUnderscore.xml", "noUnderscore.xml"},
      {"one_rest.xml", "rest.xml"},
      {"lead__x", ""},
      {"kxWinLog_{<&\"g\">}_42", "{&#60;&#38;&#34;g&#34;&#62;}"},
  };
  for (const auto& [logFileName, guid] : guids) {
    SCOPED_TRACE(logFileName);
    EXPECT_EQ(std::string("<user guid=\"") + guid + "\"/>\n", FormatUserTag(logFileName));
  }
}

// The crash tag of real crashes is checked by the end-to-end test; a code without a name is not.
TEST(CrashReportWriterTest, ACodeWithoutANameIsUnknown) {
  EXPECT_EQ(
      "<crash exception=\"EXCEPTION_UNKNOWN\" exceptionCode=\"0xe06d7363\" "
      "instruction=\"0x00007FF6A1B2C3D4\">\n",
      FormatCrashTag(0xE06D7363u, 0x7FF6A1B2C3D4u));
}

// The register lines and the dumpType texts of real crashes are checked by the end-to-end test.
TEST(CrashReportWriterTest, ThreadAndTextElements) {
  EXPECT_EQ("<thread index=\"0\">\n</thread>\n", FormatThreadElement(""));
  EXPECT_EQ("<thread index=\"0\">\nf&#60;T&#62;()\n</thread>\n", FormatThreadElement("f<T>()\n"));
  EXPECT_EQ("<thread index=\"0\">\nframe 0</thread>\n", FormatThreadElement("frame 0"));
  EXPECT_EQ("<dumpType>\n\n</dumpType>\n", FormatTextElement("dumpType", DumpTypeName(5)));
  EXPECT_EQ("", DumpTypeName(-1));
  EXPECT_EQ("<cppException type=\"std::vector&#60;int&#62;\">\n\n</cppException>\n",
            FormatCppExceptionElement("std::vector<int>", ""));
}

TEST(CrashReportWriterTest, ApplicationPartsAndTheFilesTheyMayOpen) {
  EXPECT_EQ("<annotations note=\"busy\">\n<annotation key=\"k&#34;\">v\n%01</annotation>\n</annotations>\n",
            FormatAnnotationsElement({{"k\"", "v\n\x01"}}, "busy"));
  EXPECT_EQ(
      "<attachments>\n<attachment name=\"a&#9;b\" state=\"cut\" file=\"r.att1.a_b\" size=\"4\" "
      "originalSize=\"9\"/>\n<attachment name=\"m\" state=\"not-found\"/>\n</attachments>\n",
      FormatAttachmentsElement({{"a\tb", "cut", "r.att1.a_b", 4, 9}, {"m", "not-found", "", 0, 0}}));
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
      {L"C:\\a\tb", false},
  };
  for (const auto& [path, copyable] : paths) EXPECT_EQ(copyable, IsCopyablePath(path)) << path;
}

}  // namespace
}  // namespace kx

#include "report/crash_report_writer.h"

#include <gtest/gtest.h>

#include <string>

namespace kx {
namespace {

CrashReportHeader SampleHeader() {
  CrashReportHeader header;
  header.applicationName = "Glint";
  header.applicationVersion = "2.1";
  header.build = "345";
  header.source = "handler";
  return header;
}

TEST(CrashReportWriterTest, CrashReportTagHasSixOrSevenAttributes) {
  CrashReportHeader header = SampleHeader();
  EXPECT_EQ(
      "<crashreport serviceVersion=\"12.0.0.202304060538_39d0b25\" "
      "clientVersion=\"12.0.0.202304060538_39d0b25\" "
      "applicationName=\"Glint\" applicationVersion=\"2.1\" build=\"345\" source=\"handler\">\n",
      FormatCrashReportTag(header));

  header.crashType = "SIGSEGV";
  header.serviceVersion = "s";
  header.clientVersion = "c";
  EXPECT_EQ(
      "<crashreport serviceVersion=\"s\" clientVersion=\"c\" applicationName=\"Glint\" "
      "applicationVersion=\"2.1\" "
      "build=\"345\" source=\"handler\" crashType=\"SIGSEGV\">\n",
      FormatCrashReportTag(header));
}

TEST(CrashReportWriterTest, HostileValuesAreEscapedAndLongLinesKeepTheirEnd) {
  CrashReportHeader header = SampleHeader();
  header.applicationName = "Tom & \"Jerry\" <Ltd>";
  EXPECT_NE(std::string::npos, FormatCrashReportTag(header).find(
                                   " applicationName=\"Tom &#38; &#34;Jerry&#34; &#60;Ltd&#62;\" "));

  const std::string thread = FormatThreadElement("f<int>() & g\r\n</thread></crashreport>");
  EXPECT_EQ(
      "<thread index=\"0\">\nf&#60;int&#62;() &#38; "
      "g&#13;\n&#60;/thread&#62;&#60;/crashreport&#62;</thread>\n",
      thread);

  header.applicationName.assign(2000, 'n');
  const std::string line = FormatCrashReportTag(header);
  EXPECT_GT(line.size(), 2000u);
  EXPECT_EQ("\">\n", line.substr(line.size() - 3));
}

TEST(CrashReportWriterTest, TimeTag) {
  const LocalTimeParts time{2024, 3, 7, 0, 5, 9};
  EXPECT_EQ(
      "<time year=\"2024\" month=\"3\" day=\"7\" hour=\"0\" minute=\"5\" second=\"9\" timeoffset=\"-300\" "
      "timezone=\"Eastern Standard Time\"/>\n",
      FormatTimeTag(time, -300, "Eastern Standard Time"));
  EXPECT_NE(std::string::npos,
            FormatTimeTag(time, 330, "A&B").find(" timeoffset=\"330\" timezone=\"A&#38;B\""));
  EXPECT_EQ(
      "<time year=\"\" month=\"\" day=\"\" hour=\"\" minute=\"\" second=\"\" timeoffset=\"\" "
      "timezone=\"\"/>\n",
      FormatTimeTag(std::nullopt, 60, "N/A"));
}

TEST(CrashReportWriterTest, UserGuidIsTheSecondUnderscoreField) {
  struct Case {
    const char* logFileName;
    const char* guid;
  };
  const Case cases[] = {
      {"kxWinLog_6F9619FF-8B86-D011-B42D-00C04FC964FF_4711_abc.xml", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
      {"noUnderscore.xml", "noUnderscore.xml"},
      {"one_rest.xml", "rest.xml"},
      {"lead__x", ""},
      {"", ""},
      {"a_<&\">_b", "&#60;&#38;&#34;&#62;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logFileName);
    EXPECT_EQ(std::string("<user guid=\"") + c.guid + "\"/>\n", FormatUserTag(c.logFileName));
  }
}

TEST(CrashReportWriterTest, ExceptionNamesCodesAndCrashTag) {
  struct Case {
    std::uint32_t code;
    const char* name;
    const char* hex;
  };
  const Case cases[] = {
      {0xC0000005u, "EXCEPTION_ACCESS_VIOLATION", "c0000005"},
      {0x80000001u, "EXCEPTION_GUARD_PAGE", "80000001"},
      {0xC000001Du, "EXCEPTION_ILLEGAL_INSTRUCTION", "c000001d"},
      {0xC00000FDu, "EXCEPTION_STACK_OVERFLOW", "c00000fd"},
      {0xC0000374u, "EXCEPTION_HEAP_CORRUPTION", "c0000374"},
      {0xE06D7363u, "EXCEPTION_UNKNOWN", "e06d7363"},
      {0u, "EXCEPTION_UNKNOWN", "0"},
      {0xC0000007u, "EXCEPTION_UNKNOWN", "c0000007"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    EXPECT_STREQ(c.name, ExceptionCodeName(c.code));
    EXPECT_EQ(c.hex, FormatExceptionCode(c.code));
  }
  EXPECT_EQ(
      "<crash exception=\"EXCEPTION_UNKNOWN\" exceptionCode=\"0xe06d7363\" "
      "instruction=\"0x00007FF6A1B2C3D4\">\n",
      FormatCrashTag(0xE06D7363u, 0x7FF6A1B2C3D4u));
  EXPECT_EQ(
      "<crash exception=\"EXCEPTION_UNKNOWN\" exceptionCode=\"0x0\" instruction=\"0x0000000000000000\">\n",
      FormatCrashTag(0, 0));
}

TEST(CrashReportWriterTest, RegisterLinesInReportOrder) {
  RegisterValues registers;
  registers.rax = 0xFFFFFFFFFFFFFFFFu;
  registers.rbx = 1;
  registers.rcx = 0xABCDEFu;
  registers.rdx = 0x0123456789ABCDEFu;
  registers.rsi = 5;
  registers.rdi = 6;
  registers.rsp = 0x14FE80u;
  registers.rbp = 8;
  registers.rip = 0x7FF6A1B2C3D4u;
  registers.eflags = 0x80010246u;
  registers.lastExceptionToRip = 11;
  registers.lastExceptionFromRip = 12;
  std::string lines = "kept\n";
  AppendRegisterTags(lines, registers);
  EXPECT_EQ(
      "kept\n"
      "<register name=\"RAX\" value=\"0xFFFFFFFFFFFFFFFF\"/>\n"
      "<register name=\"RBX\" value=\"0x0000000000000001\"/>\n"
      "<register name=\"RCX\" value=\"0x0000000000ABCDEF\"/>\n"
      "<register name=\"RDX\" value=\"0x0123456789ABCDEF\"/>\n"
      "<register name=\"RSI\" value=\"0x0000000000000005\"/>\n"
      "<register name=\"RDI\" value=\"0x0000000000000006\"/>\n"
      "<register name=\"RSP\" value=\"0x000000000014FE80\"/>\n"
      "<register name=\"RBP\" value=\"0x0000000000000008\"/>\n"
      "<register name=\"RIP\" value=\"0x00007FF6A1B2C3D4\"/>\n"
      "<register name=\"EFL\" value=\"0x0000000080010246\"/>\n"
      "<register name=\"LastExceptionToRip\" value=\"0x000000000000000B\"/>\n"
      "<register name=\"LastExceptionFromRip\" value=\"0x000000000000000C\"/>\n",
      lines);
}

TEST(CrashReportWriterTest, DumpTypeAndTextElements) {
  EXPECT_EQ("<dumpType>\nMini\n</dumpType>\n", FormatTextElement("dumpType", DumpTypeName(0)));
  EXPECT_EQ("Full", DumpTypeName(1));
  EXPECT_EQ("Triage", DumpTypeName(2));
  EXPECT_EQ("<dumpType>\n\n</dumpType>\n", FormatTextElement("dumpType", DumpTypeName(5)));
  EXPECT_EQ("", DumpTypeName(-1));
  EXPECT_EQ("<sessionId>\nS&#38;1\n</sessionId>\n", FormatTextElement("sessionId", "S&1"));
  EXPECT_EQ("<thread index=\"0\">\n</thread>\n", FormatThreadElement(""));
  EXPECT_EQ("<thread index=\"0\">\nframe 0\n</thread>\n", FormatThreadElement("frame 0\n"));
}

}  // namespace
}  // namespace kx

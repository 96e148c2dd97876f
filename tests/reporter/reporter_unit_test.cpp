// The reporter's platform-free parts: the ticket's writer and reader, the consent view's texts, and the order
// of the steps each policy takes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handler/reporter_ticket.h"
#include "reporter/consent_text.h"

namespace kx {
namespace {

ReporterTicket FullTicket() {
  ReporterTicket ticket;
  ticket.crashIdentifier = L"20261207-040506-4242";
  ticket.exceptionCode = 0xC0000005;
  ticket.kind = "access-violation";
  ticket.policy = TicketPolicy::kAsk;
  ticket.servicePath = L"C:\\Program Files\\Orvan\\KXWindowsClientService.exe";
  ticket.clientDirectory = L"C:\\Program Files\\Orvan";
  ticket.reportWritten = true;
  ticket.installationGuid = L"{0A1B}";
  ticket.productName = "Glint \xC3\xA9\\ \"pro\"\r\nline=2";
  ticket.productVersion = "2.1";
  ticket.productBuild = std::string("b\x01\x7F\0x", 5);
  ticket.openSolutionLink = true;
  ticket.checkTransportSignature = true;
  ticket.createDumpLimitMs = 4294967295u;
  ticket.commandLimitMs = 0;
  ticket.attachments = {L"scene \u00E9\U0001F600.txt", L"", L"a=b\\c"};
  ticket.progressLog = L"D:\\logs\\glint.log";
  return ticket;
}

void ExpectSame(const ReporterTicket& a, const ReporterTicket& b) {
  EXPECT_EQ(a.crashIdentifier, b.crashIdentifier);
  EXPECT_EQ(a.exceptionCode, b.exceptionCode);
  EXPECT_EQ(a.kind, b.kind);
  EXPECT_EQ(a.policy, b.policy);
  EXPECT_EQ(a.servicePath, b.servicePath);
  EXPECT_EQ(a.clientDirectory, b.clientDirectory);
  EXPECT_EQ(a.reportWritten, b.reportWritten);
  EXPECT_EQ(a.installationGuid, b.installationGuid);
  EXPECT_EQ(a.productName, b.productName);
  EXPECT_EQ(a.productVersion, b.productVersion);
  EXPECT_EQ(a.productBuild, b.productBuild);
  EXPECT_EQ(a.openSolutionLink, b.openSolutionLink);
  EXPECT_EQ(a.checkTransportSignature, b.checkTransportSignature);
  EXPECT_EQ(a.createDumpLimitMs, b.createDumpLimitMs);
  EXPECT_EQ(a.commandLimitMs, b.commandLimitMs);
  EXPECT_EQ(a.attachments, b.attachments);
  EXPECT_EQ(a.progressLog, b.progressLog);
}

TEST(ReporterTicketTest, EveryFieldSurvivesTheRoundTrip) {
  ReporterTicket minimal;
  minimal.crashIdentifier = L"1";
  minimal.servicePath = L"s.exe";
  const ReporterTicket cases[] = {FullTicket(), minimal};
  for (const ReporterTicket& ticket : cases) {
    const std::string text = FormatTicket(ticket);
    SCOPED_TRACE(text);
    const TicketRead read = ParseTicket(text);
    ASSERT_TRUE(read.ticket.has_value()) << read.error;
    ExpectSame(ticket, *read.ticket);
    // Every value sits on its own line: no raw control character reaches the file.
    for (const char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20);
  }
}

TEST(ReporterTicketTest, MalformedTicketsAreRefusedAndUnknownKeysSkipped) {
  const std::string base = FormatTicket(FullTicket());
  const auto without = [&](const std::string& key) {
    const std::size_t at = base.find("\n" + key + "=");
    return base.substr(0, at + 1) + base.substr(base.find('\n', at + 1) + 1);
  };
  struct Case {
    const char* name;
    std::string bytes;
    bool accepted;
  };
  const Case cases[] = {
      {"as written", base, true},
      {"an unknown key", base + "futureKey=whatever\\x01\n", true},
      {"empty", "", false},
      {"another version", "KXTICKET 2\n" + base.substr(11), false},
      {"over 64 KiB", base + "pad=" + std::string(kMaxTicketBytes, 'x') + "\n", false},
      {"no crash", without("crash"), false},
      {"no code", without("code"), false},
      {"no kind", without("kind"), false},
      {"no policy", without("policy"), false},
      {"no service", without("service"), false},
      {"no client directory", without("clientDirectory"), false},
      {"a key twice", base + "kind=abort\n", false},
      {"a line without =", base + "kind\n", false},
      {"an empty key", base + "=1\n", false},
      {"the last line unended", base + "futureKey=1", false},
      {"an unknown escape", base + "futureKey=\\q\n", false},
      {"a cut escape", base + "futureKey=\\x4\n", false},
      {"a trailing backslash", base + "futureKey=\\\n", false},
      {"an unknown policy", without("policy") + "policy=maybe\n", false},
      {"a code over 32 bits", without("code") + "code=0x100000000\n", false},
      {"a code with a sign", without("code") + "code=-5\n", false},
      {"a flag that is not 0 or 1", without("reportWritten") + "reportWritten=yes\n", false},
      {"a crash identifier with a backslash", without("crash") + "crash=..\\\\x\n", false},
      {"a crash identifier with a colon", without("crash") + "crash=a:b\n", false},
      {"an empty service path", without("service") + "service=\n", false},
      {"a product name that is not UTF-8", without("productName") + "productName=\xC3\x28\n", false},
      {"an overlong UTF-8 sequence", without("service") + "service=\xC0\xAF\n", false},
      {"an encoded surrogate", without("service") + "service=\xED\xA0\x80\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TicketRead read = ParseTicket(c.bytes);
    EXPECT_EQ(c.accepted, read.ticket.has_value()) << read.error;
    EXPECT_EQ(c.accepted, read.error.empty());
  }
}

const char kReport[] =
    "<?xml version=\"1.0\"?>\r\n"
    "<crashreport applicationName=\"Glint\" crashType=\"access-violation\">\r\n"
    "<time year=\"2024\" month=\"3\" day=\"7\" hour=\"14\" minute=\"5\" second=\"9\" timeoffset=\"60\" "
    "timezone=\"W. Europe Standard Time\"/>\r\n"
    "<crash exception=\"EXCEPTION_ACCESS_VIOLATION\" exceptionCode=\"0xc0000005\" instruction=\"0x1\">\r\n"
    "<backtrace crashedThread=\"0\">\r\n<thread index=\"0\">\r\n"
    "0 Gl&#38;int.exe+0x1A2B 0x00007FF6A1B2C3D4\n1 kernel32.dll+0x10 0x0000000000000010\n</thread>\r\n";

TEST(ConsentTextTest, TheDetailsNameTheCrashAndEveryFileThatWouldBeSent) {
  ConsentInput full;
  full.productName = L"Glint";
  full.productVersion = L"2.1";
  full.productBuild = L"345";
  full.kind = "access-violation";
  full.exceptionCode = 0xC0000005;
  full.crashIdentifier = L"20261207-040506-42";
  full.facts = ReadReportFacts(kReport);
  full.reportFile = L"kxWinLog_g_20261207-040506-42_abc.xml.solurl";
  full.dumpFile = L"kxWinDump_g_20261207-040506-42_abc.dmp";
  full.attachments = {L"scene.txt"};
  ConsentInput bare;  // no product, no readable report, no dump
  bare.kind = "abort";
  bare.exceptionCode = 0x40000015;
  bare.crashIdentifier = L"20261207-040506-42";
  bare.facts = ReadReportFacts("<crashreport><thread index=\"0\">\r\n0 ?? 0x0000000000000001\n");
  bare.reportFile = L"r.solurl";
  struct Case {
    const char* name;
    ConsentInput input;
    std::wstring title, instruction;
    std::vector<std::wstring> shown, notShown;
  };
  const Case cases[] = {
      {"full",
       full,
       L"Glint",
       L"Glint stopped unexpectedly",
       {L"Product: Glint 2.1 (build 345)\n",
        L"Problem: access-violation, code 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)\n",
        L"Time: 2024-03-07 14:05:09 W. Europe Standard Time\n", L"Where: Gl&int.exe+0x1A2B\n",
        L"\n- kxWinLog_g_20261207-040506-42_abc.xml.solurl (",
        L"\n- kxWinDump_g_20261207-040506-42_abc.dmp (the memory of the program, only if the server asks",
        L"\n- scene.txt"},
       {L"UTC"}},
      {"bare",
       bare,
       L"Problem report",
       L"The application stopped unexpectedly",
       {L"Product: The application\n", L"Problem: abort, code 0x40000015\n", L"Time: 2026-12-07 04:05:06 UTC\n",
        L"\n- r.solurl ("},
       {L"Where:", L".dmp", L"(EXCEPTION"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const DialogText text = ConsentDialogText(c.input);
    EXPECT_EQ(c.title, text.title);
    EXPECT_EQ(c.instruction, text.mainInstruction);
    EXPECT_NE(std::wstring::npos, text.content.find(L"nothing leaves this computer"));
    for (const std::wstring& piece : c.shown) EXPECT_NE(std::wstring::npos, text.details.find(piece)) << piece.size();
    for (const std::wstring& piece : c.notShown) EXPECT_EQ(std::wstring::npos, text.details.find(piece));
  }
}

TEST(ReporterPlanTest, NothingLeavesTheMachineWithoutConsentWhenAsked) {
  using S = ReporterStep;
  struct Case {
    const char* name;
    TicketPolicy policy;
    Consent consent;
    std::vector<ReporterStep> steps;
  };
  const Case cases[] = {
      {"send", TicketPolicy::kSend, Consent::kNotAsked, {S::kSolution, S::kSend, S::kHelpLink, S::kEvent}},
      {"dontsend", TicketPolicy::kDontSend, Consent::kNotAsked,
       {S::kSolution, S::kDiscard, S::kHelpLink, S::kEvent}},
      {"ask, sent", TicketPolicy::kAsk, Consent::kGiven, {S::kSolution, S::kSend, S::kHelpLink, S::kEvent}},
      {"ask, refused", TicketPolicy::kAsk, Consent::kRefused, {S::kDiscard}},
      {"ask, no dialog", TicketPolicy::kAsk, Consent::kNotAsked, {S::kDiscard}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.steps, PlanSteps(c.policy, c.consent));
  }
}

}  // namespace
}  // namespace kx

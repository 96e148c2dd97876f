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
  return {L"20261207-040506-4242", 0xC0000005, "access-violation", TicketPolicy::kAsk,
          L"C:\\Program Files\\Orvan\\KXWindowsClientService.exe", L"C:\\Program Files\\Orvan", true,
          L"{0A1B}", "Glint \xC3\xA9\\ \"pro\"\r\nline=2", "2.1", std::string("b\x01\x7F\0x", 5), true, true,
          4294967295u, 0, {L"scene \u00E9\U0001F600.txt", L"", L"a=b\\c"}, L"D:\\logs\\glint.log",
          L"C:\\KXLogs\\runs-glint.exe", "c0000005 glint.exe+0x1a", 3};
}

TEST(ReporterTicketTest, EveryFieldSurvivesTheRoundTrip) {
  ReporterTicket minimal;  // every optional field at its default
  minimal.crashIdentifier = L"1", minimal.servicePath = L"s.exe";
  for (const ReporterTicket& ticket : {FullTicket(), minimal}) {
    const std::string text = FormatTicket(ticket);
    SCOPED_TRACE(text);
    const TicketRead read = ParseTicket(text);
    ASSERT_TRUE(read.ticket.has_value()) << read.error;
    // Every field is written, so the same text again means every field came back.
    EXPECT_EQ(text, FormatTicket(*read.ticket));
    EXPECT_EQ(ticket.attachments, read.ticket->attachments);
    // Every value sits on its own line: no raw control character reaches the file.
    for (const char c : text) EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20);
  }
}

// That an accepted ticket has its crash and service and no error is the ticket fuzz target's check.
TEST(ReporterTicketTest, MalformedTicketsAreRefusedAndUnknownKeysSkipped) {
  const std::string base = FormatTicket(FullTicket());
  const auto without = [&](const std::string& key) {
    const std::size_t at = base.find("\n" + key + "=");
    return base.substr(0, at + 1) + base.substr(base.find('\n', at + 1) + 1);
  };
  struct Case { const char* name; std::string bytes; bool accepted; };
  const Case cases[] = {
      {"as written", base, true},
      {"an unknown key", base + "futureKey=whatever\\x01\n", true},
      {"another version", "KXTICKET 2\n" + base.substr(11), false},
      {"over 64 KiB", base + "pad=" + std::string(kMaxTicketBytes, 'x') + "\n", false},
      {"a key twice", base + "kind=abort\n", false},
      {"a line without =", base + "kind\n", false},
      {"the last line unended", base + "futureKey=1", false},
      {"an unknown escape", base + "futureKey=\\q\n", false},
      {"an unknown policy", without("policy") + "policy=maybe\n", false},
      {"a code over 32 bits", without("code") + "code=0x100000000\n", false},
      {"a flag that is not 0 or 1", without("reportWritten") + "reportWritten=yes\n", false},
      {"a crash identifier with a backslash", without("crash") + "crash=..\\\\x\n", false},
      {"a product name that is not UTF-8", without("productName") + "productName=\xC3\x28\n", false},
      {"an encoded surrogate", without("service") + "service=\xED\xA0\x80\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TicketRead read = ParseTicket(c.bytes);
    EXPECT_EQ(c.accepted, read.ticket.has_value()) << read.error;
  }
}

const char kReport[] =
    "<time year=\"2024\" month=\"3\" day=\"7\" hour=\"14\" minute=\"5\" second=\"9\" timeoffset=\"60\" "
    "timezone=\"W. Europe Standard Time\"/>\r\n"
    "<crash exception=\"EXCEPTION_ACCESS_VIOLATION\" exceptionCode=\"0xc0000005\" instruction=\"0x1\">\r\n"
    "<backtrace crashedThread=\"0\">\r\n<thread index=\"0\">\r\n"
    "0 Gl&#38;int.exe+0x1A2B 0x00007FF6A1B2C3D4\n1 kernel32.dll+0x10 0x0000000000000010\n</thread>\r\n";

TEST(ConsentTextTest, TheDetailsNameTheCrashAndEveryFileThatWouldBeSent) {
  ConsentInput full{L"Glint", L"2.1", L"345", "access-violation", 0xC0000005, L"20261207-040506-42",
                    ReadReportFacts(kReport), L"kxWinLog_g.solurl", L"kxWinDump_g.dmp", {L"scene.txt"}};
  // No product, no readable report, no dump.
  ConsentInput bare{L"", L"", L"", "abort", 0x40000015, L"20261207-040506-42",
                    ReadReportFacts("<thread index=\"0\">\r\n0 ?? 0x0000000000000001\n"), L"r", L"", {}};
  // What the user decides on, not the layout: the title names the product, the details the crash and each file.
  struct Case { ConsentInput input; std::wstring title; std::vector<std::wstring> shown, notShown; };
  const Case cases[] = {
      {full, L"Glint",
       {L"Glint 2.1 (build 345)", L"access-violation, code 0xC0000005 (EXCEPTION_ACCESS_VIOLATION)",
        L"2024-03-07 14:05:09 W. Europe Standard Time", L"Gl&int.exe+0x1A2B", L"- kxWinLog_g.solurl (",
        L"- kxWinDump_g.dmp (the memory of the program, only if the server", L"- scene.txt"},
       {L"UTC"}},
      {bare, L"Problem report", {L"The application", L"abort, code 0x40000015", L"2026-12-07 04:05:06 UTC"},
       {L"Where:", L".dmp", L"(EXCEPTION"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.title);
    const DialogText text = ConsentDialogText(c.input);
    EXPECT_EQ(c.title, text.title);
    for (const std::wstring& piece : c.shown) EXPECT_NE(std::wstring::npos, text.details.find(piece)) << piece;
    for (const std::wstring& piece : c.notShown) EXPECT_EQ(std::wstring::npos, text.details.find(piece));
  }
}

TEST(ReporterPlanTest, NothingLeavesTheMachineWithoutConsentWhenAsked) {
  using S = ReporterStep;
  struct Case { const char* name; TicketPolicy policy; Consent consent; std::vector<ReporterStep> steps; };
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

// The reporter's platform-free parts: the ticket's refusals and the steps each policy takes. That a ticket
// read writes back as it reads is the ticket fuzz target's check; every field crosses the real hand-over in
// the handler's and the dialog's end-to-end tests.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "handler/reporter_ticket.h"
#include "reporter/consent_text.h"

namespace kx {
namespace {

TEST(ReporterTicketTest, MalformedTicketsAreRefusedAndUnknownKeysSkipped) {
  ReporterTicket ticket;
  ticket.crashIdentifier = L"20261207-040506-4242", ticket.servicePath = L"s.exe";
  const std::string base = FormatTicket(ticket);
  const auto without = [&](const std::string& key) {
    const std::size_t at = base.find("\n" + key + "=");
    return base.substr(0, at + 1) + base.substr(base.find('\n', at + 1) + 1);
  };
  struct Case { const char* name; std::string bytes; bool accepted; };
  const Case cases[] = {
      {"as written", base, true},
      // A later handler may add keys.
      {"an unknown key", base + "futureKey=whatever\\x01\n", true},
      {"over 64 KiB", base + "pad=" + std::string(kMaxTicketBytes, 'x') + "\n", false},
      {"a key twice", base + "kind=abort\n", false},
      {"an unknown policy", without("policy") + "policy=maybe\n", false},
      // The identifier names the files that dontsend and sendlog remove.
      {"a crash identifier with a backslash", without("crash") + "crash=..\\\\x\n", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TicketRead read = ParseTicket(c.bytes);
    EXPECT_EQ(c.accepted, read.ticket.has_value()) << read.error;
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

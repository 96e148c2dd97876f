// The plan of a report's steps, the ticket's refusals and the run history. That a ticket or a history read
// writes back as it reads is their fuzz targets' check; the hand-over is the end-to-end tests'.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "frontend/report_plan.h"
#include "frontend/reporter_ticket.h"
#include "frontend/run_history.h"

namespace kx {
namespace {

// Asking, nothing leaves before the answer, whoever asks, nor after a "no"; a held-back report is never sent.
TEST(ReportPlanTest, EachPolicyAndAnswerGivesItsSteps) {
  using S = ReportStep;
  constexpr ReportPolicy send = ReportPolicy::kSend, dontSend = ReportPolicy::kDontSend;
  constexpr ReportPolicy ask = ReportPolicy::kAsk;
  constexpr Asker dialog = Asker::kReporterDialog, application = Asker::kApplication, nobody = Asker::kNobody;
  constexpr Answer yes = Answer::kSend, no = Answer::kDontSend, notYet = Answer::kNotYet;
  struct Case { const char* name; PlanInput input; std::vector<S> steps; };
  const Case cases[] = {
      {"send", {send, false, dialog, false, notYet}, {S::kExchange, S::kSend, S::kQueueEvent}},
      {"dontsend", {dontSend, false, dialog, false, notYet}, {S::kExchange, S::kDiscard, S::kQueueEvent}},
      {"send, held back", {send, true, dialog, false, notYet}, {S::kExchange, S::kDiscard, S::kQueueEvent}},
      {"ask, unanswered", {ask, false, dialog, false, notYet}, {S::kAsk}},
      {"user: yes", {ask, false, dialog, false, yes},
       {S::kAsk, S::kExchange, S::kSend, S::kOfferHelpLink, S::kQueueEvent}},
      {"user: yes, open", {ask, false, dialog, true, yes},
       {S::kAsk, S::kExchange, S::kSend, S::kOpenHelpLink, S::kQueueEvent}},
      {"user: no", {ask, false, dialog, false, no}, {S::kAsk, S::kDiscard}},
      // decide is asked before the report goes to the solution server.
      {"decide: yes", {ask, false, application, false, yes}, {S::kAsk, S::kExchange, S::kSend, S::kQueueEvent}},
      {"decide: no", {ask, false, application, false, no}, {S::kAsk, S::kDiscard}},
      {"ask, nobody to ask", {ask, false, nobody, false, yes}, {S::kDiscard}},
      {"ask, held back", {ask, true, application, false, yes}, {S::kDiscard}},
      // Nothing written: nothing to exchange, send or ask about; the event says so except under asking.
      {"send, no report", {send, false, dialog, true, notYet, false}, {S::kDiscard, S::kQueueEvent}},
      {"ask, no report", {ask, false, dialog, false, yes, false}, {S::kDiscard}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.steps, PlanReportSteps(c.input));
  }
  // The reporter plans a handed-over ticket without knowing it was held back: its policy must say so.
  const PlanInput heldBack = {send, true, dialog, false, notYet};
  const PlanInput handedOver = {WithHeldBackApplied(heldBack).policy, false, dialog, false, notYet};
  EXPECT_EQ(PlanReportSteps(heldBack), PlanReportSteps(handedOver));
}

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

TEST(RunHistoryTest, ReadsItsFileFormAndRefusesTheRest) {
  const auto read = ParseRunHistory("KXRUNS 1\nrun 10 4 ended\nrun 20 5 crashed c0000005%20a.exe%2B0x10\n"
                                    "sig c0000005%20a.exe%2B0x10 3 1 2 20 30\n");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ("c0000005 a.exe+0x10", read->runs[1].signature);
  EXPECT_EQ(2u, read->signatures[0].heldBack);
  for (const char* bad : {"", "KXRUNS 3\n", "KXRUNS 1\nrun 1 2 lost\n", "KXRUNS 1\nrun -1 2 ended\n",
                          "KXRUNS 1\nsig  1 1 1\n", "KXRUNS 1\nrun 1 2 ended\r\n", "KXRUNS 1\nother\n",
                          "KXRUNS 1\nrun 1 99999999999 ended\n", "KXRUNS 1\nsig a 1 1\n"}) {
    EXPECT_FALSE(ParseRunHistory(bad).has_value()) << bad;
  }
  EXPECT_FALSE(ParseRunHistory("KXRUNS 1\n" + std::string(kMaxRunHistoryBytes, '\n')).has_value());
  // Bounded: a long file keeps only its latest runs.
  std::string many = "KXRUNS 1\n";
  for (int i = 0; i < 40; ++i) many += "run " + std::to_string(i) + " 1 ended\n";
  EXPECT_EQ(kMaxHistoryRuns, ParseRunHistory(many)->runs.size());
  EXPECT_EQ(39, ParseRunHistory(many)->runs.back().started);
}

// Each step on one history, in order, and the verdict after it: limits of 3 crashes an hour, 2 reports a day.
// A report within the limit holds its place from its judgment (consent may take a while) until it is sent
// or discarded; a clock put back keeps the day's count and counts crashes dated ahead as now.
TEST(RunHistoryTest, CrashLoopGuardAndThrottleByTable) {
  constexpr std::int64_t kDay = 86400;
  constexpr std::int64_t kT = 20000 * kDay + 3600;  // an hour into a day
  const auto tie = [](const ReportVerdict& v) {
    return std::make_tuple(v.crashesInWindow, v.loopGuard, v.heldBack, v.heldBackBefore);
  };
  enum Then { kWaits, kSent, kDiscarded };  // what becomes of the report right after its judgment
  struct Step { const char* signature; std::int64_t at; bool crash; Then then; ReportVerdict expected; };
  const Step steps[] = {
      {"A", kT, true, kSent, {1, false, false, 0}},
      {"A", kT + 10, true, kSent, {2, false, false, 0}},
      {"B", kT + 15, true, kSent, {1, false, false, 0}},
      {"A", kT + 20, true, kWaits, {3, true, true, 0}},  // the third within the hour; the day's two are used
      {"A", kT + 25, false, kWaits, {3, false, true, 0}},  // a report that is no crash is throttled alike
      {"A", kT + kDay, true, kSent, {1, false, false, 2}},  // a day later: sent, carrying the two held back
      {"A", kT + kDay + 5, true, kSent, {2, false, false, 0}},
      {"A", kT + kDay + 9, true, kWaits, {3, true, true, 0}},
      {"C", kT + 2 * kDay, true, kWaits, {1, false, false, 0}},  // awaiting consent: its place is held
      {"C", kT + 2 * kDay + 1, true, kDiscarded, {2, false, false, 0}},  // refused: its place is free again
      {"C", kT + 2 * kDay + 2, true, kWaits, {3, true, false, 0}},
      {"C", kT + 2 * kDay + 3, true, kWaits, {4, true, true, 0}},
      {"C", kT + kDay + 20, true, kWaits, {5, true, true, 0}},  // the clock put back a day
  };
  RunHistory history;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.signature) + " at " + std::to_string(step.at - kT));
    const ReportVerdict verdict = RecordReport(history, step.signature, step.at, step.crash, {3, 3600, 2});
    EXPECT_EQ(tie(step.expected), tie(verdict));
    if (step.then == kSent) RecordSent(history, step.signature, step.at, verdict.heldBackBefore);
    if (step.then == kDiscarded) RecordDiscarded(history, step.signature, step.at);
    history = *ParseRunHistory(FormatRunHistory(history));  // every step goes through the file
  }
  const ReportVerdict verdict = RecordReport(history, "A", kT + kDay + 10, true, {0, 3600, 0});
  EXPECT_FALSE(verdict.loopGuard || verdict.heldBack);
}

TEST(RunHistoryTest, PreviousRunsFigures) {
  const auto tie = [](const RunFigures& f) {
    return std::make_tuple(f.runs, f.crashed, f.unknown, f.sameCrashInARow, f.lastSignature);
  };
  const std::pair<const char*, RunFigures> cases[] = {
      {"KXRUNS 1\nrun 1 1 crashed A\nrun 2 1 crashed A\nrun 3 1 ended\n", {3, 2, 0, 0, ""}},
      {"KXRUNS 1\nrun 1 1 crashed A\nrun 2 1 crashed B\nrun 3 1 running\nrun 4 1 crashed A\nrun 5 1 crashed A\n",
       {5, 4, 1, 2, "A"}},
  };
  for (const auto& [file, expected] : cases) EXPECT_EQ(tie(expected), tie(FiguresOf(*ParseRunHistory(file))));
  // A run is recorded running, and ended by its own process only.
  RunHistory history;
  StartRun(history, 7, 40);
  StartRun(history, 8, 41);
  EndRun(history, 7, 40, RunEnd::kCrashed, "A");
  EndRun(history, 8, 99, RunEnd::kEnded);
  EXPECT_EQ("KXRUNS 2\nrun 7 40 crashed A\nrun 8 41 running\n", FormatRunHistory(history));
}

}  // namespace
}  // namespace kx

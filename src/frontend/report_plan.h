// The steps of one report after its dump, in order: one plan, whoever carries it out. KXCrashReporter.exe
// runs it for the reports handed to it, and the crash handler runs it in the application when the
// application answers for itself (CrashHandlerOptions::decide) or no reporter can be started. Platform-free,
// so that one table tests every case (docs/reporter.md, docs/integrating.md).
#pragma once

#include <vector>

#include "kx/report_policy.h"

namespace kx {

enum class ReportStep {
  kAsk,            // the question; the steps after it follow the answer
  kExchange,       // "solutionurl": the report goes to the solution server, a help link may come back
  kSend,           // "sendlog"
  kDiscard,        // "dontsend": the report, its dump and its attachments are deleted
  kOpenHelpLink,   // "opensolutionurl" with the help link, when one came
  kOfferHelpLink,  // the help link, when one came, offered on a page of the reporter's dialog
  kQueueEvent,     // the analytics event and a detached "postingestevent"
};

// Who answers under the asking policy.
enum class Asker {
  kReporterDialog,  // the user, in KXCrashReporter's dialog
  kApplication,     // the application's own callback
  kNobody,          // no reporter could be started
};

enum class Answer {
  kNotYet,
  kSend,
  kDontSend,  // refused, or no answer at all
};

struct PlanInput {
  ReportPolicy policy = ReportPolicy::kDontSend;
  bool heldBack = false;  // over the day's reports of its signature
  Asker asker = Asker::kReporterDialog;
  bool openHelpLink = false;  // open the help link at once, without offering it first
  Answer answer = Answer::kNotYet;
  bool reportWritten = true;  // "createdump" left a report
};

// The held-back rule, the one place it is written: a report held back by the day's limit is handled as
// kDontSend, except that under the asking policy nobody is asked about it, so it is discarded. The input
// comes back with heldBack false; a ticket hands the reporter its policy.
PlanInput WithHeldBackApplied(PlanInput input);

// Under the asking policy nothing leaves the machine before the answer, whoever asks: kAsk comes first, and
// while there is no answer the plan ends with it. Asked again with the answer, the plan starts with the same
// kAsk and goes on as the answer says; a refusal discards the report and sends nothing, not even the event.
// Under the other policies the report is offered for a help link, then sent or discarded, and the event
// follows. A crash that left no report has nothing to ask about, offer or send: what it may have left is
// discarded, and outside the asking policy the event tells of it (written no, sent no).
std::vector<ReportStep> PlanReportSteps(const PlanInput& input);

// A plan that only discards runs where the report was made, at once; any other is handed to the reporter.
bool NeedsReporter(const std::vector<ReportStep>& steps);

}  // namespace kx

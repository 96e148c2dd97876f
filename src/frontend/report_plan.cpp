#include "frontend/report_plan.h"

namespace kx {

PlanInput WithHeldBackApplied(PlanInput input) {
  if (!input.heldBack) return input;
  if (input.policy == ReportPolicy::kAsk) {
    input.asker = Asker::kNobody;
  } else {
    input.policy = ReportPolicy::kDontSend;
  }
  input.heldBack = false;
  return input;
}

std::vector<ReportStep> PlanReportSteps(const PlanInput& asGiven) {
  using S = ReportStep;
  const PlanInput input = WithHeldBackApplied(asGiven);
  if (!input.reportWritten) {
    if (input.policy == ReportPolicy::kAsk) return {S::kDiscard};
    return {S::kDiscard, S::kQueueEvent};
  }
  if (input.policy != ReportPolicy::kAsk) {
    std::vector<S> steps = {S::kExchange, input.policy == ReportPolicy::kSend ? S::kSend : S::kDiscard};
    if (input.openHelpLink) steps.push_back(S::kOpenHelpLink);
    steps.push_back(S::kQueueEvent);
    return steps;
  }
  if (input.asker == Asker::kNobody) return {S::kDiscard};
  // Asked first: nothing of the report leaves the machine before the answer.
  std::vector<S> steps = {S::kAsk};
  if (input.answer == Answer::kNotYet) return steps;
  if (input.answer == Answer::kDontSend) return {S::kAsk, S::kDiscard};
  steps.insert(steps.end(), {S::kExchange, S::kSend});
  if (input.openHelpLink) {
    steps.push_back(S::kOpenHelpLink);
  } else if (input.asker == Asker::kReporterDialog) {
    steps.push_back(S::kOfferHelpLink);
  }
  steps.push_back(S::kQueueEvent);
  return steps;
}

bool NeedsReporter(const std::vector<ReportStep>& steps) {
  return !(steps.size() == 1 && steps.front() == ReportStep::kDiscard);
}

}  // namespace kx

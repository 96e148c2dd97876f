#include "app/run_steps.h"

#include "app/create_dump.h"
#include "app/open_solution_link.h"
#include "app/post_events.h"
#include "app/preference_sync.h"
#include "app/send_discard.h"
#include "app/solution_exchange.h"
#include "app/transport_start.h"

namespace kx {
namespace {

void RunStep(Step step, const Invocation& invocation) {
  switch (step) {
    case Step::kCreateDump:
      CreateDump(invocation.crashIdentifier);
      return;
    case Step::kExchangeSolutionLink:
      ExchangeSolutionLink(invocation.crashIdentifier, invocation.clientDirectory);
      return;
    case Step::kSendReport:
      SendReport(invocation.crashIdentifier);
      return;
    case Step::kDiscardReport:
      DiscardReport(invocation.crashIdentifier);
      return;
    case Step::kSyncPreferences:
      SyncPreferences(invocation.clientDirectory);
      return;
    case Step::kStartLogTransport:
      StartLogTransport(invocation.clientDirectory, invocation.checkTransportSignature);
      return;
    case Step::kOpenSolutionLink:
      OpenSolutionLink(invocation.crashIdentifier);
      return;
    case Step::kPostEvents:
      PostQueuedEvents(invocation.clientDirectory);
      return;
  }
}

}  // namespace

void RunInvocation(const Invocation& invocation) {
  for (Step step : PlanSteps(invocation)) RunStep(step, invocation);
}

}  // namespace kx

#include "app/run_steps.h"

#include "dispatch/log_transport_processor.h"
#include "dispatch/send_discard.h"
#include "ingest/ingest_processor.h"
#include "intake/dump_request_processor.h"
#include "net/solution_url.h"
#include "net/solution_url_opener.h"
#include "prefs/initial_data_sync_processor.h"

namespace kx {
namespace {

void RunStep(Step step, const Invocation& invocation) {
  switch (step) {
    case Step::kDumpRequest:
      DumpRequestProcessor().Run(invocation.crashIdentifier);
      return;
    case Step::kFetchSolutionUrl:
      SolutionURL().fetchSolutionUrlForGeneratedCrashLog(invocation.crashIdentifier,
                                                         invocation.clientDirectory);
      return;
    case Step::kSendReport:
      SendReport(invocation.crashIdentifier);
      return;
    case Step::kDiscardReport:
      DiscardReport(invocation.crashIdentifier);
      return;
    case Step::kSyncPreferences:
      InitialDataSyncProcessor().Run(invocation.clientDirectory);
      return;
    case Step::kLaunchLogTransport:
      LogTransportProcessor().Run(invocation.clientDirectory, invocation.bVerifySignatureBeforeLaunching);
      return;
    case Step::kOpenSolutionUrl:
      openSolutionUrl(invocation.crashIdentifier);
      return;
    case Step::kPostIngestEvents:
      IngestProcessor().Run(invocation.clientDirectory);
      return;
  }
}

}  // namespace

void RunInvocation(const Invocation& invocation) {
  for (Step step : PlanSteps(invocation)) RunStep(step, invocation);
}

}  // namespace kx

#include "app/run_steps.h"

#include <string>

#include "app/create_dump.h"
#include "app/open_solution_link.h"
#include "app/post_events.h"
#include "app/preference_sync.h"
#include "app/send_discard.h"
#include "app/solution_exchange.h"
#include "app/transport_start.h"
#include "common/diagnostic_log.h"
#include "common/storage_paths.h"
#include "dispatch/storage_folder_check.h"

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

// The steps that write, rename or delete in the storage folders, each with the log its command writes.
bool WritesInStorage(Step step, LogComponent& component) {
  switch (step) {
    case Step::kCreateDump:
      component = LogComponent::DumpRequestProcessor;
      return true;
    case Step::kExchangeSolutionLink:
      component = LogComponent::SolutionURL;
      return true;
    case Step::kSendReport:
    case Step::kDiscardReport:
    case Step::kStartLogTransport:
      component = LogComponent::LogTransportProcessor;
      return true;
    default:
      return false;
  }
}

// False, with the reason in the step's log, when a storage folder is a link: the step is not taken, and
// nothing in either folder, or where a link leads, is changed.
bool StorageFoldersAreOwn(LogComponent component) {
  // Asked for by name, so that a folder gone missing is made again as it always was.
  for (const std::wstring& folder : {StoragePaths::CrashLogFolder(), StoragePaths::DumpFolder()}) {
    const std::string refusal = folder.empty() ? "has no place" : StorageFolderRefusal(folder);
    if (refusal.empty()) continue;
    ComponentLog log(component);
    log.Start(ComponentLog::OpenRule::kAppendWhenSwitchOn);
    log.Line("The storage folder ", folder, " ", refusal, ": nothing is written or deleted in the storage folders");
    log.Close();
    return false;
  }
  return true;
}

}  // namespace

void RunInvocation(const Invocation& invocation) {
  for (Step step : PlanSteps(invocation)) {
    LogComponent component = LogComponent::DumpRequestProcessor;
    if (WritesInStorage(step, component) && !StorageFoldersAreOwn(component)) continue;
    RunStep(step, invocation);
  }
}

}  // namespace kx

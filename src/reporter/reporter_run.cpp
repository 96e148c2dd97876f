#include "reporter/reporter_run.h"

#include <windows.h>

#include <optional>
#include <string>

#include "common/file_presence.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/utf8.h"
#include "dispatch/report_names.h"
#include "frontend/child_process.h"
#include "frontend/stranded_reports.h"
#include "prefs/preference_store.h"
#include "reporter/consent_dialog.h"
#include "reporter/consent_text.h"

namespace kx {
namespace {

// More than any report needs; a larger file gives no facts rather than a long read.
constexpr std::size_t kMaxReportBytes = 16 * 1024 * 1024;

// The ticket is any of the user's programs' file: the reporter writes only a run history of the storage
// root.
bool IsRunHistoryPath(const std::wstring& path) {
  const std::wstring prefix = StoragePaths::Root() + L"\\runs-";
  return path.size() > prefix.size() && path.compare(0, prefix.size(), prefix) == 0 &&
         path.find_first_of(L"\\/:", prefix.size()) == std::wstring::npos;
}

std::wstring Wide(const std::string& utf8) { return WideFromUtf8(utf8).value_or(L""); }

std::wstring DumpFileName(const std::wstring& guid, const std::wstring& id) {
  const std::wstring folder = StoragePaths::DumpFolder() + L"\\";
  for (const wchar_t* suffix : {kFullDumpSuffix, kMiniDumpSuffix}) {
    const std::wstring name = DumpStem(guid, id) + suffix;
    if (TestPresence(folder + name) == Presence::kPresent) return name;
  }
  return L"";
}

// The consent dialog for the ticket's report.
Answer AskUser(const ReporterTicket& ticket, const SayLine& say) {
  ConsentInput input;
  input.productName = Wide(ticket.productName);
  input.productVersion = Wide(ticket.productVersion);
  input.productBuild = Wide(ticket.productBuild);
  input.kind = ticket.kind;
  input.exceptionCode = ticket.exceptionCode;
  input.crashIdentifier = ticket.crashIdentifier;
  input.reportFile = ReportStem(ticket.installationGuid, ticket.crashIdentifier) + kReportSuffix;
  const std::optional<std::string> xml =
      ReadSharedFile(StoragePaths::CrashLogFolder() + L"\\" + input.reportFile, kMaxReportBytes);
  if (xml) input.facts = ReadReportFacts(*xml);
  input.dumpFile = DumpFileName(ticket.installationGuid, ticket.crashIdentifier);
  input.attachments = ticket.attachments;
  const DialogAnswer answer = AskConsent(ConsentDialogText(input));
  if (!answer.failure.empty()) {
    say("ask: " + answer.failure + "; nothing is sent");
    return Answer::kDontSend;
  }
  say(answer.accepted ? "ask: the user chose to send the report" : "ask: the user chose not to send");
  return answer.accepted ? Answer::kSend : Answer::kDontSend;
}

// The page that offers the help link after a report was sent; true when the user chose to open it.
bool OfferHelpLink(const ReporterTicket& ticket, const std::wstring& link, const SayLine& say) {
  const DialogAnswer answer = OfferHelpPage(HelpPageText(Wide(ticket.productName), link));
  if (!answer.failure.empty()) say("help page: " + answer.failure);
  return answer.accepted;
}

}  // namespace

void RunReporter(ReporterTicket ticket, bool stale, const SayLine& say) {
  // The ticket lies in a folder the user can write, and the reporter may run elevated (an elevated
  // application's): it starts only the service installed beside itself, never a program the ticket names.
  ticket.servicePath = ThisProgramFolder() + L"\\KXWindowsClientService.exe";
  // A report sent from here is counted in the application's run history, as in the handler.
  if (!IsRunHistoryPath(ticket.runHistory)) ticket.runHistory.clear();
  if (ticket.installationGuid.empty()) ticket.installationGuid = PreferenceStore::GetInstallationGuid();
  if (stale) {
    const ServiceCommands service(ticket.servicePath, ticket.clientDirectory);
    return Discard(service, ticket.crashIdentifier, ticket.commandLimitMs, say,
                   "the ticket is older than " + std::to_string(kStrandedLimitSeconds / 86400) + " days");
  }
  PlanInput input;
  input.policy = ticket.policy;
  input.asker = Asker::kReporterDialog;
  input.openHelpLink = ticket.openSolutionLink;
  ReportSteps::Questions questions;
  questions.ask = [&] { return AskUser(ticket, say); };
  questions.offerHelpLink = [&](const std::wstring& link) { return OfferHelpLink(ticket, link, say); };
  ReportSteps(ticket, say).Run(input, questions);
}

}  // namespace kx

#include "reporter/reporter_run.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "common/file_presence.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/utf8.h"
#include "dispatch/report_names.h"
#include "handler/crash_reporter.h"
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

// The handler's options for the steps' building blocks; its texts are in the ANSI code page.
CrashHandlerOptions OptionsOf(const ReporterTicket& ticket,
                              const std::function<void(const std::string&)>& say) {
  CrashHandlerOptions options;
  options.productName = NarrowToCodePage(Wide(ticket.productName), CP_ACP);
  options.productVersion = NarrowToCodePage(Wide(ticket.productVersion), CP_ACP);
  options.productBuild = NarrowToCodePage(Wide(ticket.productBuild), CP_ACP);
  options.progress = say;
  options.servicePath = ticket.servicePath;
  options.clientDirectory = ticket.clientDirectory;
  options.createDumpLimitMs = ticket.createDumpLimitMs;
  options.commandLimitMs = ticket.commandLimitMs;
  options.checkTransportSignature = ticket.checkTransportSignature;
  options.openSolutionLink = ticket.openSolutionLink;
  return options;
}

class Run {
 public:
  Run(const ReporterTicket& ticket, const std::function<void(const std::string&)>& say)
      : ticket_(ticket), say_(say), service_(OptionsOf(ticket, say)) {
    guid_ = ticket.installationGuid.empty() ? service_.installationGuid() : ticket.installationGuid;
    id_ = ticket.crashIdentifier;
    summary_.exceptionCode = ticket.exceptionCode;
    summary_.kind = ticket.kind;
    summary_.crashIdentifier = id_;
    summary_.reportWritten = ticket.reportWritten;
    // A report sent from here is counted in the application's run history, as in the handler.
    summary_.signature = ticket.signature;
    summary_.heldBackBefore = ticket.heldBackBefore;
    if (IsRunHistoryPath(ticket.runHistory)) service_.UseRunHistory(ticket.runHistory, 0);
  }

  void Go() {
    Consent consent = Consent::kNotAsked;
    if (ticket_.policy == TicketPolicy::kAsk) consent = Ask();
    for (const ReporterStep step : PlanSteps(ticket_.policy, consent)) {
      switch (step) {
        case ReporterStep::kSolution: Solution(); break;
        case ReporterStep::kSend: Finish(true); break;
        case ReporterStep::kDiscard: Finish(false); break;
        case ReporterStep::kHelpLink: HelpLink(consent == Consent::kGiven); break;
        case ReporterStep::kEvent: service_.QueueEvent(summary_, sent_); break;
      }
    }
  }

 private:
  std::wstring ReportFileName() const { return ReportStem(guid_, id_) + kReportSuffix; }

  std::wstring DumpFileName() const {
    const std::wstring folder = StoragePaths::DumpFolder() + L"\\";
    for (const wchar_t* suffix : {kFullDumpSuffix, kMiniDumpSuffix}) {
      const std::wstring name = DumpStem(guid_, id_) + suffix;
      if (TestPresence(folder + name) == Presence::kPresent) return name;
    }
    return L"";
  }

  Consent Ask() {
    if (!ticket_.reportWritten) {
      say_("ask: createdump left no report, so there is nothing to ask about");
      return Consent::kRefused;
    }
    ConsentInput input;
    input.productName = Wide(ticket_.productName);
    input.productVersion = Wide(ticket_.productVersion);
    input.productBuild = Wide(ticket_.productBuild);
    input.kind = ticket_.kind;
    input.exceptionCode = ticket_.exceptionCode;
    input.crashIdentifier = id_;
    input.reportFile = ReportFileName();
    const std::optional<std::string> xml =
        ReadSharedFile(StoragePaths::CrashLogFolder() + L"\\" + input.reportFile, kMaxReportBytes);
    if (xml) input.facts = ReadReportFacts(*xml);
    input.dumpFile = DumpFileName();
    input.attachments = ticket_.attachments;
    const DialogAnswer answer = AskConsent(ConsentDialogText(input));
    if (!answer.failure.empty()) {
      say_("ask: " + answer.failure + "; nothing is sent");
      return Consent::kRefused;
    }
    say_(answer.accepted ? "ask: the user chose to send the report" : "ask: the user chose not to send");
    return answer.accepted ? Consent::kGiven : Consent::kRefused;
  }

  void Solution() { link_ = service_.SolutionStep(summary_); }

  void Finish(bool send) {
    service_.FinishStep(summary_, send);
    sent_ = send;
  }

  void HelpLink(bool offer) {
    if (link_.empty()) return;
    if (!ticket_.openSolutionLink) {
      if (!offer) return;
      const DialogAnswer answer = OfferHelpPage(HelpPageText(Wide(ticket_.productName), summary_.solutionLink));
      if (!answer.failure.empty()) say_("help page: " + answer.failure);
      if (!answer.accepted) return;
    }
    service_.OpenSolutionStep(summary_, link_);
  }

  const ReporterTicket& ticket_;
  const std::function<void(const std::string&)>& say_;
  CrashReporter service_;
  std::wstring guid_;
  std::wstring id_;
  CrashSummary summary_;
  std::string link_;  // as the service gave it, ANSI
  bool sent_ = false;
};

}  // namespace

void RunReporter(const ReporterTicket& ticket, const std::function<void(const std::string&)>& say) {
  Run(ticket, say).Go();
}

}  // namespace kx

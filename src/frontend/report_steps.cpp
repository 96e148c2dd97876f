#include "frontend/report_steps.h"

#include <utility>

#include "common/hex_text.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "frontend/run_history_file.h"
#include "ingest/event_file.h"
#include "kx/crash_handler.h"

namespace kx {
namespace {

// Progress lines are UTF-8.
std::string Utf8(const std::wstring& text) { return NarrowToCodePage(text, CP_UTF8); }

}  // namespace

bool EndsTheRun(std::uint32_t exceptionCode) {
  return exceptionCode != kCaptureCode && exceptionCode != kHangCode;
}

void Discard(const ServiceCommands& service, const std::wstring& crashIdentifier, DWORD limitMs,
             const SayLine& say, const std::string& why) {
  const ChildRun discard = service.Run(L"dontsend", crashIdentifier, {}, limitMs);
  say((why.empty() ? "" : why + "; ") + "dontsend: the service " + Describe(discard));
}

ReportSteps::ReportSteps(const ReporterTicket& ticket, SayLine say)
    : ticket_(ticket), say_(std::move(say)), service_(ticket.servicePath, ticket.clientDirectory) {}

void ReportSteps::Run(PlanInput input, const Questions& questions, const std::string& discardWhy) {
  input.answer = Answer::kNotYet;
  input.reportWritten = ticket_.reportWritten;
  std::vector<ReportStep> steps = PlanReportSteps(input);
  for (std::size_t i = 0; i < steps.size(); ++i) {
    if (steps[i] != ReportStep::kAsk) {
      Take(steps[i], questions, discardWhy);
      continue;
    }
    input.answer = Ask(questions);
    // The same steps up to the question, then those of the answer.
    steps = PlanReportSteps(input);
  }
}

void ReportSteps::Take(ReportStep step, const Questions& questions, const std::string& discardWhy) {
  switch (step) {
    case ReportStep::kAsk: return;
    case ReportStep::kExchange: return Exchange();
    case ReportStep::kSend: return Send();
    case ReportStep::kDiscard:
      Discard(service_, ticket_.crashIdentifier, ticket_.commandLimitMs, say_, discardWhy);
      return FreePlace();
    case ReportStep::kOpenHelpLink: return OpenHelpLink();
    case ReportStep::kOfferHelpLink:
      if (!link_.empty() && questions.offerHelpLink && questions.offerHelpLink(wideLink_)) OpenHelpLink();
      return;
    case ReportStep::kQueueEvent: return QueueEvent();
  }
}

Answer ReportSteps::Ask(const Questions& questions) {
  return questions.ask ? questions.ask() : Answer::kDontSend;
}

void ReportSteps::Exchange() {
  const ServiceCommands::PipedRun solution =
      service_.RunReadingPipe(L"solutionurl", ticket_.crashIdentifier, ticket_.commandLimitMs);
  link_ = solution.pipe.received.substr(0, solution.pipe.received.find('\0'));
  if (link_ == "-1") link_.clear();
  wideLink_ = WidenFromCodePage(link_, CP_ACP);
  say_("solutionurl: the service " + Describe(solution.service) + "; " +
       (link_.empty() ? std::string("no solution link") : "solution link " + Utf8(wideLink_)) +
       (solution.pipe.failure.empty() ? "" : "; pipe: " + solution.pipe.failure));
}

void ReportSteps::Send() {
  std::vector<std::wstring> more;
  if (ticket_.checkTransportSignature) more.push_back(L"1");
  const ChildRun finish = service_.Run(L"sendlog", ticket_.crashIdentifier, more, ticket_.commandLimitMs);
  say_("sendlog: the service " + Describe(finish));
  sent_ = true;
  // Counted once it is on its way: the day's limit is of reports that left.
  if (ticket_.signature.empty() || ticket_.runHistory.empty()) return;
  const bool counted = UpdateRunHistory(ticket_.runHistory, [&](RunHistory& history) {
    RecordSent(history, ticket_.signature, RunHistoryNow(), ticket_.heldBackBefore);
  });
  if (!counted) say_("run history: the report sent could not be counted");
}

void ReportSteps::FreePlace() {
  if (ticket_.signature.empty() || ticket_.runHistory.empty()) return;
  const bool freed = UpdateRunHistory(ticket_.runHistory, [&](RunHistory& history) {
    RecordDiscarded(history, ticket_.signature, RunHistoryNow());
  });
  if (!freed) say_("run history: the discarded report's place in the day's limit could not be freed");
}

void ReportSteps::OpenHelpLink() {
  if (link_.empty()) return;
  const ServiceCommands::PipedRun open =
      service_.RunWritingPipe(L"opensolutionurl", ticket_.crashIdentifier, link_ + '\0',
                              ticket_.commandLimitMs);
  say_("opensolutionurl: the service " + Describe(open.service));
}

void ReportSteps::QueueEvent() {
  // The event tells of an application that ended; one that made a report and runs on did not.
  if (!EndsTheRun(ticket_.exceptionCode)) return;
  // The event file is in the ANSI code page (ingest/event_file.h); the ticket's texts are UTF-8.
  const auto ansi = [](const std::string& utf8) { return ConvertFromUtf8(utf8, CP_ACP); };
  const std::string text = FormatEventFile({
      {"event", "crash"},
      {"crash.id", NarrowToCodePage(ticket_.crashIdentifier, CP_ACP)},
      {"crash.code", HexCode(ticket_.exceptionCode)},
      {"crash.kind", ticket_.kind},
      {"app.name", ansi(ticket_.productName)},
      {"app.version", ansi(ticket_.productVersion)},
      {"app.build", ansi(ticket_.productBuild)},
      {"report.written", ticket_.reportWritten ? "yes" : "no"},
      {"report.sent", sent_ ? "yes" : "no"},
      {"solution.link", link_.empty() ? "no" : "yes"},
  });
  // Written beside the queue and moved in whole: the poster never sees half an event.
  const std::wstring name = L"kxcrash_" + ticket_.crashIdentifier + L".log";
  const std::wstring ingest = StoragePaths::IngestFolder();  // creates the folders
  const std::wstring root = StoragePaths::Root();
  if (ingest.empty() || root.empty()) {
    say_("the analytics event could not be queued: no application data folder");
    return;
  }
  const std::wstring queued = ingest + L"\\" + name;
  const DWORD written = WriteThenMove(root + L"\\" + name + L".tmp", queued, text);
  if (written != ERROR_SUCCESS) {
    say_("the analytics event could not be queued (error " + std::to_string(written) + ")");
    return;
  }
  say_("event queued: " + Utf8(queued));
  const DWORD started = service_.Start(L"postingestevent", ticket_.crashIdentifier, {});
  say_(started == ERROR_SUCCESS
           ? "postingestevent started"
           : "postingestevent could not be started (error " + std::to_string(started) + ")");
}

}  // namespace kx

#include "handler/crash_reporter.h"

#include <utility>

#include "common/base64.h"
#include "common/file_presence.h"
#include "common/hex_text.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "dispatch/report_names.h"
#include "handler/annotation_store.h"
#include "handler/reporter_ticket.h"
#include "handler/run_history_file.h"
#include "handler/stack_walk.h"
#include "ingest/event_file.h"
#include "intake/crash_data_message.h"
#include "prefs/preference_store.h"

namespace kx {
namespace {

// The service notices a client that went away at once; after it ended, the pipe waits no longer than this.
constexpr DWORD kPipeGraceMs = 2000;
constexpr std::size_t kMaxStackFrames = 64;
// Texts an application hands over end up in one record each; no record needs more.
constexpr std::size_t kMaxOptionText = 1024;

std::string Narrow(const std::wstring& text) { return NarrowToCodePage(text, CP_ACP); }

std::string Limited(const std::string& text) { return text.substr(0, kMaxOptionText); }

std::string UserLocale() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
  return ::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0 ? Narrow(name) : std::string();
}

std::wstring NewCrashIdentifier(unsigned sequence) {
  SYSTEMTIME now = {};
  ::GetSystemTime(&now);
  CrashMoment moment;
  moment.year = now.wYear;
  moment.month = now.wMonth;
  moment.day = now.wDay;
  moment.hour = now.wHour;
  moment.minute = now.wMinute;
  moment.second = now.wSecond;
  moment.processId = ::GetCurrentProcessId();
  const std::string identifier = MakeCrashIdentifier(moment, sequence);
  return std::wstring(identifier.begin(), identifier.end());
}

bool EndsTheRun(std::uint32_t code) { return code != kCaptureCode && code != kHangCode; }

}  // namespace

const char* CrashKindOf(std::uint32_t exceptionCode) {
  switch (exceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION: return "access-violation";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "divide-by-zero";
    case EXCEPTION_STACK_OVERFLOW: return "stack-overflow";
    case EXCEPTION_BREAKPOINT: return "breakpoint";
    case EXCEPTION_ILLEGAL_INSTRUCTION: return "illegal-instruction";
    case EXCEPTION_IN_PAGE_ERROR: return "in-page-error";
    case 0xE06D7363:  // an MSVC C++ exception
    case 0x20474343:  // a GCC C++ exception
      return "cpp-exception";
    case kAbortCode: return "abort";
    case kInvalidParameterCode: return "invalid-parameter";
    case kTerminateCode: return "terminate";
    case kPureCallCode: return "pure-call";
    default: return "exception";
  }
}

CrashReporter::CrashReporter(CrashHandlerOptions options) : options_(std::move(options)) {
  if (options_.clientDirectory.empty()) options_.clientDirectory = ThisProgramFolder();
  if (options_.servicePath.empty())
    options_.servicePath = ThisProgramFolder() + L"\\KXWindowsClientService.exe";
  if (options_.reporterPath.empty()) {
    const std::size_t slash = options_.servicePath.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : options_.servicePath.substr(0, slash);
    options_.reporterPath = folder + L"\\KXCrashReporter.exe";
  }
  // The service names and finds the report files by this GUID: the handler must use the very same one.
  guid_ = PreferenceStore::GetInstallationGuid();
  // The service runs elsewhere: a relative path would name another file there.
  for (const std::wstring& path : options_.attachments) {
    if (attachments_.size() == kMaxAttachments) {
      Say("attachments: " + std::to_string(options_.attachments.size() - kMaxAttachments) + " beyond the " +
          std::to_string(kMaxAttachments) + " a report takes are left out");
      break;
    }
    wchar_t full[MAX_PATH * 4];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH * 4, full, nullptr);
    const std::wstring resolved = length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : path;
    attachments_.push_back(NarrowToCodePage(resolved, CP_UTF8));
  }
}

void CrashReporter::UseRunHistory(const std::wstring& path, std::int64_t runStarted) {
  runHistory_ = path;
  runStarted_ = runStarted;
}

std::string CrashReporter::CrashDataMessage(const CapturedCrash& crash, const std::wstring& crashIdentifier,
                                            const CrashSummary& verdict) const {
  const std::wstring guid = guid_.empty() ? PreferenceStore::GetInstallationGuid() : guid_;
  std::string stack;
  if (crash.stackLow < crash.stackHigh) {
    stack = FormatStackText(WalkStack(crash.context, crash.stackLow, crash.stackHigh, kMaxStackFrames));
  }
  const std::string sessionId = Limited(options_.sessionId);
  std::vector<std::pair<std::string, std::string>> records = {
      {"ProductName", Limited(options_.productName)},
      {"ProductVersion", Limited(options_.productVersion)},
      {"ProductBuild", Limited(options_.productBuild)},
      {"LocaleString", UserLocale()},
      {"StarlumeSessionId", sessionId},
      {"SolvaneSessionId", sessionId},
      {"ZanUserGuid", Narrow(guid)},
      {"LogFileName", Narrow(ReportStem(guid, crashIdentifier))},
      {"DumpFileName", Narrow(DumpStem(guid, crashIdentifier))},
      {"StackTrace", stack},
      {"Context", EncodeBase64(&crash.context, sizeof(crash.context))},
      {"ExceptionInfo", EncodeBase64(&crash.record, sizeof(crash.record))},
      {"KXSource", "KXCrashHandler"},
      {"SignalType", crash.kind},
      {"SLLogSessionDllStatus", "none"},
      {"ProcessId", std::to_string(crash.processId)},
      {"ThreadId", std::to_string(crash.threadId)},
  };
  // Only for C++ exceptions, so that every other crash's message stays as it was.
  if (crash.cpp.type[0] != '\0') {
    records.push_back({"CppExceptionType", crash.cpp.type});
    records.push_back({"CppExceptionWhat", crash.cpp.what});
  }
  // The same for the application's additions: present only when there is something to say.
  std::vector<Annotation> annotations;
  if (!ReadAnnotations(annotations)) records.push_back({"AnnotationsNote", "busy"});
  if (!annotations.empty()) records.push_back({"Annotations", EncodeAnnotations(annotations)});
  if (!attachments_.empty()) records.push_back({"Attachments", EncodeAttachments(attachments_)});
  if (crash.kind == std::string("captured"))
    records.push_back({"CaptureReason", EncodeCrashField(crash.reason.substr(0, kMaxCaptureReasonBytes))});
  if (verdict.crashLoop > 0) records.push_back({"CrashLoop", std::to_string(verdict.crashLoop)});
  if (verdict.heldBackBefore > 0) records.push_back({"HeldBackReports", std::to_string(verdict.heldBackBefore)});
  return JoinCrashRecords(records);
}

CrashReporter::PipedRun CrashReporter::RunWithPipe(const std::wstring& command,
                                                   const std::wstring& crashIdentifier,
                                                   const std::string* bytes, DWORD limitMs) const {
  CrashPipe::Options pipeOptions;
  pipeOptions.waitMs = limitMs;
  CrashPipe pipe(crashIdentifier, pipeOptions);
  PipedRun run;
  if (!pipe.createFailure().empty()) {
    run.pipe.failure = pipe.createFailure();
    return run;
  }
  if (bytes != nullptr) {
    pipe.StartWriting(*bytes);
  } else {
    pipe.StartReading();
  }
  run.service = RunCommand(command, crashIdentifier, {}, limitMs);
  // The service has ended (or could not start): a client that has not come by now never will.
  run.pipe = pipe.Finish(kPipeGraceMs);
  return run;
}

CrashReporter::PipedRun CrashReporter::RunWritingPipe(const std::wstring& command,
                                                      const std::wstring& crashIdentifier,
                                                      const std::string& bytes, DWORD limitMs) const {
  return RunWithPipe(command, crashIdentifier, &bytes, limitMs);
}

CrashReporter::PipedRun CrashReporter::RunReadingPipe(const std::wstring& command,
                                                      const std::wstring& crashIdentifier,
                                                      DWORD limitMs) const {
  return RunWithPipe(command, crashIdentifier, nullptr, limitMs);
}

ChildRun CrashReporter::RunCommand(const std::wstring& command, const std::wstring& crashIdentifier,
                                   const std::vector<std::wstring>& more, DWORD limitMs) const {
  std::vector<std::wstring> words = {options_.clientDirectory, command, crashIdentifier};
  words.insert(words.end(), more.begin(), more.end());
  return RunChild(options_.servicePath, words, limitMs);
}

DWORD CrashReporter::StartCommand(const std::wstring& command, const std::wstring& crashIdentifier,
                                  const std::vector<std::wstring>& more) const {
  std::vector<std::wstring> words = {options_.clientDirectory, command, crashIdentifier};
  words.insert(words.end(), more.begin(), more.end());
  return StartDetached(options_.servicePath, words);
}

void CrashReporter::Say(const std::string& line) const {
  if (!options_.progress) return;
  try {
    options_.progress(line);
  } catch (...) {
    // The application's logging must not stop the handling.
  }
}

bool CrashReporter::Decide(const CrashSummary& summary) const {
  switch (options_.policy) {
    case ReportPolicy::kSend: return !summary.heldBack;
    case ReportPolicy::kDontSend: return false;
    case ReportPolicy::kAsk:
      if (!options_.decide || summary.heldBack) return false;
      try {
        return options_.decide(summary);
      } catch (...) {
        return false;
      }
  }
  return false;
}

CrashSummary CrashReporter::Report(const CapturedCrash& crash) {
  Progress progress = CreateDump(crash);
  if (progress.goOn) Finish(progress);
  return progress.summary;
}

CrashReporter::Progress CrashReporter::CreateDump(const CapturedCrash& crash) {
  Progress progress;
  CrashSummary& summary = progress.summary;
  summary.exceptionCode = crash.record.ExceptionCode;
  summary.kind = crash.kind;
  // A process may report more than once (captured reports, then a crash): each report its own names.
  summary.crashIdentifier = NewCrashIdentifier(++reports_);
  // Read again when the registry gave none at install time.
  if (guid_.empty()) guid_ = PreferenceStore::GetInstallationGuid();
  const std::string id = Narrow(summary.crashIdentifier);
  Say("crash " + HexCode(summary.exceptionCode) + " (" + crash.kind + ") on thread " +
      std::to_string(crash.threadId) + ", crash identifier " + id);

  Judge(crash, summary);
  const std::string message = CrashDataMessage(crash, summary.crashIdentifier, summary);
  const PipedRun dump =
      RunWritingPipe(L"createdump", summary.crashIdentifier, message + '\0', options_.createDumpLimitMs);
  Say("createdump: the service " + Describe(dump.service) + "; it took " +
      std::to_string(dump.pipe.bytesWritten) + " of " + std::to_string(message.size() + 1) +
      " bytes of the crash data" + (dump.pipe.failure.empty() ? "" : "; pipe: " + dump.pipe.failure));
  if (!dump.service.finished) {
    // A service that cannot start, or hangs, would do the same for every later command. One that was
    // stopped may have left part of a dump: dontsend clears it.
    if (dump.service.started) {
      const ChildRun discard = RunCommand(L"dontsend", summary.crashIdentifier, {}, options_.commandLimitMs);
      Say("dontsend: the service " + Describe(discard));
    }
    Say("no report: the crash is left unreported");
    return progress;
  }
  const std::wstring reportPath =
      StoragePaths::CrashLogFolder() + L"\\" + ReportStem(guid_, summary.crashIdentifier) + kReportSuffix;
  summary.reportWritten = TestPresence(reportPath) == Presence::kPresent;
  Say(summary.reportWritten ? "report: " + Narrow(reportPath) : "createdump left no report");
  progress.goOn = true;
  return progress;
}

void CrashReporter::Finish(Progress& progress) {
  const CrashSummary& summary = progress.summary;
  if (summary.heldBack && options_.policy == ReportPolicy::kAsk && !options_.decide) {
    // Not sent whatever the answer: nobody is asked, and without consent nothing leaves the machine.
    const ChildRun discard = RunCommand(L"dontsend", summary.crashIdentifier, {}, options_.commandLimitMs);
    Say("dontsend: the service " + Describe(discard));
    return;
  }
  // An application that asks through its own callback keeps the whole flow here, with its limits.
  if (options_.policy != ReportPolicy::kAsk || !options_.decide) {
    const std::string failure = HandOver(summary);
    if (failure.empty()) return;
    if (options_.policy == ReportPolicy::kAsk) {
      // Nobody can be asked: without an answer nothing leaves the machine, not even the event's facts.
      const ChildRun discard = RunCommand(L"dontsend", summary.crashIdentifier, {}, options_.commandLimitMs);
      Say("reporter: " + failure + "; nobody to ask, so nothing is sent; dontsend: the service " +
          Describe(discard));
      return;
    }
    Say("reporter: " + failure + "; the steps run here");
  }
  FinishHere(progress);
}

std::string CrashReporter::HandOver(const CrashSummary& summary) const {
  ReporterTicket ticket;
  ticket.crashIdentifier = summary.crashIdentifier;
  ticket.exceptionCode = summary.exceptionCode;
  ticket.kind = summary.kind;
  ticket.policy = summary.heldBack                         ? TicketPolicy::kDontSend
                  : options_.policy == ReportPolicy::kSend ? TicketPolicy::kSend
                  : options_.policy == ReportPolicy::kAsk  ? TicketPolicy::kAsk
                                                           : TicketPolicy::kDontSend;
  ticket.servicePath = options_.servicePath;
  ticket.clientDirectory = options_.clientDirectory;
  ticket.reportWritten = summary.reportWritten;
  ticket.installationGuid = guid_;
  // The ticket is UTF-8; the options are in the ANSI code page, as the crash data message wants them.
  ticket.productName = NarrowToCodePage(WidenFromCodePage(Limited(options_.productName), CP_ACP), CP_UTF8);
  ticket.productVersion =
      NarrowToCodePage(WidenFromCodePage(Limited(options_.productVersion), CP_ACP), CP_UTF8);
  ticket.productBuild = NarrowToCodePage(WidenFromCodePage(Limited(options_.productBuild), CP_ACP), CP_UTF8);
  ticket.openSolutionLink = options_.openSolutionLink;
  ticket.checkTransportSignature = options_.checkTransportSignature;
  ticket.createDumpLimitMs = options_.createDumpLimitMs;
  ticket.commandLimitMs = options_.commandLimitMs;
  for (const std::string& path : attachments_) {
    const std::wstring wide = WidenFromCodePage(path, CP_UTF8);
    ticket.attachments.push_back(wide.substr(wide.find_last_of(L"\\/") + 1));
  }
  ticket.progressLog = options_.reporterLog;
  if (!summary.signature.empty()) {
    ticket.runHistory = runHistory_;
    ticket.signature = summary.signature;
    ticket.heldBackBefore = summary.heldBackBefore;
  }

  const std::wstring folder = StoragePaths::ReporterFolder();
  if (folder.empty()) return "no storage folder for its ticket";
  // Written under a name the reporter refuses and renamed whole: it never reads half a ticket.
  const std::wstring path = folder + L"\\" + summary.crashIdentifier + kTicketSuffix;
  const DWORD written = WriteThenMove(path + L".tmp", path, FormatTicket(ticket));
  if (written != ERROR_SUCCESS)
    return "the ticket could not be written (error " + std::to_string(written) + ")";
  const DWORD started = StartDetached(options_.reporterPath, {path});
  if (started != ERROR_SUCCESS) {
    ::DeleteFileW(path.c_str());
    return Narrow(options_.reporterPath) + " could not be started (error " + std::to_string(started) + ")";
  }
  Say("reporter: started on " + Narrow(path));
  return "";
}

void CrashReporter::FinishHere(Progress& progress) {
  CrashSummary& summary = progress.summary;
  const std::string link = SolutionStep(summary);
  const bool send = Decide(summary);
  FinishStep(summary, send);
  if (options_.openSolutionLink) OpenSolutionStep(summary, link);
  QueueEvent(summary, send);
}

std::string CrashReporter::SolutionStep(CrashSummary& summary) const {
  const PipedRun solution = RunReadingPipe(L"solutionurl", summary.crashIdentifier, options_.commandLimitMs);
  std::string link = solution.pipe.received.substr(0, solution.pipe.received.find('\0'));
  if (link == "-1") link.clear();
  summary.solutionLink = WidenFromCodePage(link, CP_ACP);
  Say("solutionurl: the service " + Describe(solution.service) + "; " +
      (link.empty() ? std::string("no solution link") : "solution link " + link) +
      (solution.pipe.failure.empty() ? "" : "; pipe: " + solution.pipe.failure));
  return link;
}

void CrashReporter::FinishStep(const CrashSummary& summary, bool send) const {
  std::vector<std::wstring> more;
  if (send && options_.checkTransportSignature) more.push_back(L"1");
  const ChildRun finish =
      RunCommand(send ? L"sendlog" : L"dontsend", summary.crashIdentifier, more, options_.commandLimitMs);
  Say(std::string(send ? "sendlog" : "dontsend") + ": the service " + Describe(finish));
  // Counted once it is on its way: the day's limit is of reports that left.
  if (!send || summary.signature.empty() || runHistory_.empty()) return;
  const bool counted = UpdateRunHistory(runHistory_, [&](RunHistory& history) {
    RecordSent(history, summary.signature, RunHistoryNow(), summary.heldBackBefore);
  });
  if (!counted) Say("run history: the report sent could not be counted");
}

void CrashReporter::Judge(const CapturedCrash& crash, CrashSummary& summary) {
  if (runHistory_.empty()) return;
  // The first frame: the crash's own instruction, or the application's call for a crash the runtime
  // reported (the context was moved there).
  const std::vector<StackFrame> top = WalkStack(crash.context, crash.stackLow, crash.stackHigh, 1);
  const StackFrame frame = top.empty() ? StackFrame() : top.front();
  summary.signature = CrashSignature(summary.exceptionCode, frame.module,
                                     frame.module.empty() ? frame.address : frame.address - frame.moduleBase);
  GuardLimits limits;
  limits.loopCrashes = options_.loopGuardCrashes;
  limits.loopWindowSeconds = 60LL * options_.loopGuardWindowMinutes;
  limits.reportsPerDay = options_.reportsPerDay;
  const bool crashed = EndsTheRun(summary.exceptionCode);
  ReportVerdict verdict;
  const bool kept = UpdateRunHistory(runHistory_, [&](RunHistory& history) {
    verdict = RecordReport(history, summary.signature, RunHistoryNow(), crashed, limits);
    if (crashed && runStarted_ != 0)
      EndRun(history, runStarted_, ::GetCurrentProcessId(), RunEnd::kCrashed, summary.signature);
  });
  if (!kept) Say("run history: could not be updated; no guard, no throttle for this report");
  summary.crashLoop = verdict.loopGuard ? verdict.crashesInWindow : 0;
  summary.heldBack = verdict.heldBack;
  summary.heldBackBefore = verdict.heldBackBefore;
  if (summary.crashLoop > 0)
    Say("crash-loop guard: crash " + std::to_string(summary.crashLoop) + " of " + summary.signature +
        " within " + std::to_string(options_.loopGuardWindowMinutes) + " minutes; the report keeps no dump");
  if (summary.heldBack)
    Say("throttle: " + std::to_string(options_.reportsPerDay) + " reports of " + summary.signature +
        " sent today; this one is not sent");
}

void CrashReporter::OpenSolutionStep(const CrashSummary& summary, const std::string& link) const {
  if (link.empty()) return;
  const PipedRun open =
      RunWritingPipe(L"opensolutionurl", summary.crashIdentifier, link + '\0', options_.commandLimitMs);
  Say("opensolutionurl: the service " + Describe(open.service));
}

void CrashReporter::QueueEvent(const CrashSummary& summary, bool sent) const {
  // The analytics event tells of an application that ended; one that made a report and runs on did not.
  if (!EndsTheRun(summary.exceptionCode)) return;
  const std::string id = Narrow(summary.crashIdentifier);
  const std::string text = FormatEventFile({
      {"event", "crash"},
      {"crash.id", id},
      {"crash.code", HexCode(summary.exceptionCode)},
      {"crash.kind", summary.kind},
      {"app.name", Limited(options_.productName)},
      {"app.version", Limited(options_.productVersion)},
      {"app.build", Limited(options_.productBuild)},
      {"report.written", summary.reportWritten ? "yes" : "no"},
      {"report.sent", sent ? "yes" : "no"},
      {"solution.link", summary.solutionLink.empty() ? "no" : "yes"},
  });
  // Written beside the queue and moved in whole: the poster never sees half an event.
  const std::wstring name = L"kxcrash_" + summary.crashIdentifier + L".log";
  const std::wstring ingest = StoragePaths::IngestFolder();  // creates the folders
  const std::wstring root = StoragePaths::Root();
  if (ingest.empty() || root.empty()) {
    Say("the analytics event could not be queued: no application data folder");
    return;
  }
  const std::wstring queued = ingest + L"\\" + name;
  const DWORD written = WriteThenMove(root + L"\\" + name + L".tmp", queued, text);
  if (written != ERROR_SUCCESS) {
    Say("the analytics event could not be queued (error " + std::to_string(written) + ")");
    return;
  }
  Say("event queued: " + Narrow(queued));
  const DWORD started = StartCommand(L"postingestevent", summary.crashIdentifier, {});
  Say(started == ERROR_SUCCESS
          ? "postingestevent started"
          : "postingestevent could not be started (error " + std::to_string(started) + ")");
}

}  // namespace kx

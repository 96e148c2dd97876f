#include "handler/report_flow.h"

#include <bcrypt.h>

#include <utility>

#include "common/base64.h"
#include "common/file_presence.h"
#include "common/hex_text.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/utf8.h"
#include "dispatch/report_names.h"
#include "frontend/report_steps.h"
#include "frontend/report_sweep.h"
#include "frontend/run_history_file.h"
#include "handler/annotation_store.h"
#include "handler/stack_walk.h"
#include "intake/crash_data_message.h"
#include "prefs/preference_store.h"

namespace kx {
namespace {

constexpr std::size_t kMaxStackFrames = 64;
// Names tried for a crash's pipe; each is random, so a second taken name is no accident.
constexpr unsigned kPipeAttempts = 4;
// Texts an application hands over end up in one record each; no record needs more.
constexpr std::size_t kMaxOptionText = 1024;

// The crash data message is in the ANSI code page: the application's texts (UTF-8, like every text of the
// handler's API) are converted here, once.
std::string Ansi(const std::wstring& text) { return NarrowToCodePage(text, CP_ACP); }
std::string Ansi(const std::string& utf8) { return ConvertFromUtf8(utf8, CP_ACP); }

// Progress lines are UTF-8.
std::string Utf8(const std::wstring& text) { return NarrowToCodePage(text, CP_UTF8); }

std::string UserLocale() {
  wchar_t name[LOCALE_NAME_MAX_LENGTH] = L"";
  return ::GetUserDefaultLocaleName(name, LOCALE_NAME_MAX_LENGTH) > 0 ? Ansi(name) : std::string();
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
  std::uint32_t random = 0;
  // Without the system's generator, the time's finest part still differs from any name made ahead.
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&random), sizeof(random),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    LARGE_INTEGER counter = {};
    ::QueryPerformanceCounter(&counter);
    random = static_cast<std::uint32_t>(counter.QuadPart);
  }
  const std::string identifier = MakeCrashIdentifier(moment, sequence, random);
  return std::wstring(identifier.begin(), identifier.end());
}

// The options with their defaults filled in.
CrashHandlerOptions Resolved(CrashHandlerOptions options) {
  if (options.clientDirectory.empty()) options.clientDirectory = ThisProgramFolder();
  if (options.servicePath.empty())
    options.servicePath = ThisProgramFolder() + L"\\KXWindowsClientService.exe";
  if (options.reporterPath.empty()) {
    const std::size_t slash = options.servicePath.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? L"." : options.servicePath.substr(0, slash);
    options.reporterPath = folder + L"\\KXCrashReporter.exe";
  }
  // Each ends up in one record of the message and in the ticket, which takes only well-formed UTF-8.
  for (std::string* text :
       {&options.productName, &options.productVersion, &options.productBuild, &options.sessionId}) {
    *text = Utf8Within(*text, kMaxOptionText);
  }
  return options;
}

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

ReportFlow::ReportFlow(CrashHandlerOptions options)
    : options_(Resolved(std::move(options))), service_(options_.servicePath, options_.clientDirectory) {
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

void ReportFlow::UseRunHistory(const std::wstring& path, std::int64_t runStarted) {
  runHistory_ = path;
  runStarted_ = runStarted;
}

std::string ReportFlow::CrashDataMessage(const CapturedCrash& crash, const std::wstring& crashIdentifier,
                                         const CrashSummary& verdict) const {
  const std::wstring guid = guid_.empty() ? PreferenceStore::GetInstallationGuid() : guid_;
  std::string stack;
  if (crash.stackLow < crash.stackHigh) {
    stack = FormatStackText(WalkStack(crash.context, crash.stackLow, crash.stackHigh, kMaxStackFrames));
  }
  const std::string sessionId = Ansi(options_.sessionId);
  std::vector<std::pair<std::string, std::string>> records = {
      {"ProductName", Ansi(options_.productName)},
      {"ProductVersion", Ansi(options_.productVersion)},
      {"ProductBuild", Ansi(options_.productBuild)},
      {"LocaleString", UserLocale()},
      {"StarlumeSessionId", sessionId},
      {"SolvaneSessionId", sessionId},
      {"ZanUserGuid", Ansi(guid)},
      {"LogFileName", Ansi(ReportStem(guid, crashIdentifier))},
      {"DumpFileName", Ansi(DumpStem(guid, crashIdentifier))},
      {"StackTrace", Ansi(stack)},
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

void ReportFlow::Say(const std::string& line) const {
  if (!options_.progress) return;
  try {
    options_.progress(line);
  } catch (...) {
    // The application's logging must not stop the handling.
  }
}

void ReportFlow::SweepStranded() const {
  SweepStrandedReports(options_.reporterPath, [this](const std::string& line) { Say(line); });
}

CrashSummary ReportFlow::Report(const CapturedCrash& crash) {
  const Dumped dumped = CreateDump(crash);
  if (dumped.goOn) Finish(dumped);
  return dumped.summary;
}

ReportFlow::Dumped ReportFlow::CreateDump(const CapturedCrash& crash) {
  Dumped dumped;
  CrashSummary& summary = dumped.summary;
  summary.exceptionCode = crash.record.ExceptionCode;
  summary.kind = crash.kind;
  // A process may report more than once (captured reports, then a crash): each report its own names.
  summary.crashIdentifier = NewCrashIdentifier(++reports_);
  // Read again when the registry gave none at install time.
  if (guid_.empty()) guid_ = PreferenceStore::GetInstallationGuid();
  const std::string id = Utf8(summary.crashIdentifier);
  Say("crash " + HexCode(summary.exceptionCode) + " (" + crash.kind + ") on thread " +
      std::to_string(crash.threadId) + ", crash identifier " + id);

  Judge(crash, summary);
  std::string message = CrashDataMessage(crash, summary.crashIdentifier, summary);
  ServiceCommands::PipedRun dump = service_.RunWritingPipe(L"createdump", summary.crashIdentifier,
                                                           message + '\0', options_.createDumpLimitMs);
  // A pipe of that name already there (someone else's, made first) would leave the crash unreported: the
  // pipe and every file are named after the identifier, so a new one takes a new name.
  for (unsigned attempt = 1; attempt < kPipeAttempts && !dump.service.started &&
                             dump.service.startError == ERROR_SUCCESS;
       ++attempt) {
    summary.crashIdentifier = NewCrashIdentifier(reports_);
    Say("pipe: " + dump.pipe.failure + "; crash identifier " + Utf8(summary.crashIdentifier) + " instead");
    message = CrashDataMessage(crash, summary.crashIdentifier, summary);
    dump = service_.RunWritingPipe(L"createdump", summary.crashIdentifier, message + '\0',
                                   options_.createDumpLimitMs);
  }
  Say("createdump: the service " + Describe(dump.service) + "; it took " +
      std::to_string(dump.pipe.bytesWritten) + " of " + std::to_string(message.size() + 1) +
      " bytes of the crash data" + (dump.pipe.failure.empty() ? "" : "; pipe: " + dump.pipe.failure));
  if (!dump.service.finished) {
    // A service that cannot start, or hangs, would do the same for every later command. One that was
    // stopped may have left part of a dump: dontsend clears it.
    const SayLine say = [this](const std::string& line) { Say(line); };
    if (dump.service.started) Discard(service_, summary.crashIdentifier, options_.commandLimitMs, say, "");
    Say("no report: the crash is left unreported");
    return dumped;
  }
  const std::wstring reportPath =
      StoragePaths::CrashLogFolder() + L"\\" + ReportStem(guid_, summary.crashIdentifier) + kReportSuffix;
  summary.reportWritten = TestPresence(reportPath) == Presence::kPresent;
  Say(summary.reportWritten ? "report: " + Utf8(reportPath) : "createdump left no report");
  dumped.goOn = true;
  return dumped;
}

void ReportFlow::Finish(const Dumped& dumped) {
  const CrashSummary& summary = dumped.summary;
  const ReporterTicket ticket = TicketOf(summary);
  PlanInput input;
  input.policy = options_.policy;
  input.heldBack = summary.heldBack;
  // decide answers for the asking policy only; the other policies go to the reporter with or without it.
  const bool applicationAnswers = options_.policy == ReportPolicy::kAsk && options_.decide;
  input.asker = applicationAnswers ? Asker::kApplication : Asker::kReporterDialog;
  input.openHelpLink = options_.openSolutionLink;
  input.reportWritten = summary.reportWritten;
  std::string discardWhy;
  // The reporter carries every plan but a bare discard, so that the crashed process can end at once.
  if (input.asker == Asker::kReporterDialog && NeedsReporter(PlanReportSteps(input))) {
    const HandOverResult handOver = HandOver(ticket);
    if (handOver.started) return;
    if (input.policy == ReportPolicy::kAsk) {
      input.asker = Asker::kNobody;
      discardWhy = "reporter: " + handOver.failure + "; nobody to ask, so nothing is sent";
    } else {
      Say("reporter: " + handOver.failure + "; the steps run here");
    }
  }
  ReportSteps::Questions questions;
  questions.ask = [&] { return AskApplication(summary); };
  ReportSteps(ticket, [this](const std::string& line) { Say(line); }).Run(input, questions, discardWhy);
}

Answer ReportFlow::AskApplication(const CrashSummary& summary) const {
  bool send = false;
  try {
    send = options_.decide(summary);
  } catch (...) {
    // No answer sends nothing.
    Say("ask: the application's decide gave no answer; nothing is sent");
    return Answer::kDontSend;
  }
  Say(send ? "ask: the application chose to send the report" : "ask: the application chose not to send");
  return send ? Answer::kSend : Answer::kDontSend;
}

ReporterTicket ReportFlow::TicketOf(const CrashSummary& summary) const {
  ReporterTicket ticket;
  ticket.crashIdentifier = summary.crashIdentifier;
  ticket.exceptionCode = summary.exceptionCode;
  ticket.kind = summary.kind;
  PlanInput input;
  input.policy = options_.policy;
  input.heldBack = summary.heldBack;
  ticket.policy = WithHeldBackApplied(input).policy;
  ticket.servicePath = options_.servicePath;
  ticket.clientDirectory = options_.clientDirectory;
  ticket.reportWritten = summary.reportWritten;
  ticket.installationGuid = guid_;
  ticket.productName = options_.productName;
  ticket.productVersion = options_.productVersion;
  ticket.productBuild = options_.productBuild;
  ticket.openSolutionLink = options_.openSolutionLink;
  ticket.checkTransportSignature = options_.checkTransportSignature;
  ticket.createDumpLimitMs = options_.createDumpLimitMs;
  ticket.commandLimitMs = options_.commandLimitMs;
  for (const std::string& path : attachments_) {
    const std::wstring wide = WidenFromCodePage(path, CP_UTF8);
    ticket.attachments.push_back(wide.substr(wide.find_last_of(L"\\/") + 1));
  }
  ticket.progressLog = options_.reporterLog;
  // Only a report within the day's limit holds a place in it, which its sending or discarding settles.
  if (!summary.signature.empty() && !summary.heldBack) {
    ticket.runHistory = runHistory_;
    ticket.signature = summary.signature;
    ticket.heldBackBefore = summary.heldBackBefore;
  }
  return ticket;
}

ReportFlow::HandOverResult ReportFlow::HandOver(const ReporterTicket& ticket) const {
  HandOverResult result;
  const std::wstring folder = StoragePaths::ReporterFolder();
  if (folder.empty()) {
    result.failure = "no storage folder for its ticket";
    return result;
  }
  // Written under a name the reporter refuses and renamed whole: it never reads half a ticket.
  const std::wstring path = folder + L"\\" + ticket.crashIdentifier + kTicketSuffix;
  const DWORD written = WriteThenMove(path + L".tmp", path, FormatTicket(ticket));
  if (written != ERROR_SUCCESS) {
    result.failure = "the ticket could not be written (error " + std::to_string(written) + ")";
    return result;
  }
  const DWORD started = StartDetached(options_.reporterPath, {path});
  if (started != ERROR_SUCCESS) {
    ::DeleteFileW(path.c_str());
    result.failure =
        Utf8(options_.reporterPath) + " could not be started (error " + std::to_string(started) + ")";
    return result;
  }
  Say("reporter: started on " + Utf8(path));
  result.started = true;
  return result;
}

void ReportFlow::Judge(const CapturedCrash& crash, CrashSummary& summary) {
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

}  // namespace kx

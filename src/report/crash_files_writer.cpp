#include "report/crash_files_writer.h"

#include <share.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <utility>
#include <vector>

#include "common/base64.h"
#include "common/name_piece.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/text_utils.h"
#include "dispatch/report_names.h"
#include "intake/crash_data_message.h"
#include "prefs/preference_store.h"
#include "prefs/pvb_key.h"
#include "report/attachment_copy.h"
#include "report/crash_report_writer.h"
#include "report/crash_report_writer_win.h"
#include "report/xml_text.h"

namespace kx {

// The crashed thread's context and exception record, rebuilt here from their Base64 text. Zeroed, so that a
// short or empty text leaves the rest of each record zero. The context is allocated on its own for its
// 16-byte alignment.
struct CrashFilesWriter::CrashContext {
  std::unique_ptr<CONTEXT> context = std::make_unique<CONTEXT>();
  EXCEPTION_RECORD record = {};
  EXCEPTION_POINTERS pointers = {};
};

namespace {

static_assert(sizeof(CONTEXT) == 1232, "the front end sends the x64 CONTEXT");
static_assert(sizeof(EXCEPTION_RECORD) == 152, "the front end sends the x64 EXCEPTION_RECORD");

bool IsProcessActive(DWORD processId) {
  const UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  DWORD exitCode = 0;
  return process && ::GetExitCodeProcess(process.get(), &exitCode) && exitCode == STILL_ACTIVE;
}

// A running thread of that very process: a thread id of another process would describe the wrong crash.
bool IsThreadActive(DWORD threadId, DWORD processId) {
  const UniqueHandle thread(::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, threadId));
  DWORD exitCode = 0;
  return thread && ::GetExitCodeThread(thread.get(), &exitCode) && exitCode == STILL_ACTIVE &&
         ::GetProcessIdOfThread(thread.get()) == processId;
}

// Decodes into a buffer as large as the text (Base64 never grows), then keeps what fits the record.
bool DecodeInto(const std::string& base64, void* record, size_t recordSize) {
  std::vector<unsigned char> decoded(base64.size());
  size_t count = decoded.size();
  if (!DecodeBase64(base64, decoded.data(), count)) return false;
  if (count != 0) std::memcpy(record, decoded.data(), std::min(count, recordSize));
  return true;
}

// A folder path that names a plain file (or nothing) cannot take the report or the dump: writing the other
// file alone would leave half a report behind.
bool IsUsableFolder(const std::wstring& path) {
  if (path.empty()) return false;
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The classic file APIs, here and in the commands that later rename the files, take paths of at most
// MAX_PATH - 1 characters. A file must fit under the longest name it will carry, or its report would stop
// half-way through its states.
bool FitsClassicPathLimit(const std::wstring& path, const wchar_t* longestLaterSuffix) {
  return path.size() + std::wcslen(longestLaterSuffix) < MAX_PATH;
}

std::string ToThreadAnsi(const std::wstring& text) { return NarrowToCodePage(text, CP_THREAD_ACP); }

// A crash data text (the sender's ANSI code page) as whole characters of the document's code page. A value
// cut inside a double-byte character would otherwise take the next markup byte as its second half.
std::string ToDocumentText(const std::string& value) {
  return ToThreadAnsi(WidenFromCodePage(value, CP_ACP));
}

// The narrow crash data texts that go into the document, each made whole characters, in place: the stack
// text may be megabytes.
void MakeDocumentTexts(CrashData& crashData) {
  for (std::string* field :
       {&crashData.ProductName, &crashData.ProductVersion, &crashData.ProductBuild,
        &crashData.ApplicationLocale, &crashData.StarlumeSessionId, &crashData.SolvaneConfigGuid,
        &crashData.ZanUserGuid, &crashData.KXSource, &crashData.SignalType, &crashData.StackTrace,
        &crashData.SLLogSessionDllStatus, &crashData.CppExceptionType, &crashData.CppExceptionWhat}) {
    *field = ToDocumentText(*field);
  }
}

CrashReportHeader HeaderOf(const CrashData& crashData) {
  CrashReportHeader header;
  header.applicationName = crashData.ProductName;
  header.applicationVersion = crashData.ProductVersion;
  header.build = crashData.ProductBuild;
  header.source = crashData.KXSource;
  header.crashType = crashData.SignalType;
  return header;
}

void AppendIfNotEmpty(std::string& document, const char* element, const std::string& text) {
  if (!text.empty()) document += FormatTextElement(element, text);
}

// Values in the ANSI code page would make the document unreadable to parsers that expect UTF-8; as character
// references they read back the same everywhere.
std::string AsDocumentBytes(std::string document) {
  const std::wstring wide = WidenFromCodePage(document, CP_THREAD_ACP);
  if (wide.empty()) return document;
  std::string().swap(document);  // freed before the ASCII copy is made: the document may be megabytes
  return AsciiWithCharacterReferences(wide);
}

// The elements of what the application added (capture reason, annotations, attachments), pure ASCII: they
// hold UTF-8 texts, which the document's code page conversion must not touch.
std::string ApplicationParts(CrashData& crashData, const std::vector<AttachmentOutcome>& attachments) {
  std::string parts;
  if (crashData.SignalType == "captured") parts += FormatCapturedElement(crashData.CaptureReason);
  if (crashData.CrashLoop > 0) parts += FormatCrashLoopElement(crashData.CrashLoop);
  if (crashData.HeldBackReports > 0) parts += FormatHeldBackElement(crashData.HeldBackReports);
  const bool omitted = KeepAnnotationsWithinBounds(crashData.Annotations);
  std::string note = crashData.AnnotationsNote == "busy" ? "busy" : "";
  if (omitted && note.empty()) note = "over-bounds";
  if (!crashData.Annotations.empty() || !note.empty())
    parts += FormatAnnotationsElement(crashData.Annotations, note);
  if (!attachments.empty()) parts += FormatAttachmentsElement(attachments);
  return parts;
}

}  // namespace

int FetchDumpPreference(const std::string& pvbKey) {
  std::string text = "0";
  if (const std::optional<std::wstring> stored =
          PreferenceStore::ReadPreference(WidenFromCodePage(pvbKey, CP_ACP))) {
    text = NarrowToCodePage(*stored, CP_THREAD_ACP);
  }
  std::vector<std::string> fields;
  SplitText(text, "_", fields);
  if (fields.empty()) return 0;
  const std::int64_t value = ReadLeadingInteger(fields.front()).value_or(0);
  return static_cast<int>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

CrashFilesResult CrashFilesWriter::Write(CrashData crashData, ReportProbes& probes) {
  log_.Start();
  const CrashFilesResult result = WriteSteps(crashData, probes);
  log_.Close();
  return result;
}

CrashFilesResult CrashFilesWriter::WriteSteps(CrashData& crashData, ReportProbes& probes) {
  log_.Line("Inside GenerateCrashLog");
  log_.Line("Stack Trace: ", AnsiText{crashData.StackTrace});
  log_.Line("Process Id: ", LogNumber{crashData.ProcessId});
  log_.Line("Thread Id: ", LogNumber{crashData.ThreadId});

  // Held for the whole run: the crashed process and thread must stay openable while the dump is written.
  UniqueHandle process;
  UniqueHandle thread;
  const CrashFilesResult opened = OpenCrashedProcessAndThread(crashData, process, thread);
  if (opened != CrashFilesResult::kWritten) return opened;

  CrashContext crash;
  if (!DecodeCrashContext(crashData, crash)) return CrashFilesResult::kUndecodableContext;

  // These names come from another process and are joined into paths.
  if (!IsUsableFileName(crashData.LogFileName) || !IsUsableFileName(crashData.DumpFileName)) {
    log_.Line("LogFileName or DumpFileName is empty or not a plain file name, no crash log written");
    return CrashFilesResult::kUnusableFileName;
  }

  log_.Line("Going to detect log directory");
  const std::wstring crashLogFolder = StoragePaths::CrashLogFolder();
  const std::wstring dumpFolder = StoragePaths::DumpFolder();
  if (!IsUsableFolder(crashLogFolder)) {
    log_.Line("Unable to find log directory");
    return CrashFilesResult::kNoCrashLogFolder;
  }
  log_.Line("Log directory detected ", crashData.LogFileName);
  if (!IsUsableFolder(dumpFolder)) {
    log_.Line("Unable to find dump directory");
    return CrashFilesResult::kNoDumpFolder;
  }
  log_.Line("Dump directory detected ", crashData.DumpFileName);

  const std::wstring reportStem = crashLogFolder + L"\\" + crashData.LogFileName;
  const std::wstring reportPath = reportStem + kReportSuffix;
  log_.Line("FileName is ", reportPath);
  log_.Line("Going to insert doctypetag");

  const std::string pvbKey =
      MakePvbKey(crashData.ProductName, crashData.ProductVersion, crashData.ProductBuild);
  log_.Line("Going to fetch dump preference for pvb: ", AnsiText{pvbKey});
  const int dumpPreference = FetchDumpPreference(pvbKey);
  const std::wstring dumpPath =
      dumpFolder + L"\\" + crashData.DumpFileName + (dumpPreference == 1 ? kFullDumpSuffix : kMiniDumpSuffix);
  log_.Line("Fetched preference for the pvb is :", LogInteger{dumpPreference});
  // Checked before either file is written: a dump without its report would be found by no later command.
  if (!FitsClassicPathLimit(reportStem, kDumpAttachedReportSuffix) ||
      !FitsClassicPathLimit(dumpPath, kFinalSuffix)) {
    log_.Line("LogFileName or DumpFileName makes a path longer than MAX_PATH, no crash log written");
    return CrashFilesResult::kUnusableFileName;
  }

  // Cut before the code page conversion, which makes a character cut in half whole again (or drops it).
  for (std::string* text : {&crashData.CppExceptionType, &crashData.CppExceptionWhat})
    text->resize(std::min(text->size(), kMaxCppExceptionText));
  MakeDocumentTexts(crashData);
  const std::vector<AttachmentOutcome> attachments =
      CopyAttachments(crashData.Attachments, crashLogFolder, crashData.LogFileName);
  if (!attachments.empty())
    log_.Line("Attachments copied: ", LogNumber{static_cast<std::uint32_t>(attachments.size())});
  const std::string parts = ApplicationParts(crashData, attachments);
  if (!WriteReport(reportPath, AssembleDocument(crashData, crash, dumpPreference, dumpPath, parts, probes))) {
    // No later command would send the dump or the attachments without their report; they would only fill
    // the disk.
    ::_wremove(dumpPath.c_str());
    RemoveAttachmentCopies(attachments, crashLogFolder);
  }
  log_.Line("log generated");
  return CrashFilesResult::kWritten;
}

CrashFilesResult CrashFilesWriter::OpenCrashedProcessAndThread(const CrashData& crashData,
                                                              UniqueHandle& process, UniqueHandle& thread) {
  // Dumping itself would freeze the dumper: the message cannot be about this process.
  if (crashData.ProcessId == ::GetCurrentProcessId()) {
    log_.Line("The crash data names the service's own process, no crash log generated");
    return CrashFilesResult::kProcessNotActive;
  }
  if (!IsProcessActive(crashData.ProcessId)) {
    log_.Line("Process not active with ID ", LogNumber{crashData.ProcessId});
    return CrashFilesResult::kProcessNotActive;
  }
  if (!IsThreadActive(crashData.ThreadId, crashData.ProcessId)) {
    log_.Line("Thread not active with ID ", LogNumber{crashData.ThreadId});
    return CrashFilesResult::kThreadNotActive;
  }
  process.reset(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, crashData.ProcessId));
  if (!process) {
    log_.Line("Unable to query process");
    return CrashFilesResult::kProcessNotActive;
  }
  thread.reset(::OpenThread(THREAD_ALL_ACCESS, FALSE, crashData.ThreadId));
  if (!thread) {
    log_.Line("Unable to query thread");
    return CrashFilesResult::kThreadNotActive;
  }
  return CrashFilesResult::kWritten;
}

bool CrashFilesWriter::DecodeCrashContext(const CrashData& crashData, CrashContext& crash) {
  if (!DecodeInto(crashData.Context, crash.context.get(), sizeof(CONTEXT))) {
    log_.Line("Unable to decode context");
    return false;
  }
  if (!DecodeInto(crashData.ExceptionInfo, &crash.record, sizeof(crash.record))) {
    log_.Line("Unable to decode exception info");
    return false;
  }
  // The record comes from another process: the debug-help library copies this many parameters into an
  // array of EXCEPTION_MAXIMUM_PARAMETERS, so more must never reach it.
  crash.record.NumberParameters =
      std::min<DWORD>(crash.record.NumberParameters, EXCEPTION_MAXIMUM_PARAMETERS);
  crash.pointers.ExceptionRecord = &crash.record;
  crash.pointers.ContextRecord = crash.context.get();
  log_.Line("Fetched Context and ExceptionInfo");
  return true;
}

std::string CrashFilesWriter::AssembleDocument(CrashData& crashData, CrashContext& crash, int dumpPreference,
                                             const std::wstring& dumpPath,
                                             const std::string& applicationParts, ReportProbes& probes) {
  // Built in three parts, in document order; the system and gpu elements between the first two come from
  // the probes, collected once the dump is written.
  std::string head = kXmlPrologLine;
  head += kDocTypeLine;
  log_.Line("Start tag ");
  head += FormatCrashReportTag(HeaderOf(crashData));
  head += FormatTimeTag();
  log_.Line("usertag");
  head += FormatUserTag(ToThreadAnsi(crashData.LogFileName));

  const EXCEPTION_RECORD& record = crash.record;
  std::string body =
      FormatCrashTag(record.ExceptionCode, reinterpret_cast<std::uintptr_t>(record.ExceptionAddress));
  body += kBacktraceStartLine;
  body += FormatThreadElement(crashData.StackTrace);
  std::string().swap(crashData.StackTrace);  // not held twice while the dump is written
  log_.Line("Stacktrace");
  log_.Line("thread tag");
  body += kBacktraceEndLine;
  log_.Line("backtrace end tag");

  log_.Line("register start tag");
  body += kRegisterSetStartLine;
  log_.Line("AppendRegister tags ");
  AppendRegisterTags(body, RegisterValuesFromContext(*crash.context));
  log_.Line("append register tags complete");
  body += kRegisterSetEndLines;

  log_.Line("binary image tag");
  body += kBinaryImageSetStartLine;
  log_.Line("going to generate dump");
  std::wstring moduleLines;
  // Whether the dump succeeded is in the log; the report is completed either way and names the preference.
  // The crash-loop guard keeps no dump, only its module list.
  const bool keepDump = crashData.CrashLoop == 0;
  WriteDump(crashData.ProcessId, crashData.ThreadId, dumpPath, &crash.pointers, dumpPreference,
                moduleLines, keepDump);
  log_.Line("write binaries");
  body += ToThreadAnsi(moduleLines);
  body += kBinaryImageSetEndLine;

  body += FormatTextElement("dumpType", DumpTypeName(dumpPreference));
  log_.Line("Dump Type");
  body += FormatTextElement("slLogSessionDllStatus", crashData.SLLogSessionDllStatus);
  if (!crashData.CppExceptionType.empty())
    body += FormatCppExceptionElement(crashData.CppExceptionType, crashData.CppExceptionWhat);
  body += applicationParts;
  body += kCrashEndLines;
  AppendIfNotEmpty(body, "sessionId", crashData.StarlumeSessionId);
  AppendIfNotEmpty(body, "solvaneConfigGuid", crashData.SolvaneConfigGuid);
  AppendIfNotEmpty(body, "zanUserGuid", crashData.ZanUserGuid);
  body += kCrashReportEnd;

  std::string document;
  document.reserve(head.size() + body.size() + 4096);
  document += head;
  document += FormatSystemTag(BuildSystemValues(probes.SystemFactsFor(crashData.ApplicationLocale)));
  document += kGpuStartLine;
  document += ToThreadAnsi(probes.GpuLines());
  document += kGpuEndLine;
  document += body;
  return document;
}

bool CrashFilesWriter::WriteReport(const std::wstring& reportPath, std::string document) {
  const std::string bytes = AsDocumentBytes(std::move(document));
  // Written whole under a temporary name and then moved over the report's name (one crash, one document: a
  // report of the same name is replaced), so a full disk or a run stopped midway never leaves a cut document
  // for sendlog to finish. Text mode stores each "\n" as CR LF.
  const std::wstring temporary = reportPath + kWritingSuffix;
  UniqueCrtFile report(::_wfsopen(temporary.c_str(), L"w", _SH_DENYNO));
  bool written = report && std::fwrite(bytes.data(), 1, bytes.size(), report.get()) == bytes.size();
  if (report && std::fclose(report.release()) != 0) written = false;
  if (written && !::MoveFileExW(temporary.c_str(), reportPath.c_str(), MOVEFILE_REPLACE_EXISTING))
    written = false;
  if (!written) {
    ::_wremove(temporary.c_str());
    log_.Line("Unable to write the crash log file ", reportPath);
  }
  return written;
}

}  // namespace kx

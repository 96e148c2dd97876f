#include "app/send_discard.h"

#include <windows.h>

#include <share.h>

#include <cstdio>
#include <cwchar>
#include <optional>

#include "common/file_presence.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "dispatch/report_closing.h"
#include "dispatch/report_file_set.h"
#include "dispatch/report_names.h"
#include "prefs/preference_store.h"

namespace kx {
namespace {

// The report's located names; nothing when the state of its files cannot be told.
struct LocatedReport {
  std::wstring report;
  std::wstring dump;
};

std::optional<LocatedReport> Locate(const std::wstring& guid, const std::wstring& crashIdentifier) {
  std::optional<std::wstring> dump = ReportFileSet::GetDumpFilePath(guid, crashIdentifier);
  std::optional<std::wstring> report = ReportFileSet::GetCrashLogFilePath(guid, crashIdentifier);
  if (!dump || !report) return std::nullopt;
  return LocatedReport{std::move(*report), std::move(*dump)};
}

// The command line was narrowed with the thread's code page; the same code page gives the word back.
std::wstring WideIdentifier(const std::string& crashIdentifier) {
  return WidenFromCodePage(crashIdentifier, CP_THREAD_ACP);
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  UniqueCrtFile file(::_wfsopen(path.c_str(), L"wb", _SH_DENYNO));
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  return std::fclose(file.release()) == 0 && written;
}

// Writes the closed document beside the original and moves it to the final name; the original goes only
// once the final document is in place. True when the report is finished: now, or by an earlier run.
bool FinishDocument(const std::wstring& report, const std::wstring& finalReport, bool dumpAttached) {
  const std::wstring text = ReportFileSet::ReadFileContents(report);
  // No document (or nothing in it): nothing to finish, unless an earlier run finished it already.
  if (text.empty()) return TestPresence(finalReport) == Presence::kPresent;
  const std::string closed = CloseReportDocument(text, dumpAttached);
  const std::wstring temporary = report + kClosingSuffix;
  if (!WriteWholeFile(temporary, closed)) {
    ::_wremove(temporary.c_str());
    return false;
  }
  if (::_wrename(temporary.c_str(), finalReport.c_str()) != 0) {
    ::_wremove(temporary.c_str());
    // A run stopped between the move and the removal left the original beside its own final document.
    // Any other final document of that name stays as it was, and so does the original.
    if (ReadSharedFile(finalReport) != closed) return false;
  }
  ::_wremove(report.c_str());
  return true;
}

}  // namespace

void SendReport(const std::string& crashIdentifier) {
  if (StoragePaths::CrashLogFolder().empty()) return;
  const std::wstring guid = PreferenceStore::GetInstallationGuid();
  const std::wstring identifier = WideIdentifier(crashIdentifier);

  const std::optional<LocatedReport> located = Locate(guid, identifier);
  if (!located) return;
  const bool dumpAttached = located->report.find(kDumpAttachedReportSuffix) != std::wstring::npos;
  const std::wstring finalReport = ReportFileSet::GetFinalCrashLogFilePath(guid, identifier);
  const std::optional<std::wstring> finalDump = ReportFileSet::GetFinalDumpFilePath(guid, identifier);
  if (!finalDump) return;

  // A dump goes out only with its report; one without (left by a createdump stopped midway) may be cut
  // short, and stays for dontsend. _wrename never replaces an existing file: a dump finished before stays.
  if (FinishDocument(located->report, finalReport, dumpAttached)) {
    ::_wrename(located->dump.c_str(), finalDump->c_str());
    // Attachments too travel only with their report; a half copy (".writing") never does.
    for (const ReportFileSet::Attachment& attachment : ReportFileSet::ListAttachments(guid, identifier)) {
      if (attachment.state == AttachmentFileState::kCopy)
        ::_wrename(attachment.path.c_str(), (attachment.path + kFinalSuffix).c_str());
    }
  }
}

void DiscardReport(const std::string& crashIdentifier) {
  const std::wstring guid = PreferenceStore::GetInstallationGuid();
  const std::wstring identifier = WideIdentifier(crashIdentifier);
  const std::optional<LocatedReport> located = Locate(guid, identifier);
  if (!located) return;
  ::_wremove(located->dump.c_str());
  ::_wremove(located->report.c_str());
  for (const ReportFileSet::Attachment& attachment : ReportFileSet::ListAttachments(guid, identifier)) {
    if (attachment.state != AttachmentFileState::kFinal) ::_wremove(attachment.path.c_str());
  }
  // A createdump or sendlog stopped midway leaves its temporary copy; nothing else would ever remove it.
  const std::wstring finalReport = ReportFileSet::GetFinalCrashLogFilePath(guid, identifier);
  if (finalReport.empty()) return;
  const std::wstring stem = finalReport.substr(0, finalReport.size() - std::wcslen(kFinalSuffix));
  for (const wchar_t* state : {kReportSuffix, kDumpAttachedReportSuffix}) {
    for (const wchar_t* temporary : {kWritingSuffix, kClosingSuffix}) {
      ::_wremove((stem + state + temporary).c_str());
    }
  }
}

}  // namespace kx

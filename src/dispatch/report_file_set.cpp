#include "dispatch/report_file_set.h"

#include <windows.h>

#include "common/file_presence.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "dispatch/report_names.h"

namespace kx {
namespace {

// folder + "\" + stem + probeSuffix when that exists, otherwise folder + "\" + stem + otherSuffix.
std::optional<std::wstring> Locate(const std::wstring& folder, const std::wstring& stem,
                                   const wchar_t* probeSuffix, const wchar_t* otherSuffix) {
  if (folder.empty()) return std::wstring();
  const std::wstring stemPath = folder + L"\\" + stem;
  const std::wstring probe = stemPath + probeSuffix;
  switch (TestPresence(probe)) {
    case Presence::kPresent: return probe;
    case Presence::kAbsent: return stemPath + otherSuffix;
    case Presence::kUnknown: break;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::wstring> ReportFileSet::GetCrashLogFilePath(const std::wstring& guid,
                                                               const std::wstring& crashIdentifier) {
  return Locate(StoragePaths::CrashLogFolder(), ReportStem(guid, crashIdentifier), kReportSuffix,
                kDumpAttachedReportSuffix);
}

std::wstring ReportFileSet::GetFinalCrashLogFilePath(const std::wstring& guid,
                                                     const std::wstring& crashIdentifier) {
  const std::wstring folder = StoragePaths::CrashLogFolder();
  if (folder.empty()) return folder;
  return folder + L"\\" + ReportStem(guid, crashIdentifier) + kFinalSuffix;
}

std::optional<std::wstring> ReportFileSet::GetDumpFilePath(const std::wstring& guid,
                                                           const std::wstring& crashIdentifier) {
  return Locate(StoragePaths::DumpFolder(), DumpStem(guid, crashIdentifier), kMiniDumpSuffix,
                kFullDumpSuffix);
}

std::optional<std::wstring> ReportFileSet::GetFinalDumpFilePath(const std::wstring& guid,
                                                                const std::wstring& crashIdentifier) {
  std::optional<std::wstring> path = GetDumpFilePath(guid, crashIdentifier);
  if (path && !path->empty()) *path += kFinalSuffix;
  return path;
}

std::vector<ReportFileSet::Attachment> ReportFileSet::ListAttachments(const std::wstring& guid,
                                                                      const std::wstring& crashIdentifier) {
  std::vector<Attachment> attachments;
  const std::wstring folder = StoragePaths::CrashLogFolder();
  if (folder.empty()) return attachments;
  const std::wstring stem = ReportStem(guid, crashIdentifier);
  WIN32_FIND_DATAW found = {};
  // The pattern only narrows the listing (it also matches short names); the name rule decides.
  const UniqueFindHandle find(::FindFirstFileW((folder + L"\\" + stem + L".att*").c_str(), &found));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &found) != FALSE) {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    const AttachmentFileState state = AttachmentStateOf(stem, found.cFileName);
    if (state != AttachmentFileState::kNone) attachments.push_back({folder + L"\\" + found.cFileName, state});
  }
  return attachments;
}

std::wstring ReportFileSet::ReadFileContents(const std::wstring& path) {
  // The bytes with the text-mode line ends applied by hand: the same text, without the C runtime's habit of
  // ending a text-mode read at a Ctrl-Z byte.
  return WidenTextModeBytes(ReadSharedFile(path).value_or(std::string()));
}

}  // namespace kx

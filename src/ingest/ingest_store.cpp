#include "ingest/ingest_store.h"

#include <windows.h>

#include <shlwapi.h>

#include <stdexcept>

#include "common/file_presence.h"
#include "common/shared_file.h"
#include "common/storage_paths.h"
#include "common/text_convert.h"
#include "common/win_handles.h"

namespace kx {
namespace {

ULONGLONG Ticks(const FILETIME& time) {
  return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

}  // namespace

bool ListIngestFiles(const std::wstring& folder, std::vector<std::wstring>& files) {
  files.clear();
  if (!::PathIsDirectoryW(folder.c_str())) return false;
  WIN32_FIND_DATAW found = {};
  const UniqueFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &found));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &found) != FALSE) {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      files.push_back(folder + L"\\" + found.cFileName);
  }
  return true;
}

bool IsExpiredIngestFile(const std::wstring& path) {
  const AgeRule rule = AgeRuleOf(NarrowToCodePage(path, CP_UTF8));
  if (rule == AgeRule::kNone) return false;
  FILETIME now = {};
  ::GetSystemTimeAsFileTime(&now);
  // Read sharing only: a file another program is still writing is not aged out under its feet.
  const UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  FILETIME created = {};
  if (!file || !::GetFileTime(file.get(), &created, nullptr, nullptr)) return false;
  return Ticks(created) + AgeLimitOf(rule) < Ticks(now);
}

bool DeleteIngestFile(const std::wstring& path) {
  if (!::PathFileExistsW(path.c_str())) return true;
  return ::DeleteFileW(path.c_str()) != FALSE;
}

EventEntries ReadEventFile(const std::wstring& path) {
  return ParseEventFile(ReadSharedFile(path).value_or(std::string()));
}

std::wstring ExistingIngestFolder() {
  const std::wstring folder = StoragePaths::IngestFolder();
  if (folder.empty()) return folder;
  switch (TestPresence(folder)) {
    case Presence::kPresent: return folder;
    case Presence::kAbsent: return {};
    case Presence::kUnknown: break;
  }
  throw std::runtime_error("the ingest folder's existence cannot be told");
}

void PurgeExpiredIngestFiles() {
  const std::wstring folder = ExistingIngestFolder();
  if (folder.empty()) return;
  std::vector<std::wstring> files;
  ListIngestFiles(folder, files);
  for (const std::wstring& path : files) {
    if (IsExpiredIngestFile(path)) DeleteIngestFile(path);
  }
}

}  // namespace kx

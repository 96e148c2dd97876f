#include "report/attachment_copy.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <vector>

#include "common/own_file.h"
#include "common/text_convert.h"
#include "common/win_handles.h"
#include "dispatch/report_names.h"
#include "intake/crash_data.h"
#include "report/attachment_rules.h"

namespace kx {
namespace {

constexpr DWORD kChunkBytes = 64 * 1024;

// The last component of the path as the application wrote it.
std::string NameBytes(const std::string& utf8Path) {
  const std::size_t slash = utf8Path.find_last_of("\\/");
  return slash == std::string::npos ? utf8Path : utf8Path.substr(slash + 1);
}

bool IsAbsent(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The path the file system gives the handle's object (links resolved); empty when it gives none.
std::wstring ResolvedPathOf(HANDLE handle) {
  const std::wstring normalized = FinalPathNameOf(handle, FILE_NAME_NORMALIZED);
  return normalized.empty() ? FinalPathNameOf(handle, FILE_NAME_OPENED) : normalized;
}

// The file at `path` is the entry the application named, not what a link there leads to. Links on the way to
// its folder are the application's own setting and followed; the file itself must be neither a reparse point
// nor a file with another name elsewhere, and must resolve to its own folder and name: Wine follows a Linux
// symbolic link whatever the open asks and reports the target's attributes, so only its path shows the link.
bool IsTheNamedFile(HANDLE file, const BY_HANDLE_FILE_INFORMATION& info, const std::wstring& path) {
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || info.nNumberOfLinks != 1) return false;
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return false;
  const UniqueFileHandle folder(::CreateFileW(path.substr(0, slash).c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const std::wstring place = folder ? ResolvedPathOf(folder.get()) : std::wstring();
  return !place.empty() && SamePathText(ResolvedPathOf(file), place + L"\\" + path.substr(slash + 1));
}

// Opens the source for reading when it is a regular file; otherwise says why not in `outcome`. Everything
// is asked of the handle: the file checked is the file copied, whatever happens to the path meanwhile.
UniqueFileHandle OpenSource(const std::wstring& path, AttachmentOutcome& outcome) {
  outcome.state = "unreadable";
  if (!IsCopyablePath(path)) return UniqueFileHandle();
  // A folder does not open without a flag never passed here; a link opens as itself where the platform can.
  UniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!file) {
    if (IsAbsent(::GetLastError())) outcome.state = "not-found";
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  if (::GetFileType(file.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return UniqueFileHandle();
  }
  if (!IsTheNamedFile(file.get(), info, path)) {
    outcome.state = "linked";
    return UniqueFileHandle();
  }
  return file;
}

// Copies at most `limit` bytes; false when the copy could not be written whole.
bool CopyBytes(HANDLE source, HANDLE target, std::uint64_t limit, std::uint64_t& copied) {
  std::vector<char> chunk(kChunkBytes);
  copied = 0;
  while (copied < limit) {
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(kChunkBytes, limit - copied));
    DWORD read = 0;
    if (!::ReadFile(source, chunk.data(), want, &read, nullptr)) return false;
    if (read == 0) break;  // the file became shorter since it was measured
    DWORD written = 0;
    if (!::WriteFile(target, chunk.data(), read, &written, nullptr) || written != read) return false;
    copied += read;
  }
  return true;
}

AttachmentOutcome CopyOne(const std::string& utf8Path, std::size_t index, const std::wstring& folder,
                          const std::wstring& reportStem) {
  AttachmentOutcome outcome;
  outcome.name = NameBytes(utf8Path);
  if (index > kMaxAttachments) {
    outcome.state = "skipped";
    return outcome;
  }
  const std::wstring path = WidenFromCodePage(utf8Path, CP_UTF8);
  const UniqueFileHandle source = OpenSource(path, outcome);
  if (!source) return outcome;
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(source.get(), &size)) return outcome;
  // The copy and its temporary name must stay under the classic path limit, as every report file does.
  const std::size_t fixed = folder.size() + 1 + std::wcslen(kWritingSuffix);
  const std::wstring name =
      fixed < MAX_PATH - 1 ? AttachmentFileName(reportStem, index, FileNameOfPath(path), MAX_PATH - 1 - fixed)
                           : std::wstring();
  outcome.state = "not-written";
  if (name.empty()) return outcome;
  const std::wstring target = folder + L"\\" + name;
  const std::wstring temporary = target + kWritingSuffix;
  std::uint64_t copied = 0;
  bool whole = false;
  {
    const UniqueFileHandle copy(::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    whole = copy && CopyBytes(source.get(), copy.get(), kMaxAttachmentBytes, copied);
  }
  // Renamed only when whole: a half copy never carries the name sendlog finishes.
  if (!whole || !::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    ::DeleteFileW(temporary.c_str());
    return outcome;
  }
  const auto original = static_cast<std::uint64_t>(size.QuadPart);
  outcome.state = original > kMaxAttachmentBytes && copied == kMaxAttachmentBytes ? "cut" : "copied";
  outcome.file = NarrowToCodePage(name, CP_UTF8);
  outcome.size = copied;
  outcome.originalSize = original;
  return outcome;
}

}  // namespace

std::vector<AttachmentOutcome> CopyAttachments(const std::vector<std::string>& utf8Paths,
                                               const std::wstring& folder, const std::wstring& reportStem) {
  std::vector<AttachmentOutcome> outcomes;
  for (std::size_t i = 0; i < utf8Paths.size(); ++i)
    outcomes.push_back(CopyOne(utf8Paths[i], i + 1, folder, reportStem));
  return outcomes;
}

void RemoveAttachmentCopies(const std::vector<AttachmentOutcome>& outcomes, const std::wstring& folder) {
  for (const AttachmentOutcome& outcome : outcomes) {
    if (!outcome.file.empty())
      ::DeleteFileW((folder + L"\\" + WidenFromCodePage(outcome.file, CP_UTF8)).c_str());
  }
}

}  // namespace kx

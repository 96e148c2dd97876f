#include "reporter/ticket_file.h"

#include <windows.h>

#include <vector>

#include "common/name_piece.h"
#include "common/own_file.h"
#include "common/storage_paths.h"
#include "common/win_handles.h"
#include "frontend/report_sweep.h"
#include "frontend/stranded_reports.h"

namespace kx {
namespace {

TicketLoad Refused(const std::string& why) {
  TicketLoad load;
  load.read.error = why;
  return load;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD size = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (size == 0) return L"";
  std::wstring full(size, L'\0');
  const DWORD used = ::GetFullPathNameW(path.c_str(), size, full.data(), nullptr);
  if (used == 0 || used >= size) return L"";
  full.resize(used);
  return full;
}

// The folder as the file system resolves it (links on the way followed); empty when it cannot be opened.
std::wstring ResolvedFolder(const std::wstring& folder) {
  UniqueFileHandle handle(::CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!handle) return L"";
  const std::wstring normalized = FinalPathNameOf(handle.get(), FILE_NAME_NORMALIZED);
  return normalized.empty() ? FinalPathNameOf(handle.get(), FILE_NAME_OPENED) : normalized;
}


}  // namespace

TicketLoad TakeTicket(const std::wstring& path) {
  const std::wstring full = FullPath(path);
  const std::size_t slash = full.rfind(L'\\');
  if (slash == std::wstring::npos) return Refused("the ticket path is not a full path");
  const std::wstring name = full.substr(slash + 1);
  const std::wstring crash = CrashIdentifierOfTicket(name);
  if (!IsUsableFileName(name) || crash.empty()) return Refused("not a .ticket file name");
  const std::wstring folder = StoragePaths::ReporterFolder();
  if (folder.empty()) return Refused("the user's storage folder is unavailable");
  const std::wstring own = ResolvedFolder(folder);
  if (own.empty() || !SamePathText(own, ResolvedFolder(full.substr(0, slash))))
    return Refused("the ticket is not in the user's reporter folder");

  OwnFolder place(folder);
  UniqueFileHandle file;
  BY_HANDLE_FILE_INFORMATION info = {};
  const OwnOpen opened = place.Open(name, GENERIC_READ | DELETE, 0, file, info);
  if (opened == OwnOpen::kInUse) return Refused("another reporter holds the ticket");
  if (opened != OwnOpen::kOpened) return Refused("the ticket cannot be opened as a plain file of ours");
  TicketLoad load;
  load.ageSeconds = AgeInSeconds(info.ftLastWriteTime);
  if (info.nFileSizeHigh != 0 || info.nFileSizeLow > kMaxTicketBytes) {
    load.read.error = "the ticket is over 64 KiB";
  } else {
    std::string bytes(info.nFileSizeLow, '\0');
    DWORD read = 0;
    if (!bytes.empty() &&
        (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &read, nullptr) ||
         read != bytes.size())) {
      load.read.error = "the ticket cannot be read (error " + std::to_string(::GetLastError()) + ")";
    } else {
      load.read = ParseTicket(bytes);
    }
  }
  if (!load.read.ticket) {
    // No reporter could ever read it: it goes at once.
    DeleteOpenFile(file.get());
    return load;
  }
  // Marked taken; a ticket of that name already taken stays as it is, held all the same.
  RenameOpenFile(file.get(), folder + L"\\" + crash + kTakenTicketSuffix, false);
  load.held = std::move(file);
  return load;
}

void ReleaseTicket(TicketLoad& load) {
  if (load.held) DeleteOpenFile(load.held.get());
  load.held.reset();
}

}  // namespace kx

#include "dispatch/storage_folder_check.h"

#include <windows.h>

#include <cstddef>

#include "common/own_file.h"
#include "common/win_handles.h"

namespace kx {
namespace {

UniqueFileHandle OpenFolder(const std::wstring& path, DWORD flags) {
  return UniqueFileHandle(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
}

// The place the file system resolves a handle to; the name as opened where it gives no normalized one (some
// network file systems), which is then the same for the parent and the folder.
std::wstring PlaceOf(HANDLE handle) {
  const std::wstring normalized = FinalPathNameOf(handle, FILE_NAME_NORMALIZED);
  return normalized.empty() ? FinalPathNameOf(handle, FILE_NAME_OPENED) : normalized;
}

}  // namespace

std::string StorageFolderRefusal(const std::wstring& path) {
  const std::size_t slash = path.rfind(L'\\');
  if (slash == std::wstring::npos) return "has no parent folder";
  const UniqueFileHandle top = OpenFolder(path.substr(0, slash), 0);
  // The folder itself, not what a link leads to, where the platform can open it so.
  const UniqueFileHandle folder = OpenFolder(path, FILE_FLAG_OPEN_REPARSE_POINT);
  BY_HANDLE_FILE_INFORMATION info = {};
  if (!top || !folder || !::GetFileInformationByHandle(folder.get(), &info)) {
    return "cannot be opened (error " + std::to_string(::GetLastError()) + ")";
  }
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return "is a symbolic link or a junction";
  const std::wstring place = PlaceOf(top.get());
  if (place.empty() || !SamePathText(PlaceOf(folder.get()), place + path.substr(slash))) {
    return "leads elsewhere (a symbolic link on the way)";
  }
  return "";
}

}  // namespace kx

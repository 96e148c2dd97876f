#include "common/own_file.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

namespace kx {

std::wstring FinalPathNameOf(HANDLE handle, DWORD form) {
  std::vector<wchar_t> buffer(MAX_PATH);
  // The platform answers a short buffer with the size it needs; a second round is enough, a third is spare.
  for (int round = 0; round < 3; ++round) {
    const DWORD length =
        ::GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), form);
    if (length == 0) return {};
    if (length < buffer.size()) return std::wstring(buffer.data(), length);
    buffer.assign(length + 1, L'\0');
  }
  return {};
}

namespace {

// The path the file system itself gives the object of a handle, links resolved; empty when it gives none.
// Some network file systems give no normalized name; the name as opened is then the same for the folder and
// for its files.
std::wstring FinalPathOf(HANDLE handle) {
  const std::wstring normalized = FinalPathNameOf(handle, FILE_NAME_NORMALIZED);
  return normalized.empty() ? FinalPathNameOf(handle, FILE_NAME_OPENED) : normalized;
}

}  // namespace

OwnFolder::OwnFolder(std::wstring folder) : folder_(std::move(folder)) {
  const UniqueFileHandle handle(::CreateFileW(folder_.c_str(), FILE_READ_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (handle) finalPath_ = FinalPathOf(handle.get());
}

OwnOpen OwnFolder::Open(const std::wstring& name, DWORD access, DWORD flags, UniqueFileHandle& file,
                        BY_HANDLE_FILE_INFORMATION& info) const {
  file.reset(::CreateFileW((folder_ + L"\\" + name).c_str(), access | FILE_READ_ATTRIBUTES, 0, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr));
  if (!file) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OwnOpen::kGone : OwnOpen::kInUse;
  }
  // The attributes and the link count catch links and second names where the platform reports them. Some
  // (Wine) follow a symbolic link to a file whatever the open asks and report the target's attributes: the
  // final path then names the target, not this folder's entry.
  const bool plain = valid() && ::GetFileInformationByHandle(file.get(), &info) &&
                     !(info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) &&
                     info.nNumberOfLinks == 1 && SamePathText(FinalPathOf(file.get()), finalPath_ + L"\\" + name);
  if (plain) return OwnOpen::kOpened;
  file.reset();
  return OwnOpen::kForeign;
}

bool RenameOpenFile(HANDLE file, const std::wstring& newPath, bool replace) {
  // The structure ends in the name; 64-bit units keep it aligned for its handle member.
  const size_t nameBytes = newPath.size() * sizeof(wchar_t);
  std::vector<std::uint64_t> storage((offsetof(FILE_RENAME_INFO, FileName) + nameBytes + sizeof(wchar_t)) /
                                         sizeof(std::uint64_t) + 1);
  auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(storage.data());
  rename->ReplaceIfExists = replace ? TRUE : FALSE;
  rename->RootDirectory = nullptr;
  rename->FileNameLength = static_cast<DWORD>(nameBytes);
  std::memcpy(rename->FileName, newPath.c_str(), nameBytes + sizeof(wchar_t));
  return ::SetFileInformationByHandle(file, FileRenameInfo, rename,
                                      static_cast<DWORD>(storage.size() * sizeof(std::uint64_t))) != FALSE;
}

bool SamePathText(const std::wstring& a, const std::wstring& b) {
  return ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()),
                                TRUE) == CSTR_EQUAL;
}

bool DeleteOpenFile(HANDLE file) {
  // A read-only file refuses deletion: the attribute goes first (zero times leave the times as they are).
  FILE_BASIC_INFO basic = {};
  if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof(basic)) &&
      (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
    FILE_BASIC_INFO cleared = {};
    cleared.FileAttributes = basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    if (cleared.FileAttributes == 0) cleared.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    ::SetFileInformationByHandle(file, FileBasicInfo, &cleared, sizeof(cleared));
  }
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

}  // namespace kx

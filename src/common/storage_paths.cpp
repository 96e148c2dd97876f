#include "common/storage_paths.h"

#include <shlobj.h>
#include <shlwapi.h>

#include "common/win_handles.h"

namespace kx {
namespace {

// Makes the shell create the roaming folder when it is missing.
constexpr DWORD kKnownFolderCreate = 0x8000;  // KF_FLAG_CREATE

void CreateFolderIfMissing(const std::wstring& path) {
  if (!::PathFileExistsW(path.c_str())) ::SHCreateDirectoryExW(nullptr, path.c_str(), nullptr);
}

std::wstring SubFolder(const wchar_t* suffix) {
  std::wstring path = StoragePaths::Root();
  if (path.empty()) return path;
  path += suffix;
  CreateFolderIfMissing(path);
  return path;
}

}  // namespace

std::wstring StoragePaths::Root() {
  UniqueCoTaskMem<wchar_t> roaming;
  if (::SHGetKnownFolderPath(FOLDERID_RoamingAppData, kKnownFolderCreate, nullptr, roaming.put()) != S_OK) {
    return {};
  }
  // Classic MAX_PATH joining: a root that would not fit is treated as unavailable rather than cut short.
  wchar_t joined[MAX_PATH] = L"";
  if (!::PathAppendW(joined, roaming.get()) || !::PathAppendW(joined, L"\\Orvan\\KXLogs")) return {};
  std::wstring root(joined);
  CreateFolderIfMissing(root);
  return root;
}

std::wstring StoragePaths::CrashLogFolder() { return SubFolder(L"\\crashlogs"); }
std::wstring StoragePaths::DumpFolder() { return SubFolder(L"\\dumps"); }
std::wstring StoragePaths::IngestFolder() { return SubFolder(L"\\ingest"); }
std::wstring StoragePaths::ReporterFolder() { return SubFolder(L"\\reporter"); }

std::wstring StoragePaths::LogFolder() {
  std::wstring path = Root();
  if (!path.empty()) path += L"\\windowsclient";
  return path;
}

}  // namespace kx

#include "dumpinfo/mapped_file.h"

#include <cstdint>

namespace kx {

DWORD MappedFile::Open(const std::wstring& path) {
  file_.reset(::CreateFileW(path.c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return ::GetLastError();
  LARGE_INTEGER size = {};
  if (!::GetFileSizeEx(file_.get(), &size)) return ::GetLastError();
  // One view of the whole file: any size fits on 64-bit Windows; a 32-bit build refuses what it cannot map.
  if (static_cast<unsigned long long>(size.QuadPart) > static_cast<unsigned long long>(SIZE_MAX)) {
    return ERROR_FILE_TOO_LARGE;
  }
  if (size.QuadPart == 0) return 0;
  // While the view exists, Windows refuses to cut the file shorter (ERROR_USER_MAPPED_FILE), so every byte
  // the parser was promised stays readable.
  mapping_.reset(::CreateFileMappingW(file_.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping_) return ::GetLastError();
  view_.reset(::MapViewOfFile(mapping_.get(), FILE_MAP_READ, 0, 0, 0));
  if (!view_) return ::GetLastError();
  bytes_ = std::string_view(static_cast<const char*>(view_.get()), static_cast<std::size_t>(size.QuadPart));
  return 0;
}

}  // namespace kx

#include "common/shared_file.h"

#include <share.h>

#include <cstdio>

#include "common/win_handles.h"

namespace kx {

std::optional<std::string> ReadSharedFile(const std::wstring& path, std::size_t maxBytes) {
  UniqueCrtFile file(::_wfsopen(path.c_str(), L"rb", _SH_DENYNO));
  if (!file) return std::nullopt;
  std::string bytes;
  char chunk[16384];
  for (;;) {
    const size_t read = std::fread(chunk, 1, sizeof(chunk), file.get());
    bytes.append(chunk, read);
    if (bytes.size() > maxBytes) return std::nullopt;
    if (read < sizeof(chunk)) break;
  }
  return bytes;
}

std::optional<std::string> ReadSharedFile(const std::wstring& path) {
  return ReadSharedFile(path, std::string().max_size());
}

unsigned long WriteThenMove(const std::wstring& staging, const std::wstring& path, const std::string& text) {
  bool written = false;
  {
    UniqueFileHandle file(::CreateFileW(staging.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD count = 0;
    written = file &&
              ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &count, nullptr) &&
              count == text.size();
  }
  if (written && ::MoveFileExW(staging.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING))
    return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  ::DeleteFileW(staging.c_str());
  return error == ERROR_SUCCESS ? ERROR_WRITE_FAULT : error;
}

}  // namespace kx

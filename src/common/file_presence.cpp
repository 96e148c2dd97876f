#include "common/file_presence.h"

#include <windows.h>

namespace kx {

Presence TestPresence(const std::wstring& path) {
  if (::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES) return Presence::kPresent;
  switch (::GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_INVALID_NAME: return Presence::kAbsent;
    default: return Presence::kUnknown;
  }
}

}  // namespace kx

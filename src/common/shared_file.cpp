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

}  // namespace kx

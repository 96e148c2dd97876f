#include "prefs/client_config_file.h"

#include <share.h>

#include <cstdio>

#include "common/text_convert.h"
#include "common/win_handles.h"

namespace kx {

ClientConfig ReadClientConfig(const std::wstring& clientDirectory) {
  const std::wstring path = clientDirectory + L"\\" + kClientConfigFileName;
  ClientConfigReader reader;
  // Text mode: CR LF arrives as LF, as the line rules expect.
  UniqueCrtFile file(::_wfsopen(path.c_str(), L"r", _SH_DENYNO));
  if (!file) return reader.Finish();
  char chunk[4096];
  for (;;) {
    const size_t read = std::fread(chunk, 1, sizeof(chunk), file.get());
    reader.Feed(std::string_view(chunk, read));
    if (read < sizeof(chunk)) break;
  }
  return reader.Finish();
}

std::wstring ConfiguredServerUrl(const ClientConfig& config, std::string_view key, std::wstring_view builtIn) {
  const auto found = config.find(std::string(key));
  if (found == config.end() || found->second.empty()) return std::wstring(builtIn);
  return WidenFromCodePage(found->second, CP_ACP);
}

}  // namespace kx

// The crash's named pipe as both of its ends know it. The front end creates and serves
// "\\.\pipe\orvan_kxclient_" + crash identifier before it starts the service; the service connects as a
// client and reads one message or writes one. A message is narrow text followed by one NUL byte, sent whole
// in a single write, at most kMaxPipeMessageBytes long; there is no length prefix and no reply
// (docs/named-pipe-and-crash-data.md).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

inline constexpr wchar_t kCrashPipeNamePrefix[] = L"\\\\.\\pipe\\orvan_kxclient_";
inline constexpr std::uint32_t kMaxPipeMessageBytes = 10485760;

inline std::wstring CrashPipeName(std::wstring_view crashIdentifier) {
  return kCrashPipeNamePrefix + std::wstring(crashIdentifier);
}

}  // namespace kx

// The client's platform-free naming code works on wide text (Windows file names); the server receives bytes.
// The names it checks are ASCII, so each byte stands for the character of the same value and back.
#pragma once

#include <string>
#include <string_view>

namespace kx::server {

inline std::wstring Widen(std::string_view bytes) {
  std::wstring wide;
  wide.reserve(bytes.size());
  for (const char c : bytes) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

// Each character's low byte: exact for the ASCII literals of the client's names.
inline std::string Narrow(std::wstring_view wide) {
  std::string bytes;
  bytes.reserve(wide.size());
  for (const wchar_t c : wide) bytes.push_back(static_cast<char>(c & 0xFF));
  return bytes;
}

}  // namespace kx::server

// The text widener the tests hand to the JSON document builders: each byte one character, as the Western
// single-byte code page widens these texts.
#pragma once

#include <string>
#include <string_view>

namespace kx::test {

inline std::wstring WidenLatin1(std::string_view narrow) {
  std::wstring wide;
  for (const char c : narrow) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

}  // namespace kx::test

#include "prefs/installation_guid.h"

#include "common/hex_text.h"

namespace kx {
namespace {

constexpr size_t kGuidTextLength = 36;

bool IsHexDigit(wchar_t c) {
  return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsGroupSeparatorPosition(size_t index) {
  return index == 8 || index == 13 || index == 18 || index == 23;
}

}  // namespace

std::wstring FormatInstallationGuid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                                    const std::uint8_t (&data4)[8]) {
  std::wstring text;
  text.reserve(kGuidTextLength);
  AppendHex(text, data1, 8, false);
  text.push_back(L'-');
  AppendHex(text, data2, 4, false);
  text.push_back(L'-');
  AppendHex(text, data3, 4, false);
  text.push_back(L'-');
  for (size_t i = 0; i < 8; ++i) {
    if (i == 2) text.push_back(L'-');
    AppendHex(text, data4[i], 2, false);
  }
  return text;
}

bool IsWellFormedGuid(std::wstring_view text) {
  if (text.size() != kGuidTextLength) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    if (IsGroupSeparatorPosition(i) ? text[i] != L'-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

}  // namespace kx

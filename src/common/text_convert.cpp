#include "common/text_convert.h"

#include <climits>

namespace kx {

std::wstring WidenFromCodePage(std::string_view text, UINT codePage) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int inLength = static_cast<int>(text.size());
  const int needed = ::MultiByteToWideChar(codePage, 0, text.data(), inLength, nullptr, 0);
  if (needed <= 0) return {};
  std::wstring wide(static_cast<size_t>(needed), L'\0');
  const int written = ::MultiByteToWideChar(codePage, 0, text.data(), inLength, wide.data(), needed);
  wide.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return wide;
}

std::string NarrowToCodePage(std::wstring_view text, UINT codePage) {
  if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return {};
  const int inLength = static_cast<int>(text.size());
  const int needed =
      ::WideCharToMultiByte(codePage, 0, text.data(), inLength, nullptr, 0, nullptr, nullptr);
  if (needed <= 0) return {};
  std::string narrow(static_cast<size_t>(needed), '\0');
  const int written = ::WideCharToMultiByte(codePage, 0, text.data(), inLength, narrow.data(), needed,
                                            nullptr, nullptr);
  narrow.resize(written > 0 ? static_cast<size_t>(written) : 0);
  return narrow;
}

std::string ConvertFromUtf8(std::string_view utf8, UINT codePage) {
  return NarrowToCodePage(WidenFromCodePage(utf8, CP_UTF8), codePage);
}

std::optional<std::string> NarrowLosslessly(std::wstring_view text, UINT codePage) {
  std::string narrow = NarrowToCodePage(text, codePage);
  if (WidenFromCodePage(narrow, codePage) != text) return std::nullopt;
  return narrow;
}

}  // namespace kx

#include "net/server_address.h"

namespace kx {
namespace {

bool StartsWithAsciiNoCase(std::wstring_view text, std::wstring_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    wchar_t c = text[i];
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

}  // namespace

std::wstring ServerHostFromValue(std::wstring_view value) {
  for (std::wstring_view scheme : {std::wstring_view(L"https://"), std::wstring_view(L"http://")}) {
    if (StartsWithAsciiNoCase(value, scheme)) {
      value.remove_prefix(scheme.size());
      break;
    }
  }
  value = value.substr(0, value.find_first_of(L"/?#"));
  if (!value.empty() && value.front() == L'[') {
    const size_t close = value.find(L']');
    return std::wstring(close == std::wstring_view::npos ? value : value.substr(0, close + 1));
  }
  return std::wstring(value.substr(0, value.find(L':')));
}

}  // namespace kx

#include "common/name_piece.h"

#include <algorithm>
#include <string>
#include <type_traits>

namespace kx {
namespace {

template <typename Char>
bool IsRefused(Char c) {
  const auto code = static_cast<unsigned long>(static_cast<std::make_unsigned_t<Char>>(c));
  return code < 0x20 || code == 0x7F || code == '\\' || code == '/' || code == ':';
}

template <typename Char>
bool IsPlain(std::basic_string_view<Char> text) {
  return std::none_of(text.begin(), text.end(), [](Char c) { return IsRefused(c); });
}

bool IsReservedDeviceName(std::wstring_view name) {
  std::wstring base(name.substr(0, name.find(L'.')));
  while (!base.empty() && base.back() == L' ') base.pop_back();
  for (wchar_t& c : base) {
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  }
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL" || base == L"CONIN$" ||
      base == L"CONOUT$") {
    return true;
  }
  // COM and LPT with one digit, the superscript digits included.
  if (base.size() != 4 || (base.compare(0, 3, L"COM") != 0 && base.compare(0, 3, L"LPT") != 0)) return false;
  const wchar_t digit = base[3];
  return (digit >= L'0' && digit <= L'9') || digit == L'\u00B9' || digit == L'\u00B2' || digit == L'\u00B3';
}

}  // namespace

bool IsPlainNamePiece(std::string_view text) { return IsPlain(text); }
bool IsPlainNamePiece(std::wstring_view text) { return IsPlain(text); }

bool IsUsableFileName(std::wstring_view name) {
  return !name.empty() && IsPlainNamePiece(name) && name.find_first_of(L"?*<>|\"") == name.npos &&
         !IsReservedDeviceName(name) && name.back() != L'.' && name.back() != L' ';
}

}  // namespace kx

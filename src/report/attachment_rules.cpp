#include "report/attachment_rules.h"

#include <string>

namespace kx {
namespace {

wchar_t Upper(wchar_t c) { return (c >= L'a' && c <= L'z') ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// The system maps these to devices in any folder: "C:\logs\con.txt" opens the console.
bool IsDeviceName(std::wstring_view component) {
  const std::size_t dot = component.find(L'.');
  std::wstring base(component.substr(0, dot));
  while (!base.empty() && (base.back() == L' ' || base.back() == L'.')) base.pop_back();
  for (wchar_t& c : base) c = Upper(c);
  if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
  return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
         base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

std::wstring_view FileNameOfPath(std::wstring_view path) {
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring_view::npos ? path : path.substr(slash + 1);
}

bool IsCopyablePath(std::wstring_view path) {
  std::wstring_view rest;
  const bool drive = path.size() > 3 && Upper(path[0]) >= L'A' && Upper(path[0]) <= L'Z' &&
                     path[1] == L':' && path[2] == L'\\';
  if (drive) {
    rest = path.substr(3);
  } else if (path.size() > 2 && path[0] == L'\\' && path[1] == L'\\' && path[2] != L'.' && path[2] != L'?') {
    rest = path.substr(2);
  } else {
    return false;
  }
  // A stream, or a character no file name can hold (a NUL would even end the path early).
  for (const wchar_t c : rest) {
    if (c < 0x20 || std::wstring_view(L":/<>\"|?*").find(c) != std::wstring_view::npos) return false;
  }
  while (!rest.empty()) {
    const std::size_t end = rest.find(L'\\');
    const std::wstring_view component = rest.substr(0, end);
    if (component.empty() || component == L"." || component == L".." || IsDeviceName(component)) return false;
    if (end == std::wstring_view::npos) break;
    rest.remove_prefix(end + 1);
  }
  return true;
}

}  // namespace kx

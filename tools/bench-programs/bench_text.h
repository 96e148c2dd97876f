// Small helpers the bench programs share: command-line words, crash bytes as hex, medians.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace kx {

inline std::wstring Quoted(const std::wstring& word) { return L"\"" + word + L"\""; }

// Bytes as lower-case hex, the form kx_bare_dump reads its crash from.
inline std::wstring HexOf(const void* bytes, size_t size) {
  static const wchar_t kDigits[] = L"0123456789abcdef";
  std::wstring hex;
  const auto* in = static_cast<const unsigned char*>(bytes);
  for (size_t i = 0; i < size; ++i) {
    hex += kDigits[in[i] >> 4];
    hex += kDigits[in[i] & 15];
  }
  return hex;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace kx

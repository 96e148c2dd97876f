// Hexadecimal digits written by hand, so that narrow and wide texts (report numbers, handles in logs, GUIDs) get
// the same text on every compiler and C runtime.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// Appends `value` in hexadecimal, zero-padded on the left to at least `minDigits` digits.
template <typename Char>
void AppendHex(std::basic_string<Char>& out, std::uint64_t value, int minDigits, bool upperCase) {
  const char* digits = upperCase ? "0123456789ABCDEF" : "0123456789abcdef";
  Char buffer[16];
  int count = 0;
  do {
    buffer[count++] = static_cast<Char>(digits[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  for (int pad = count; pad < minDigits; ++pad) out.push_back(static_cast<Char>('0'));
  while (count > 0) out.push_back(buffer[--count]);
}

// Appends "0x" and `value` as 16 upper-case hexadecimal digits: the form of every address and register.
template <typename Char>
void AppendAddress(std::basic_string<Char>& out, std::uint64_t value) {
  out.push_back(static_cast<Char>('0'));
  out.push_back(static_cast<Char>('x'));
  AppendHex(out, value, 16, true);
}

// `bytes` with every byte but ASCII letters, digits and `plainPunctuation` written as "%XX" (upper case).
inline std::string PercentEncoded(std::string_view bytes, std::string_view plainPunctuation) {
  std::string text;
  text.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                       (byte >= '0' && byte <= '9') || plainPunctuation.find(c) != std::string_view::npos;
    if (plain) {
      text.push_back(c);
    } else {
      text.push_back('%');
      AppendHex(text, byte, 2, true);
    }
  }
  return text;
}

}  // namespace kx

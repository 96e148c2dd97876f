// Hexadecimal digits written and read by hand, so that narrow and wide texts (report numbers, exception codes,
// handles in logs, GUIDs, escapes) get the same text on every compiler and C runtime.
#pragma once

#include <cstddef>
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

// Appends "0x" and a 32-bit code as 8 upper-case hexadecimal digits, "0xC0000005": how exception codes are
// written for people (progress lines, events, tickets, the consent dialog).
template <typename Char>
void AppendHexCode(std::basic_string<Char>& out, std::uint32_t code) {
  out.push_back(static_cast<Char>('0'));
  out.push_back(static_cast<Char>('x'));
  AppendHex(out, code, 8, true);
}

inline std::string HexCode(std::uint32_t code) {
  std::string text;
  AppendHexCode(text, code);
  return text;
}

// The value of one hexadecimal digit of either case; -1 for any other character.
inline int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
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

// The bytes back: each "%" followed by two hexadecimal digits (either case) becomes that byte; a "%" without
// them stands for itself.
inline std::string PercentDecoded(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexDigitValue(text[i + 1]) >= 0 &&
        HexDigitValue(text[i + 2]) >= 0) {
      bytes.push_back(static_cast<char>(HexDigitValue(text[i + 1]) * 16 + HexDigitValue(text[i + 2])));
      i += 2;
    } else {
      bytes.push_back(text[i]);
    }
  }
  return bytes;
}

}  // namespace kx

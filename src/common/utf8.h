// UTF-8 and UTF-16 without any platform call, so that tickets, reports and their readers agree on every
// compiler and C runtime. Well-formed means: no overlong form, no surrogate code point, nothing beyond
// U+10FFFF, and in UTF-16 no surrogate without its partner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kx {

// The code point of the well-formed UTF-8 sequence at the start of `bytes`, and its length; length 0 when
// there is none (ASCII included: the caller handles single bytes itself).
std::uint32_t DecodeUtf8Point(std::string_view bytes, std::size_t& length);

// Appends the UTF-8 form of a code point up to U+10FFFF.
void AppendUtf8(std::string& out, std::uint32_t point);

// The text as well-formed UTF-8 of at most `maxBytes` bytes: each byte that begins no well-formed sequence
// becomes U+FFFD, and the text ends before the first character that would not fit whole.
std::string Utf8Within(std::string_view text, std::size_t maxBytes);

// Nothing when the input is not well-formed.
std::optional<std::string> Utf8FromWide(std::wstring_view wide);
std::optional<std::wstring> WideFromUtf8(std::string_view utf8);

}  // namespace kx

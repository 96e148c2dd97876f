// Text inside JSON strings. The documents this program sends are built by hand; every key and value goes
// through here, so that no odd byte in one field can make the whole document unreadable.
#pragma once

#include <string>
#include <string_view>

namespace kx {

// The inside of a JSON string: '"', '\\' and the control characters escaped, and every character beyond
// 0x7E as \uXXXX (UTF-16 code units), so the result is plain ASCII.
std::string EscapeJsonString(std::wstring_view text);

// How narrow text in an ANSI code page turns into characters: only the platform knows the code page.
using TextWidener = std::wstring (*)(std::string_view narrow);

// EscapeJsonString of the widened text.
std::string EscapeNarrowJsonString(std::string_view narrow, TextWidener widen);

}  // namespace kx

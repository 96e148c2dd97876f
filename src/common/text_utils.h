// Small byte-wise text helpers shared across the program. Narrow strings are bytes in an ANSI code page;
// none of these is multi-byte aware. White space is the "C"-locale set: blank, \t, \n, \v, \f, \r.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/ascii_text.h"

namespace kx {

bool IsCSpace(char c);

// A decimal integer read the way strtol reads one: leading white space skipped, an optional sign, then
// digits; whatever follows the digits is ignored. Nothing when there is no digit. A magnitude beyond 2^32 is
// reported as 2^32 (with its sign), so callers check their own range whatever the width of long.
std::optional<std::int64_t> ReadLeadingInteger(std::string_view text);

// Each UTF-16 code unit replaced by its low 8 bits; the result has the same length.
std::string NarrowByTruncation(std::wstring_view wide);

// A copy without white space at either end.
std::string TrimText(std::string_view text);

// Appends the pieces between occurrences of the delimiter: "a__b" at "_" gives a, "", b; a leading delimiter
// gives an empty first piece; a trailing one gives no empty last piece; an empty text gives no piece.
// An empty delimiter appends the whole text as one piece (when it is not empty).
void SplitText(std::string_view text, std::string_view delimiter, std::vector<std::string>& pieces);

}  // namespace kx

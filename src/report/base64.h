// Lenient Base64 decoding of the crash context texts sent by the front end.
#pragma once

#include <cstddef>
#include <string_view>

namespace kx {

// Decodes the standard alphabet ("A"-"Z", "a"-"z", "0"-"9", "+", "/"); every other byte ("=", blanks, line
// ends) is skipped. Decoding ends with the text or at a zero byte where a new group of four would begin. A
// last group of three characters gives two bytes, of two gives one, of one gives none.
// On entry `count` is the capacity of `out`; on success it is the number of bytes produced. Fails when the
// bytes would not fit: nothing beyond the capacity is written.
bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t& count);

}  // namespace kx

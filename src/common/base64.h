// Base64 of the crash context records: the handler encodes the crashed thread's CONTEXT and EXCEPTION_RECORD,
// the service decodes them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kx {

// Standard Base64 (RFC 4648 alphabet, "=" padding, no line breaks).
std::string EncodeBase64(const void* bytes, std::size_t size);

// Lenient decoding of the standard alphabet ("A"-"Z", "a"-"z", "0"-"9", "+", "/"); every other byte ("=",
// blanks, line ends) is skipped. Decoding ends with the text or at a zero byte where a new group of four
// would begin. A last group of three characters gives two bytes, of two gives one, of one gives none.
// On entry `count` is the capacity of `out`; on success it is the number of bytes produced. Fails when the
// bytes would not fit: nothing beyond the capacity is written.
bool DecodeBase64(std::string_view text, unsigned char* out, std::size_t& count);

}  // namespace kx

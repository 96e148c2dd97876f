// Byte-wise ASCII helpers that never depend on the C library's current locale.
#pragma once

#include <string>

namespace kx {

// Lower-cases the letters A-Z in place, up to the first zero byte; every other byte stays as it is.
void LowerAsciiInPlace(std::string& text);

}  // namespace kx

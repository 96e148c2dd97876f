// The installation GUID's text: 36 characters, 8-4-4-4-12 hexadecimal digits joined by "-", no braces. It is
// part of every report file name, so only text of exactly that layout is trusted from the registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

// Lower-case text of a GUID's fields: data1 as 8 digits, data2 and data3 as 4, then the eight bytes of data4.
std::wstring FormatInstallationGuid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3,
                                    const std::uint8_t (&data4)[8]);

// True when the text is five groups of 8, 4, 4, 4 and 12 digits 0-9, a-f or A-F joined by "-", and nothing else.
bool IsWellFormedGuid(std::wstring_view text);

}  // namespace kx

// The wire format of the crash data message, and its parser. Platform-free: the caller supplies the
// conversion of the two file names, which depends on the thread's code page.
//
// A message is narrow text: records separated by "KX------KX", each record a key and a value separated by
// "KX---KX". Records split like splitText: empty records are skipped and a trailing record separator is
// allowed. A record with no field separator is a key with an empty value; text after a second field
// separator is dropped. Blanks are not trimmed, keys are case-sensitive, the last record of a key wins,
// unknown keys are ignored and missing keys give empty values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "intake/crash_data.h"

namespace kx {

inline constexpr std::string_view kCrashRecordSeparator = "KX------KX";
inline constexpr std::string_view kCrashFieldSeparator = "KX---KX";

// Key -> value of every record of the message; the message ends at its first NUL, as on the pipe.
std::map<std::string, std::string> ReadCrashRecords(std::string_view message);

// A decimal number read as strtol reads it (leading white space, an optional sign, digits; whatever follows
// the digits is ignored) and accepted only inside the 32-bit signed range. A negative number wraps into the
// unsigned result ("-1" gives 4294967295). Nothing when there are no digits or the number is out of range.
std::optional<std::uint32_t> ReadCrashNumber(std::string_view text);

// Brings a file name from the message's bytes to UTF-16.
using FileNameWidener = std::wstring (*)(std::string_view bytes);

// Fills `data` from the message, field by field, ProcessId and ThreadId last and in that order. Returns
// false when either number cannot be read: the fields before it are filled, the rest keep their values,
// and no report can be made from the message.
[[nodiscard]] bool ParseCrashDataMessage(std::string_view message, FileNameWidener widenFileName,
                                         CrashData& data);

}  // namespace kx

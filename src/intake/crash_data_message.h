// The wire format of the crash data message, and its parser. Platform-free: the caller supplies the
// conversion of the two file names, which depends on the thread's code page.
//
// A message is narrow text: records separated by "KX------KX", each record a key and a value separated by
// "KX---KX". Records split like SplitText: empty records are skipped and a trailing record separator is
// allowed. A record with no field separator is a key with an empty value; text after a second field
// separator is dropped. Blanks are not trimmed, keys are case-sensitive, the last record of a key wins,
// unknown keys are ignored and missing keys give empty values.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "intake/crash_data.h"

namespace kx {

inline constexpr std::string_view kCrashRecordSeparator = "KX------KX";
inline constexpr std::string_view kCrashFieldSeparator = "KX---KX";

// The sender's side. One record value made safe for the message: a NUL would end the message early and a
// separator would split the record, so NULs are dropped and the third hyphen of every "KX---" becomes "_",
// counting the "KX" that ends the field separator before the value ("------KX" would otherwise complete a
// record separator).
std::string CrashRecordValue(std::string value);

// Records joined as key, field separator, value, with the record separator between records, each value
// passed through CrashRecordValue. Keys are the sender's own and are not checked. No terminating NUL.
std::string JoinCrashRecords(const std::vector<std::pair<std::string, std::string>>& records);

// Key -> value of every record of the message; the message ends at its first NUL, as on the pipe.
std::map<std::string, std::string> ReadCrashRecords(std::string_view message);

// A decimal number read as strtol reads it (leading white space, an optional sign, digits; whatever follows
// the digits is ignored) and accepted only inside the 32-bit signed range. A negative number wraps into the
// unsigned result ("-1" gives 4294967295). Nothing when there are no digits or the number is out of range.
std::optional<std::uint32_t> ReadCrashNumber(std::string_view text);

// The optional list fields (Annotations, Attachments) and CaptureReason carry any bytes: every byte other
// than an ASCII letter, digit, ".", "_" or "~" is written as "%XX" (upper-case hex), so no value can hold a
// separator, a NUL or a "KX---" and the record passes the sender's value filter unchanged. A list's entries
// are joined by "&"; an annotation is its encoded key, "=" and its encoded value.
std::string EncodeCrashField(std::string_view bytes);
// The bytes back; a "%" not followed by two hex digits stands for itself.
std::string DecodeCrashField(std::string_view text);
std::string EncodeAnnotations(const std::vector<Annotation>& annotations);
std::string EncodeAttachments(const std::vector<std::string>& paths);
// Empty entries are skipped; an entry without "=" is a key with an empty value.
std::vector<Annotation> DecodeAnnotations(std::string_view text);
std::vector<std::string> DecodeAttachments(std::string_view text);
// Leaves out, in order, every annotation with an empty key, a key or value beyond its bound, beyond the
// count, or that would take the total beyond its bound (crash_data.h). True when any was left out.
bool KeepAnnotationsWithinBounds(std::vector<Annotation>& annotations);

// CrashLoop and HeldBackReports are decimal counts; one that does not read, or is negative, is absent (0).

// Brings a file name from the message's bytes to UTF-16.
using FileNameWidener = std::wstring (*)(std::string_view bytes);

// Fills `data` from the message, field by field, ProcessId and ThreadId last and in that order. Returns
// false when either number cannot be read: the fields before it are filled, the rest keep their values,
// and no report can be made from the message.
[[nodiscard]] bool ParseCrashDataMessage(std::string_view message, FileNameWidener widenFileName,
                                         CrashData& data);

}  // namespace kx

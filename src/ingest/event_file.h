// The queue of analytics events: small text files that other programs put into the ingest folder, posted by
// "postingestevent" and removed once the endpoint has accepted them.
//
// Event file: narrow text in the ANSI code page, one "key:value" entry per line. A line is split at its first
// colon, so a value may hold colons; nothing is trimmed; a line without a colon is ignored; a key given twice
// keeps its last value. Lines end with LF or CR LF.
//
// Lock file: the event file's name + ".lck", held open with no sharing by the run that posts the event, for
// the length of the post, and deleted as that open ends (however the run ends).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx {

using EventEntries = std::map<std::string, std::string>;

inline constexpr wchar_t kLockSuffix[] = L".lck";

// An event file of entries in the order given, as a program that queues an event writes it: a line break in
// a value would start a new entry, so CR and LF inside keys or values become blanks.
std::string FormatEventFile(const std::vector<std::pair<std::string, std::string>>& entries);

EventEntries ParseEventFile(std::string_view bytes);

// Which age rule a file falls under, by the first occurrence of ".log" or ".lck" in its full path (as UTF-8):
// only where that first occurrence ends the path. "a.log.log" is under neither rule.
enum class AgeRule { kNone, kEventFile, kLockFile };
AgeRule AgeRuleOf(std::string_view utf8Path);

// How long a file may live under its rule, in 100-nanosecond units: 30 days for an event file, 10 hours for
// a lock file (a lock that outlived its run), 0 for none.
std::uint64_t AgeLimitOf(AgeRule rule);

// A lock file, by name: never taken up as an event.
bool IsLockFileName(std::wstring_view path);

}  // namespace kx

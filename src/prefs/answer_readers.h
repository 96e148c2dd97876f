// Readers of the servers' answers. An answer is the raw response header block: wide text, lines ended by
// CR LF. It is narrowed code unit by code unit (low byte kept) and searched byte-wise; there is no JSON parser.
#pragma once

#include <string>
#include <string_view>

#include "prefs/pvb_key.h"

namespace kx {

// What ExtractHeaderValue gives when no line holds the key.
inline constexpr char kNoHeaderValue[] = "-1";

// The first line (split at LF) that contains the key anywhere, case-sensitively; the text after that line's
// first ":" (the whole line when it has none), without white space at either end. kNoHeaderValue when no
// line holds the key. A present but empty value gives the empty text.
std::string ExtractHeaderValue(std::wstring_view answer, std::string_view key);

// Finds the first line holding "Updated Preferences" and scans what follows that phrase and the one character
// after it (normally the ":") with ScanPreferenceObjects. Does nothing when the answer nowhere contains the
// lower-case text "preferences" or no line holds the phrase.
void ReadUpdatedPreferences(std::wstring_view answer, PreferenceMap& preferences);

// Scans flat objects of quoted strings. Only strings count: they alternate name, value, name, ... in order of
// appearance, with no escapes (a backslash is an ordinary byte). Names and values are lower-cased. Each "}"
// (even one inside a string) ends an object and sets
//   preferences["product;version;build"] = its "preferences" value,
// a missing field counting as empty text. An object without "}" is never stored.
void ScanPreferenceObjects(std::string_view text, PreferenceMap& preferences);

}  // namespace kx

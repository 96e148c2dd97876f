// Per-build dump preferences: the key that names one product build, and the text stored for it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

namespace kx {

// pvb key -> preference text, both narrow text in the ANSI code page, ordered by byte comparison of the keys.
using PreferenceMap = std::map<std::string, std::string>;

// Fields separated by "_"; the first is the dump kind (1 asks for a full dump). Stored for a build the first
// time its preference is asked for.
inline constexpr char kDefaultPreferenceText[] = "0_1_100";
inline constexpr wchar_t kDefaultPreferenceTextWide[] = L"0_1_100";

// The store is bounded: every value is sent back to the preferences server at each synchronisation, so an
// answer naming thousands of builds, or crash data naming ever new products, must not grow it without end.
// A value already stored is always updated; a new one is added only while the store holds fewer than
// kMaxStoredPreferences values and its name is at most kMaxPvbKeyChars characters.
inline constexpr size_t kMaxStoredPreferences = 256;
inline constexpr size_t kMaxPvbKeyChars = 255;
inline bool MayAddPreference(size_t valuesStored, size_t nameChars) {
  return valuesStored < kMaxStoredPreferences && nameChars <= kMaxPvbKeyChars;
}

// product;version;build, lower-cased byte by byte (A-Z only) up to the first zero byte. A name that itself
// holds ";" is not told apart from the separators.
std::string MakePvbKey(std::string_view product, std::string_view version, std::string_view build);

}  // namespace kx

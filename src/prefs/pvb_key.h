// Per-build dump preferences: the key that names one product build, and the text stored for it.
#pragma once

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

// product;version;build, lower-cased byte by byte (A-Z only) up to the first zero byte. A name that itself
// holds ";" is not told apart from the separators.
std::string MakePvbKey(std::string_view product, std::string_view version, std::string_view build);

}  // namespace kx

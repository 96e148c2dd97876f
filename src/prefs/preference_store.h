// Per-user state in the registry under HKEY_CURRENT_USER\Software\Orvan\CommonFiles\:
//   KXLog\ProductPreferences   one REG_SZ value per product build: name = pvb key, data = preference text
//   KXLog, value "GUID"        REG_SZ installation GUID text
// Every operation opens, uses and closes its own key; nothing is cached, and failures are not reported
// outward (reads give nothing or an empty result, writes are skipped). Several processes may touch the same
// values at once: the last writer wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/win_handles.h"
#include "prefs/pvb_key.h"

namespace kx {

class PreferenceStore {
 public:
  // Creates or opens "Software\Orvan\CommonFiles\" + subPath with full access; an empty key on failure.
  static UniqueRegKey OpenCommonFilesKey(std::wstring_view subPath);

  // The preference text stored for the build, up to 254 bytes of UTF-16 with its terminating zero. When the
  // build has no value yet, stores kDefaultPreferenceText for it (if MayAddPreference allows) and gives nothing (the caller's own default,
  // dump kind 0, matches it). Longer data and other failures give nothing and change nothing.
  static std::optional<std::wstring> ReadPreference(const std::wstring& pvbKey);

  // Every stored REG_SZ value that ReadPreference reads, names and texts narrowed with the thread's ANSI
  // code page. A value that is not text, too long to read, or not exactly expressible in the code page is
  // left out, so that writing the map back never changes it. Empty when the key is missing, which is not
  // created here.
  static PreferenceMap ReadAllPreferences();

  // Writes every entry (texts widened with the thread's ANSI code page, names with the system's); a failed
  // write does not stop the others. A name holding a NUL is left out: it would land on the value named by
  // the part before it. Registry names ignore case, so an entry replaces a value of the same name spelled in
  // another case. An entry that would be a new value is left out when MayAddPreference says no. Returns how
  // many entries were left out for that bound.
  static size_t WriteAllPreferences(const PreferenceMap& preferences);

  // The installation GUID, made with CoCreateGuid and stored the first time, then kept for as long as the
  // stored text is well formed (a damaged one is replaced). Empty when the registry cannot be used.
  static std::wstring GetInstallationGuid();
};

}  // namespace kx

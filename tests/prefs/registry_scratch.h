// Test helpers for the program's registry keys, which are fixed: tests clear them before and after use.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace kx::test {

inline constexpr wchar_t kKXLogKey[] = L"Software\\Orvan\\CommonFiles\\KXLog";
inline constexpr wchar_t kProductPreferencesKey[] = L"Software\\Orvan\\CommonFiles\\KXLog\\ProductPreferences";

// Removes HKCU\Software\Orvan\CommonFiles\KXLog with everything below it, on construction and destruction.
class RegistryScratch {
 public:
  RegistryScratch() { Clear(); }
  ~RegistryScratch() { Clear(); }
  RegistryScratch(const RegistryScratch&) = delete;
  RegistryScratch& operator=(const RegistryScratch&) = delete;

  static void Clear() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kKXLogKey); }
};

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;

  bool operator==(const RawValue& other) const { return type == other.type && data == other.data; }
};

bool KeyExists(const wchar_t* path);
// The number of values of the key; nothing when it cannot be opened.
std::optional<DWORD> ValueCount(const wchar_t* path);
std::optional<RawValue> ReadRawValue(const wchar_t* path, const std::wstring& name);
// Creates the key when missing; the data are stored exactly as given.
bool WriteRawValue(const wchar_t* path, const std::wstring& name, DWORD type, const void* data, DWORD bytes);

// REG_SZ data as the registry holds it: the text's UTF-16 units and, when `terminated`, a zero unit.
RawValue TextValue(const std::wstring& text, bool terminated = true);

}  // namespace kx::test

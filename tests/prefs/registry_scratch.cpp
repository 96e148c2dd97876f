#include "registry_scratch.h"

#include "common/win_handles.h"

namespace kx::test {

bool KeyExists(const wchar_t* path) {
  UniqueRegKey key;
  return ::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

std::optional<DWORD> ValueCount(const wchar_t* path) {
  UniqueRegKey key;
  DWORD count = 0;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
      ::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return count;
}

std::optional<RawValue> ReadRawValue(const wchar_t* path, const std::wstring& name) {
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS) return std::nullopt;
  RawValue value;
  DWORD size = 0;
  if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  if (::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

bool WriteRawValue(const wchar_t* path, const std::wstring& name, DWORD type, const void* data, DWORD bytes) {
  UniqueRegKey key;
  return ::RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) ==
             ERROR_SUCCESS &&
         ::RegSetValueExW(key.get(), name.c_str(), 0, type, static_cast<const BYTE*>(data), bytes) ==
             ERROR_SUCCESS;
}

RawValue TextValue(const std::wstring& text, bool terminated) {
  RawValue value;
  value.type = REG_SZ;
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  value.data.assign(bytes, bytes + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t));
  return value;
}

}  // namespace kx::test

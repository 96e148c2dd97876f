#include "prefs/preference_store.h"

#include <algorithm>
#include <vector>

#include "common/text_convert.h"
#include "prefs/installation_guid.h"

namespace kx {
namespace {

constexpr wchar_t kCommonFilesRoot[] = L"Software\\Orvan\\CommonFiles\\";
constexpr wchar_t kPreferencesSubPath[] = L"KXLog\\ProductPreferences";
// The same key as root + kPreferencesSubPath, opened read-only so that enumerating never creates it.
constexpr wchar_t kPreferencesReadPath[] = L"SOFTWARE\\Orvan\\CommonFiles\\KXLog\\ProductPreferences";
constexpr wchar_t kGuidSubPath[] = L"KXLog";
constexpr wchar_t kGuidValueName[] = L"GUID";

// A preference is read into 256 bytes with 255 announced: a longer value fails the query and is left alone.
constexpr size_t kPreferenceBufferChars = 128;
constexpr DWORD kPreferenceAnnouncedBytes = 255;
constexpr size_t kGuidBufferChars = 512;  // 1024 bytes
constexpr DWORD kValueNameChars = 16383;
// Serialises the first creation of the GUID among this user's processes (the service, its transport, the
// application's crash handler): two that both found it missing would each store their own, and the reports
// named by the one overwritten would never be found again.
constexpr wchar_t kGuidMutexName[] = L"Local\\OrvanKXLogInstallationGuid";
constexpr DWORD kGuidMutexWaitMs = 5000;

// Holds the named mutex for its lifetime, when it could be had in time; otherwise goes on without it.
class GuidCreationLock {
 public:
  GuidCreationLock() : mutex_(::CreateMutexW(nullptr, FALSE, kGuidMutexName)) {
    // An abandoned mutex is ours all the same; the registry holds nothing half written.
    const DWORD waited = mutex_ ? ::WaitForSingleObject(mutex_.get(), kGuidMutexWaitMs) : WAIT_FAILED;
    owned_ = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
  }
  ~GuidCreationLock() {
    if (owned_) ::ReleaseMutex(mutex_.get());
  }
  GuidCreationLock(const GuidCreationLock&) = delete;
  GuidCreationLock& operator=(const GuidCreationLock&) = delete;

 private:
  UniqueHandle mutex_;
  bool owned_ = false;
};

// The text of a zero-initialised buffer up to its first zero, never past the buffer's end (the registry
// does not promise a terminating zero).
std::wstring TextOfBuffer(const wchar_t* buffer, size_t capacity) {
  return std::wstring(buffer, std::find(buffer, buffer + capacity, L'\0'));
}

// REG_SZ data with its terminating zero.
bool SetTextValue(HKEY key, const std::wstring& name, const std::wstring& text) {
  const size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  if (bytes > MAXDWORD) return false;
  return ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(bytes)) == ERROR_SUCCESS;
}

// A count that cannot be had is taken as full: nothing is added then.
size_t ValueCount(HKEY key) {
  DWORD count = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
    return kMaxStoredPreferences;
  }
  return count;
}

bool ValueExists(HKEY key, const std::wstring& name) {
  return ::RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr) != ERROR_FILE_NOT_FOUND;
}

}  // namespace

UniqueRegKey PreferenceStore::OpenCommonFilesKey(std::wstring_view subPath) {
  std::wstring path = kCommonFilesRoot;
  path.append(subPath);
  UniqueRegKey key;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS,
                        nullptr, key.put(), nullptr) != ERROR_SUCCESS) {
    key.reset();
  }
  return key;
}

std::optional<std::wstring> PreferenceStore::ReadPreference(const std::wstring& pvbKey) {
  const UniqueRegKey key = OpenCommonFilesKey(kPreferencesSubPath);
  if (!key) return std::nullopt;
  wchar_t buffer[kPreferenceBufferChars] = {};
  DWORD size = kPreferenceAnnouncedBytes;
  const LSTATUS status =
      ::RegQueryValueExW(key.get(), pvbKey.c_str(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
  if (status == ERROR_SUCCESS) return TextOfBuffer(buffer, kPreferenceBufferChars);
  if (status == ERROR_FILE_NOT_FOUND && MayAddPreference(ValueCount(key.get()), pvbKey.size())) {
    SetTextValue(key.get(), pvbKey, kDefaultPreferenceTextWide);
  }
  return std::nullopt;
}

PreferenceMap PreferenceStore::ReadAllPreferences() {
  PreferenceMap preferences;
  UniqueRegKey key;
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, kPreferencesReadPath, 0, KEY_READ, key.put()) != ERROR_SUCCESS) {
    return preferences;
  }
  DWORD valueCount = 0;
  if (::RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                         nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
    return preferences;
  }
  std::vector<wchar_t> name(kValueNameChars);
  for (DWORD index = 0; index < valueCount; ++index) {
    DWORD nameLength = kValueNameChars;
    DWORD type = REG_NONE;
    if (::RegEnumValueW(key.get(), index, name.data(), &nameLength, nullptr, &type, nullptr, nullptr) !=
            ERROR_SUCCESS ||
        type != REG_SZ) {
      continue;
    }
    // A value that cannot be read or narrowed exactly is left out: it would be written back changed.
    const std::wstring wideName(name.data(), std::min<size_t>(nameLength, name.size()));
    const std::optional<std::wstring> text = ReadPreference(wideName);
    if (!text) continue;
    std::optional<std::string> narrowName = NarrowLosslessly(wideName, CP_THREAD_ACP);
    std::optional<std::string> narrowText = NarrowLosslessly(*text, CP_THREAD_ACP);
    if (narrowName && narrowText) preferences[std::move(*narrowName)] = std::move(*narrowText);
  }
  return preferences;
}

size_t PreferenceStore::WriteAllPreferences(const PreferenceMap& preferences) {
  const UniqueRegKey key = OpenCommonFilesKey(kPreferencesSubPath);
  if (!key) return 0;
  size_t stored = ValueCount(key.get());
  size_t leftOut = 0;
  for (const auto& [pvbKey, text] : preferences) {
    const std::wstring name = WidenFromCodePage(pvbKey, CP_ACP);
    // A name that failed to convert would land on the key's default value, and one holding a NUL on the
    // value named by the part before it.
    if ((name.empty() && !pvbKey.empty()) || name.find(L'\0') != std::wstring::npos) continue;
    if (!ValueExists(key.get(), name)) {
      if (!MayAddPreference(stored, name.size())) {
        ++leftOut;
        continue;
      }
      ++stored;
    }
    SetTextValue(key.get(), name, WidenFromCodePage(text, CP_THREAD_ACP));
  }
  return leftOut;
}

std::wstring PreferenceStore::GetInstallationGuid() {
  const UniqueRegKey key = OpenCommonFilesKey(kGuidSubPath);
  if (!key) return {};
  const auto readStored = [&key]() -> std::wstring {
    wchar_t buffer[kGuidBufferChars] = {};
    DWORD size = sizeof(buffer);
    if (::RegQueryValueExW(key.get(), kGuidValueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer),
                           &size) != ERROR_SUCCESS) {
      return {};
    }
    std::wstring stored = TextOfBuffer(buffer, kGuidBufferChars);
    return IsWellFormedGuid(stored) ? stored : std::wstring();
  };
  std::wstring stored = readStored();
  if (!stored.empty()) return stored;
  // Looked at again under the lock: another process may have stored one meanwhile.
  const GuidCreationLock lock;
  stored = readStored();
  if (!stored.empty()) return stored;
  std::wstring text;
  GUID guid = {};
  if (SUCCEEDED(::CoCreateGuid(&guid))) {
    text = FormatInstallationGuid(guid.Data1, guid.Data2, guid.Data3, guid.Data4);
  }
  if (!SetTextValue(key.get(), kGuidValueName, text)) text.clear();
  return text;
}

}  // namespace kx

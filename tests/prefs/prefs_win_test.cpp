// The Win32 half of prefs: the registry's preference store and installation GUID, and the configuration
// file as the platform hands it over. That the store gives back what the server sent is the preference sync
// end-to-end test's.
#include "prefs/client_config_file.h"
#include "prefs/preference_store.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/win_handles.h"
#include "prefs/installation_guid.h"
#include "support/test_files.h"

namespace kx {
namespace {

// The program's registry keys are fixed: each test clears them before and after use.
constexpr wchar_t kKXLogKey[] = L"Software\\Orvan\\CommonFiles\\KXLog";
constexpr wchar_t kProductPreferencesKey[] = L"Software\\Orvan\\CommonFiles\\KXLog\\ProductPreferences";

struct RegistryScratch {
  RegistryScratch() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kKXLogKey); }
  ~RegistryScratch() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kKXLogKey); }
};

struct RawValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
  bool operator==(const RawValue& other) const { return type == other.type && data == other.data; }
};

// REG_SZ data as the registry holds it: the text's UTF-16 units and, when `terminated`, a zero unit.
RawValue TextValue(const std::wstring& text, bool terminated = true) {
  const BYTE* bytes = reinterpret_cast<const BYTE*>(text.c_str());
  return {REG_SZ, std::vector<BYTE>(bytes, bytes + (text.size() + (terminated ? 1 : 0)) * sizeof(wchar_t))};
}

// The value's type and bytes as stored; nothing when it is missing.
std::optional<RawValue> ReadRawValue(const wchar_t* path, const std::wstring& name) {
  UniqueRegKey key;
  RawValue value{REG_NONE, std::vector<BYTE>(4096)};
  DWORD size = static_cast<DWORD>(value.data.size());
  if (::RegOpenKeyExW(HKEY_CURRENT_USER, path, 0, KEY_READ, key.put()) != ERROR_SUCCESS ||
      ::RegQueryValueExW(key.get(), name.c_str(), nullptr, &value.type, value.data.data(), &size) !=
          ERROR_SUCCESS) {
    return std::nullopt;
  }
  value.data.resize(size);
  return value;
}

// Creates the key when missing; the data are stored exactly as given.
void WriteRawValue(const wchar_t* path, const std::wstring& name, const RawValue& value) {
  ASSERT_EQ(ERROR_SUCCESS, ::RegSetKeyValueW(HKEY_CURRENT_USER, path, name.c_str(), value.type,
                                             value.data.data(), static_cast<DWORD>(value.data.size())));
}

// Neither crash data naming ever new products nor a preferences answer naming thousands of builds (all
// sent back at every sync) may grow the store without end: a full store (and a name longer than a value may
// be) gets no new value, but a build already stored is still updated.
TEST(PreferenceStoreTest, AFullStoreTakesNoNewPreferenceButUpdatesStoredOnes) {
  RegistryScratch scratch;
  EXPECT_EQ(std::nullopt, PreferenceStore::ReadPreference(std::wstring(256, L'x')));
  EXPECT_EQ(std::nullopt, ReadRawValue(kProductPreferencesKey, std::wstring(256, L'x')));
  for (int i = 0; i < 250; ++i) {
    WriteRawValue(kProductPreferencesKey, L"p;1;" + std::to_wstring(i), TextValue(L"1"));
  }
  PreferenceMap answered = {{"p;1;0", "2_2_2"}};
  for (int i = 0; i < 3000; ++i) answered["new;1;" + std::to_string(i)] = "1_0_0";
  PreferenceStore::WriteAllPreferences(answered);
  const PreferenceMap stored = PreferenceStore::ReadAllPreferences();
  EXPECT_EQ(256u, stored.size());
  EXPECT_EQ("2_2_2", stored.at("p;1;0"));
  EXPECT_EQ(std::nullopt, PreferenceStore::ReadPreference(L"other;1;1"));
  EXPECT_EQ(std::nullopt, ReadRawValue(kProductPreferencesKey, L"other;1;1"));
}

// Made once, in lower case, by one of many first readers at once (a crash handler and the service start
// together); a well-formed stored one is kept whatever its case, a damaged one replaced. Other processes
// finding the same GUID is proven end to end: every later command finds the files createdump named with it.
TEST(PreferenceStoreTest, TheGuidIsMadeOnceAndKeptUnlessDamaged) {
  RegistryScratch scratch;
  for (int round = 0; round < 20; ++round) {
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kKXLogKey, L"GUID");
    std::vector<std::wstring> seen(8);
    std::vector<std::thread> readers;
    for (std::wstring& one : seen)
      readers.emplace_back([&one] { one = PreferenceStore::GetInstallationGuid(); });
    for (std::thread& reader : readers) reader.join();
    const std::wstring stored = PreferenceStore::GetInstallationGuid();
    ASSERT_TRUE(IsWellFormedGuid(stored) && stored.find_first_of(L"ABCDEF") == std::wstring::npos) << stored;
    ASSERT_EQ(TextValue(stored), ReadRawValue(kKXLogKey, L"GUID"));
    for (const std::wstring& one : seen) ASSERT_EQ(stored, one) << "round " << round;
  }

  const std::wstring upper = L"0A1B2C3D-00E5-F00F-AB01-0203040506FF";
  const std::pair<const char*, RawValue> cases[] = {
      {"upper case, kept", TextValue(upper)},
      {"braces", TextValue(L"{0a1b2c3d-00e5-f00f-ab01-0203040506ff}")},
      {"unterminated, filling the whole buffer", TextValue(std::wstring(512, L'a'), false)},
      {"too long", TextValue(std::wstring(600, L'a'))},
  };
  std::set<std::wstring> seen;
  for (const auto& [name, value] : cases) {
    SCOPED_TRACE(name);
    WriteRawValue(kKXLogKey, L"GUID", value);
    const std::wstring guid = PreferenceStore::GetInstallationGuid();
    EXPECT_TRUE(IsWellFormedGuid(guid));
    EXPECT_TRUE(seen.insert(guid).second);
    EXPECT_EQ(TextValue(guid), ReadRawValue(kKXLogKey, L"GUID"));
    EXPECT_EQ(guid, PreferenceStore::GetInstallationGuid());
  }
  EXPECT_EQ(1u, seen.count(upper));
}

TEST(ClientConfigFileTest, FileIsReadInTextModeWhileOthersHoldItOpenAndAMissingOneIsEmpty) {
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring directory =
      std::wstring(temp) + L"kx-config-" + std::to_wstring(::GetCurrentProcessId());
  std::filesystem::create_directories(directory);
  EXPECT_TRUE(ReadClientConfig(directory).empty());
  EXPECT_TRUE(ReadClientConfig(directory + L"\\no such folder").empty());

  const std::wstring path = directory + L"\\kx_win_client_config.cfg";
  test::WriteFileBytes(path, "\xEF\xBB\xBFkxkxs-url=https://first\r\nKXKXS-PORT = 8443\r\n" +
                                 std::string(3000, 'z') +
                                 "=x\r\nkxcn-url=https://Solutions.Example/a\r\nkxcn-port=70000");
  {
    // Another program holds the file open for writing.
    const UniqueFileHandle writer(::CreateFileW(path.c_str(), GENERIC_WRITE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.valid());
    // CR LF arrives as LF, and the byte-order mark is part of the first key.
    EXPECT_EQ((ClientConfig{{"\xEF\xBB\xBFkxkxs-url", "https://first"},
                            {"kxkxs-port", "8443"},
                            {"kxcn-url", "https://Solutions.Example/a"},
                            {"kxcn-port", "70000"}}),
              ReadClientConfig(directory));
  }
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace kx

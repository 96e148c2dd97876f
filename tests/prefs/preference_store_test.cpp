#include "prefs/preference_store.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/text_utils.h"
#include "prefs/installation_guid.h"
#include "registry_scratch.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx {
namespace {

using test::kKXLogKey;
using test::kProductPreferencesKey;
using test::ReadRawValue;
using test::RegistryScratch;
using test::TextValue;

void WriteText(const wchar_t* path, const std::wstring& name, const std::wstring& text) {
  const test::RawValue value = TextValue(text);
  ASSERT_TRUE(test::WriteRawValue(path, name, REG_SZ, value.data.data(), static_cast<DWORD>(value.data.size())));
}

// Runs the probe program (next to this test) in a process of its own and gives what it wrote.
std::string RunProbe(const std::wstring& command) {
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring output = std::wstring(temp) + L"kx-prefs-probe-" + std::to_wstring(::GetCurrentProcessId());
  ::DeleteFileW(output.c_str());
  const test::ServiceRun run =
      test::RunProgram(test::ThisProgramFolder() + L"\\prefs_probe.exe", command + L" " + test::QuoteWord(output));
  EXPECT_TRUE(run.finished && run.exitCode == 0) << "probe exit code " << run.exitCode;
  const std::string result = test::ReadFileBytes(output).value_or("<no output>");
  ::DeleteFileW(output.c_str());
  return result;
}

TEST(PreferenceStoreTest, MissingKeyIsCreatedOnlyByReadingOnePreference) {
  RegistryScratch scratch;
  EXPECT_TRUE(PreferenceStore::readAllPreferences().empty());
  EXPECT_FALSE(test::KeyExists(kKXLogKey));

  EXPECT_EQ(std::nullopt, PreferenceStore::readPreference(L"appx;1.0;77"));
  // The default text with its terminating zero: (7 + 1) * 2 bytes.
  EXPECT_EQ(TextValue(L"0_1_100"), ReadRawValue(kProductPreferencesKey, L"appx;1.0;77"));
  EXPECT_EQ(std::optional<std::wstring>(L"0_1_100"), PreferenceStore::readPreference(L"appx;1.0;77"));
  EXPECT_EQ((PreferenceMap{{"appx;1.0;77", "0_1_100"}}), PreferenceStore::readAllPreferences());
}

TEST(PreferenceStoreTest, PreferencesOfMoreThan255BytesAreUnreadableAndLeftAlone) {
  RegistryScratch scratch;
  const std::wstring fits(126, L'7');     // 254 bytes with the terminating zero
  const std::wstring tooLong(127, L'8');  // 256 bytes
  WriteText(kProductPreferencesKey, L"fits;1;1", fits);
  WriteText(kProductPreferencesKey, L"long;1;1", tooLong);

  EXPECT_EQ(std::optional<std::wstring>(fits), PreferenceStore::readPreference(L"fits;1;1"));
  EXPECT_EQ(std::nullopt, PreferenceStore::readPreference(L"long;1;1"));
  EXPECT_EQ(TextValue(tooLong), ReadRawValue(kProductPreferencesKey, L"long;1;1"));
  EXPECT_EQ((PreferenceMap{{"fits;1;1", narrowByTruncation(fits)}, {"long;1;1", ""}}),
            PreferenceStore::readAllPreferences());

  // Data stored without a terminating zero still read as the text they hold.
  const std::wstring unterminated(125, L'9');
  ASSERT_TRUE(test::WriteRawValue(kProductPreferencesKey, L"raw;1;1", REG_SZ, unterminated.data(), 250));
  EXPECT_EQ(std::optional<std::wstring>(unterminated), PreferenceStore::readPreference(L"raw;1;1"));
}

TEST(PreferenceStoreTest, WrittenPreferencesReadBackIdentically) {
  RegistryScratch scratch;
  const PreferenceMap written{
      {"appx;1.0;77", "2_1_100"}, {"caf\xE9;2;3", "1_\xE9t\xE9"}, {"empty;1;1", ""}, {"not a pvb key", "x\"y"}};
  PreferenceStore::writeAllPreferences(written);
  EXPECT_EQ(TextValue(L"2_1_100"), ReadRawValue(kProductPreferencesKey, L"appx;1.0;77"));
  EXPECT_EQ(TextValue(L""), ReadRawValue(kProductPreferencesKey, L"empty;1;1"));
  EXPECT_EQ(written, PreferenceStore::readAllPreferences());

  std::string expected;
  for (const auto& [name, text] : written) expected += name + '\t' + text + '\n';
  EXPECT_EQ(expected, RunProbe(L"read-all"));
}

TEST(PreferenceStoreTest, ValueNamesIgnoreCase) {
  RegistryScratch scratch;
  WriteText(kProductPreferencesKey, L"AppX;1.0;77", L"1_0_0");
  EXPECT_EQ(std::optional<std::wstring>(L"1_0_0"), PreferenceStore::readPreference(L"appx;1.0;77"));

  PreferenceStore::writeAllPreferences({{"appx;1.0;77", "2_0_0"}});
  EXPECT_EQ(std::optional<DWORD>(1), test::ValueCount(kProductPreferencesKey));
  EXPECT_EQ(TextValue(L"2_0_0"), ReadRawValue(kProductPreferencesKey, L"APPX;1.0;77"));
}

TEST(PreferenceStoreTest, GuidIsMadeOnceAndSharedByEveryProcess) {
  RegistryScratch scratch;
  // The first use is in another process; this one finds and keeps its GUID.
  const std::string fromProbe = RunProbe(L"guid");
  const std::wstring guid = PreferenceStore::getInstallationGuid();
  EXPECT_EQ(fromProbe, narrowByTruncation(guid));
  EXPECT_TRUE(isWellFormedGuid(guid)) << fromProbe;
  EXPECT_EQ(std::wstring::npos, guid.find_first_of(L"ABCDEF"));
  EXPECT_EQ(TextValue(guid), ReadRawValue(kKXLogKey, L"GUID"));
  EXPECT_EQ(guid, PreferenceStore::getInstallationGuid());
  EXPECT_EQ(fromProbe, RunProbe(L"guid"));
}

TEST(PreferenceStoreTest, UpperCaseGuidIsKeptAndDamagedOnesAreReplaced) {
  RegistryScratch scratch;
  const std::wstring upper = L"0A1B2C3D-00E5-F00F-AB01-0203040506FF";
  WriteText(kKXLogKey, L"GUID", upper);
  EXPECT_EQ(upper, PreferenceStore::getInstallationGuid());
  EXPECT_EQ(TextValue(upper), ReadRawValue(kKXLogKey, L"GUID"));

  struct Damaged {
    const char* name;
    test::RawValue value;
  } cases[] = {
      {"braces", TextValue(L"{0a1b2c3d-00e5-f00f-ab01-0203040506ff}")},
      {"empty", TextValue(L"")},
      {"unterminated, filling the whole buffer", TextValue(std::wstring(512, L'a'), false)},
      {"too long", TextValue(std::wstring(600, L'a'))},
  };
  std::set<std::wstring> seen;
  for (const Damaged& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(test::WriteRawValue(kKXLogKey, L"GUID", c.value.type, c.value.data.data(),
                                    static_cast<DWORD>(c.value.data.size())));
    const std::wstring replaced = PreferenceStore::getInstallationGuid();
    EXPECT_TRUE(isWellFormedGuid(replaced));
    EXPECT_TRUE(seen.insert(replaced).second);
    EXPECT_EQ(TextValue(replaced), ReadRawValue(kKXLogKey, L"GUID"));
    EXPECT_EQ(replaced, PreferenceStore::getInstallationGuid());
  }
}

}  // namespace
}  // namespace kx

#include "prefs/client_config_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/win_handles.h"
#include "support/test_files.h"

namespace kx {
namespace {

TEST(ClientConfigFileTest, FileIsReadInTextModeWhileOthersHoldItOpenAndAMissingOneIsEmpty) {
  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  const std::wstring directory =
      std::wstring(temp) + L"kx-config-" + std::to_wstring(::GetCurrentProcessId());
  std::filesystem::create_directories(directory);
  EXPECT_TRUE(readClientConfig(directory).empty());
  EXPECT_TRUE(readClientConfig(directory + L"\\no such folder").empty());

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
              readClientConfig(directory));
  }
  std::filesystem::remove_all(directory);
}

TEST(ClientConfigUrlTest, ServerUrlIsWidenedWithTheSystemCodePageOrBuiltIn) {
  if (::GetACP() != 1252) GTEST_SKIP() << "the test prefix's ANSI code page is " << ::GetACP();
  const ClientConfig config{{"kxcn-url", "https://caf\x80.example"}, {"kxkxs-url", ""}};
  EXPECT_EQ(L"https://caf\u20AC.example",
            ConfiguredServerUrl(config, kSolutionServerUrlKey, kBuiltInSolutionServerUrl));
  EXPECT_EQ(kBuiltInPreferencesServerUrl,
            ConfiguredServerUrl(config, kPreferencesServerUrlKey, kBuiltInPreferencesServerUrl));
}

}  // namespace
}  // namespace kx

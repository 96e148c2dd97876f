#include "prefs/client_config_file.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/win_handles.h"
#include "support/test_files.h"

namespace kx {
namespace {

class ClientConfigFileTest : public testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH + 1] = L"";
    ::GetTempPathW(MAX_PATH + 1, temp);
    directory_ = std::wstring(temp) + L"kx-config-" + std::to_wstring(::GetCurrentProcessId());
    std::filesystem::remove_all(directory_, ignored_);
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_, ignored_); }

  std::wstring FilePath() const { return directory_ + L"\\kx_win_client_config.cfg"; }

  std::wstring directory_;
  std::error_code ignored_;
};

TEST_F(ClientConfigFileTest, MissingFileGivesEmptyConfiguration) {
  EXPECT_TRUE(readClientConfig(directory_).empty());
  EXPECT_TRUE(readClientConfig(directory_ + L"\\no such folder").empty());
}

TEST_F(ClientConfigFileTest, FileIsReadInTextModeWhileOthersHoldItOpen) {
  const std::string longLine(3000, 'z');
  test::WriteFileBytes(FilePath(),
                       "\xEF\xBB\xBFkxkxs-url=https://first\r\n"
                       "KXKXS-PORT = 8443\r\n" +
                           longLine + "=x\r\n"
                           "kxcn-url=https://Solutions.Example/a\r\n"
                           "kxcn-port=70000");
  // Another program holds the file open for writing.
  const UniqueFileHandle writer(::CreateFileW(FilePath().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.valid());

  // CR LF arrives as LF, and the byte-order mark is part of the first key.
  EXPECT_EQ((ClientConfig{{"\xEF\xBB\xBFkxkxs-url", "https://first"}, {"kxkxs-port", "8443"},
                          {"kxcn-url", "https://Solutions.Example/a"}, {"kxcn-port", "70000"}}),
            readClientConfig(directory_));
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

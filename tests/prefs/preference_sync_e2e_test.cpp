// "updatepvbpreference" end to end: the real service exchanges the registry's dump preferences with a local
// HTTPS preferences server, stores the answer and starts the log transport. That a stored preference gives
// the next crash of its build a full dump is createdump's end-to-end test.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "prefs/preference_store.h"
#include "support/appdata_sandbox.h"
#include "support/https_test_server.h"
#include "support/launch_records.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {
namespace {

constexpr wchar_t kPreferencesKey[] = L"Software\\Orvan\\CommonFiles\\KXLog\\ProductPreferences";
constexpr char kPreferencesPath[] = "/pvb-preferences/win/intel";

void ClearStore() { ::RegDeleteTreeW(HKEY_CURRENT_USER, kPreferencesKey); }

class PreferenceSyncTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ("", server_.failure());
    ClearStore();
    client_ = sandbox_.roaming() + L"\\client";
    std::filesystem::create_directories(client_);
    const std::string port = std::to_string(server_.port());
    WriteFileBytes(client_ + L"\\kx_win_client_config.cfg",
                   "kxkxs-url = https://localhost/\r\nkxkxs-port = " + port + "\r\n");
    // The log transport that every run ends with: the recorder, unsigned, without a check asked for.
    std::filesystem::copy_file(ThisProgramFolder() + L"\\..\\test-transports\\unsigned.exe",
                               client_ + L"\\KXLogTransport.exe");
  }
  void TearDown() override { ClearStore(); }

  void Answer(std::vector<std::string> headerLines) {
    server_.SetAnswer(kPreferencesPath, {TestAnswer::Kind::kAnswer, 200, std::move(headerLines), ""});
  }

  // Runs the command and waits for the transport's two starts that end it.
  void Sync() {
    const size_t launches = ReadLaunches(client_).size();
    EXPECT_TRUE(RunService({client_, L"updatepvbpreference", L"0"}).finished);
    EXPECT_EQ(launches + 2, WaitForLaunchRecords(client_, launches + 2, 30000).size());
  }

  AppDataSandbox sandbox_;
  HttpsTestServer server_;
  std::wstring client_;
};

TEST_F(PreferenceSyncTest, TheServersAnswerIsMergedAndWithoutAStoreNothingIsSent) {
  // That what the store cannot read is neither sent nor touched is the store tests' round trip.
  PreferenceStore::WriteAllPreferences({{"appx;1.0;77", "0_1_100"}, {"kept;2.0;1", "2_0_0"}});
  Answer(
      {"Updated Preferences: [{\"product\": \"AppX\", \"version\": \"1.0\", \"build\": \"77\", "
       "\"preferences\": \"1_2_3\"}, {\"product\": \"New\", \"version\": \"3.1\", \"build\": \"9\", "
       "\"preferences\": \"1_X\"}]"});
  Sync();

  const std::vector<RecordedRequest> requests = server_.Requests();
  ASSERT_EQ(1u, requests.size());
  EXPECT_EQ(kPreferencesPath, requests[0].path);
  EXPECT_EQ(
      "[{\"product\": \"appx\",\"version\" : \"1.0\",\"build\" : \"77\",\"preferences\" : \"0_1_100\"},"
      "{\"product\": \"kept\",\"version\" : \"2.0\",\"build\" : \"1\",\"preferences\" : \"2_0_0\"}]",
      requests[0].body);

  const PreferenceMap merged = {{"appx;1.0;77", "1_2_3"}, {"kept;2.0;1", "2_0_0"}, {"new;3.1;9", "1_x"}};
  EXPECT_EQ(merged, PreferenceStore::ReadAllPreferences());

  // Without an update the store stays; without a store nothing is sent, and no store is made.
  Answer({"X-Note: nothing new"});
  Sync();
  EXPECT_EQ(merged, PreferenceStore::ReadAllPreferences());
  ClearStore();
  Sync();
  EXPECT_EQ(2u, server_.Requests().size());
  HKEY key = nullptr;
  EXPECT_NE(ERROR_SUCCESS, ::RegOpenKeyExW(HKEY_CURRENT_USER, kPreferencesKey, 0, KEY_READ, &key));
}

}  // namespace
}  // namespace kx::test

// The crash data parser as the createdump run calls it: code pages and its lines in the run's log.
#include "intake/crash_data_parser.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/appdata_sandbox.h"
#include "support/test_files.h"

namespace kx {
namespace {

std::string Record(const std::string& key, const std::string& value) { return key + "KX---KX" + value; }

class CrashDataParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // 0x80 is the euro sign in code page 1252 and in no other byte-to-byte mapping used here.
    if (::GetACP() != 1252) GTEST_SKIP() << "the test prefix's ANSI code page is " << ::GetACP();
    sandbox_.EnableLogging();
  }
  void TearDown() override { ComponentLogStream(LogComponent::DumpRequestProcessor).Close(); }
  std::wstring LogPath() const { return sandbox_.logFolder() + L"\\DumpRequestProcessor.txt"; }

  test::AppDataSandbox sandbox_;
};

TEST_F(CrashDataParserTest, WidensFileNamesAndLogsTheFieldsOfAUsableMessage) {
  const std::string message =
      Record("ProductName", "Caf\xE9") + "KX------KX" + Record("ProductVersion", "2.1") + "KX------KX" +
      Record("ProductBuild", "b7") + "KX------KX" + Record("LocaleString", "de-DE") + "KX------KX" +
      Record("SolvaneSessionId", "S1") + "KX------KX" + Record("SolvaneConfigGuid", "{C}") + "KX------KX" +
      Record("ZanUserGuid", "{U}") + "KX------KX" + Record("LogFileName", "report\x80.solurl") + "KX------KX" +
      Record("DumpFileName", "dump\xE9") + "KX------KX" + Record("StackTrace", "f1\r\nf2\x80") + "KX------KX" +
      Record("Context", "QUJD") + "KX------KX" + Record("ExceptionInfo", "REVG") + "KX------KX" +
      Record("KXSource", "handler") + "KX------KX" + Record("SignalType", "SIGSEGV") + "KX------KX" +
      Record("SLLogSessionDllStatus", "loaded") + "KX------KX" + Record("ProcessId", "-1") + "KX------KX" +
      Record("ThreadId", "77");

  ComponentLog log(LogComponent::DumpRequestProcessor);
  log.Start();
  CrashData data;
  ASSERT_TRUE(ParseCrashData(message, data, log));
  EXPECT_EQ(L"report\u20AC.solurl", data.LogFileName);
  EXPECT_EQ(L"dump\u00E9", data.DumpFileName);
  EXPECT_EQ("f1\r\nf2\x80", data.StackTrace);

  // Narrow values pass through the ANSI code page, so the euro sign (beyond one byte) is stored as "?".
  EXPECT_EQ(
      "Going to parse the crash data received from the pipe.\r\n"
      "Parsed the crash data. The attributes are:\r\n"
      "ProductName: Caf\xE9\r\n"
      "ProductVersion: 2.1\r\n"
      "ProductBuild: b7\r\n"
      "ApplicationLocale: de-DE\r\n"
      "StarlumeSessionId: S1\r\n"
      "SolvaneSessionId: S1\r\n"
      "SolvaneConfigGuid: {C}\r\n"
      "ZANUserGuid: {U}\r\n"
      "LogFileName: report?.solurl\r\n"
      "DumpFileName: dump\xE9\r\n"
      "StackTrace: f1\r\r\nf2?\r\n"
      "Context: QUJD\r\n"
      "ExceptionInfo: REVG\r\n"
      "KXSource: handler\r\n"
      "SignalType SIGSEGV\r\n"
      "ProcessId: 4294967295\r\n"
      "ThreadId: 77\r\n",
      test::ReadFileBytes(LogPath()).value_or("<no log file>"));
}

TEST_F(CrashDataParserTest, AnUnusableMessageLeavesOnlyTheOpeningLine) {
  ComponentLog log(LogComponent::DumpRequestProcessor);
  log.Start();
  CrashData data;
  EXPECT_FALSE(ParseCrashData(Record("ProductName", "Foo") + "KX------KX" + Record("ThreadId", "7"), data, log));
  EXPECT_EQ("Foo", data.ProductName);
  EXPECT_EQ("Going to parse the crash data received from the pipe.\r\n",
            test::ReadFileBytes(LogPath()).value_or("<no log file>"));

  log.Close();
  std::filesystem::remove(LogPath());
  std::filesystem::remove(sandbox_.logFolder() + L"\\generatekxlogornot.txt");
  log.Start();
  EXPECT_TRUE(ParseCrashData(Record("ProcessId", "1") + "KX------KX" + Record("ThreadId", "2"), data, log));
  EXPECT_FALSE(test::IsFile(LogPath()));
}

}  // namespace
}  // namespace kx

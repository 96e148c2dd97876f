// The crash data parser as the createdump run calls it: code pages and its lines in the run's log.
#include "intake/crash_data_parser.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "support/appdata_sandbox.h"
#include "support/test_files.h"

namespace kx {
namespace {

// The records joined into one message.
std::string Message(std::initializer_list<std::pair<const char*, const char*>> records) {
  std::string message;
  for (const auto& [key, value] : records) message += std::string(key) + "KX---KX" + value + "KX------KX";
  return message;
}

TEST(CrashDataParserTest, WidensFileNamesAndLogsTheFieldsOfAUsableMessage) {
  // 0x80 is the euro sign in code page 1252 and in no other byte-to-byte mapping used here.
  if (::GetACP() != 1252) GTEST_SKIP() << "the test prefix's ANSI code page is " << ::GetACP();
  test::AppDataSandbox sandbox;
  sandbox.EnableLogging();
  const std::string message = Message(
      {{"ProductName", "Caf\xE9"}, {"ProductVersion", "2.1"}, {"ProductBuild", "b7"},
       {"LocaleString", "de-DE"}, {"SolvaneSessionId", "S1"}, {"SolvaneConfigGuid", "{C}"},
       {"ZanUserGuid", "{U}"}, {"LogFileName", "report\x80.solurl"}, {"DumpFileName", "dump\xE9"},
       {"StackTrace", "f1\r\nf2\x80"}, {"Context", "QUJD"}, {"ExceptionInfo", "REVG"},
       {"KXSource", "handler"}, {"SignalType", "SIGSEGV"}, {"SLLogSessionDllStatus", "loaded"},
       {"ProcessId", "-1"}, {"ThreadId", "77"}});
  ComponentLog log(LogComponent::DumpRequestProcessor);
  log.Start();
  CrashData data;
  const bool parsed = ParseCrashData(message, data, log);
  log.Close();
  ASSERT_TRUE(parsed);
  EXPECT_EQ(L"report\u20AC.solurl", data.LogFileName);
  EXPECT_EQ(L"dump\u00E9", data.DumpFileName);
  EXPECT_EQ("f1\r\nf2\x80", data.StackTrace);

  // Narrow values pass through the ANSI code page, so the euro sign (beyond one byte) is stored as "?".
  EXPECT_EQ(
      "Going to parse the crash data received from the pipe.\r\n"
      "Parsed the crash data. The attributes are:\r\n"
      "ProductName: Caf\xE9\r\nProductVersion: 2.1\r\nProductBuild: b7\r\nApplicationLocale: de-DE\r\n"
      "StarlumeSessionId: S1\r\nSolvaneSessionId: S1\r\nSolvaneConfigGuid: {C}\r\nZANUserGuid: {U}\r\n"
      "LogFileName: report?.solurl\r\nDumpFileName: dump\xE9\r\nStackTrace: f1\r\r\nf2?\r\n"
      "Context: QUJD\r\nExceptionInfo: REVG\r\nKXSource: handler\r\nSignalType SIGSEGV\r\n"
      "ProcessId: 4294967295\r\nThreadId: 77\r\n",
      test::ReadFileBytes(sandbox.logFolder() + L"\\DumpRequestProcessor.txt").value_or("<no log file>"));
}

}  // namespace
}  // namespace kx

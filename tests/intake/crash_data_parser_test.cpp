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
  const std::string message = Message({{"ProductName", "Caf\xE9"},
                                       {"LogFileName", "report\x80.solurl"},
                                       {"DumpFileName", "dump\xE9"},
                                       {"StackTrace", "f1\r\nf2\x80"},
                                       {"ProcessId", "-1"},
                                       {"ThreadId", "77"}});
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
  // Which field has which line is the parser's own list; these are the ones that convert.
  const std::string lines =
      test::ReadFileBytes(sandbox.logFolder() + L"\\DumpRequestProcessor.txt").value_or("<no log file>");
  for (const char* line :
       {"Going to parse the crash data received from the pipe.\r\n"
        "Parsed the crash data. The attributes are:\r\nProductName: Caf\xE9\r\n",
        "\r\nLogFileName: report?.solurl\r\nDumpFileName: dump\xE9\r\nStackTrace: f1\r\r\nf2?\r\n",
        "\r\nProcessId: 4294967295\r\nThreadId: 77\r\n"}) {
    EXPECT_NE(std::string::npos, lines.find(line)) << line << lines;
  }
}

}  // namespace
}  // namespace kx

// The handler's texts read back the way their readers read them: the crash data message by the service's own
// parser. Its Base64 and its command-line quoting are read back by every end-to-end crash (and fuzzed).
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "handler/crash_message.h"
#include "intake/crash_data_message.h"

namespace kx {
namespace {

TEST(CrashMessageTest, NoValueCanSplitARecordOrEndTheMessage) {
  // Values an application may hand over (its product name, say), each read back by the service's parser.
  const std::vector<std::string> values = {
      "plain",
      "KX---KXProcessId",
      "aKX------KXProcessIdKX---KX1",
      "KX----KX",
      std::string("nul\0ProcessId", 13),
      "KX-KX--KX---",
      "------KXProcessIdKX---KX1",  // with the field separator before it, a record separator
      "",
  };
  for (const std::string& value : values) {
    const std::string message = JoinCrashRecords({{"ProductName", value}, {"ProcessId", "42"}});
    const std::map<std::string, std::string> records = ReadCrashRecords(message);
    EXPECT_EQ(2u, records.size()) << message;
    EXPECT_EQ("42", records.count("ProcessId") ? records.at("ProcessId") : "<none>") << message;
    EXPECT_EQ(CrashRecordValue(value), records.count("ProductName") ? records.at("ProductName") : "<none>");
  }
  // Ordinary text passes unchanged.
  EXPECT_EQ("KX Crash Demo 1.0-beta", CrashRecordValue("KX Crash Demo 1.0-beta"));
}

TEST(CrashMessageTest, StackEventAndIdentifierTexts) {
  EXPECT_EQ("0 app.exe+0x1BEC 0x0000000140001BEC\n1 ?? 0x0000000000000010\n",
            FormatStackText({{"app.exe", 0x140000000, 0x140001BEC}, {"", 0, 0x10}}));
  EXPECT_EQ("20261206-090502-4711", MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711}));
  EXPECT_EQ("0xC0000005", HexCode(0xC0000005u));
  // A line break inside a value would start another entry of the event file.
  EXPECT_EQ("app.name:two  lines\ncrash.id:1\n",
            FormatEventText({{"app.name", "two\r\nlines"}, {"crash.id", "1"}}));
}

}  // namespace
}  // namespace kx

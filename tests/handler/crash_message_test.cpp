// The handler's texts. That no value of the crash data message can split a record or end the message is the
// crash_records_join fuzz target's check, read back by the service's own parser; its Base64 and its
// command-line quoting are read back by every end-to-end crash (and fuzzed).
#include <gtest/gtest.h>

#include <string>

#include "handler/crash_message.h"

namespace kx {
namespace {

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

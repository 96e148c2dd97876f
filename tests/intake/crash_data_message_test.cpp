#include "intake/crash_data_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>

namespace kx {
namespace {

// Stands in for the code-page conversion: each byte becomes the character of the same value.
std::wstring WidenBytes(std::string_view bytes) {
  std::wstring wide;
  for (char c : bytes) wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

const std::string R = "KX------KX";  // record separator
const std::string F = "KX---KX";     // field separator

std::string Record(const std::string& key, const std::string& value) { return key + F + value; }

TEST(CrashDataMessageTest, RecordAndFieldSeparators) {
  const std::string ids = R + Record("ProcessId", "42") + R + Record("ThreadId", "7");
  struct Case {
    const char* name;
    std::string message;
    std::string productName;
  };
  const Case cases[] = {
      {"three records", Record("ProductName", "Foo") + ids, "Foo"},
      {"trailing record separator", Record("ProductName", "Foo") + ids + R, "Foo"},
      {"empty records before, between and after", R + R + Record("ProductName", "Foo") + R + R + ids + R + R,
       "Foo"},
      {"blanks around the field separator belong to key and value",
       "ProductName " + F + " Foo" + ids, ""},
      {"key and separator only", Record("ProductName", "Foo") + R + "ProductName" + F + ids, ""},
      {"key alone", Record("ProductName", "Foo") + R + "ProductName" + ids, ""},
      {"the later of two records wins", Record("ProductName", "Foo") + R + Record("ProductName", "Bar") + ids,
       "Bar"},
      {"a second field separator ends the value", Record("ProductName", "Foo" + F + "Bar") + ids, "Foo"},
      {"keys are case-sensitive", Record("productname", "Foo") + ids, ""},
      {"unknown keys are ignored", Record("Unknown", "x") + R + Record("ProductName", "Foo") + ids, "Foo"},
      {"the message ends at its first NUL", ids + R + Record("ProductName", std::string("Foo\0Bar", 7)), "Foo"},
      {"a lone hyphen run is no separator", Record("ProductName", "A-KX-----KX-B") + ids, "A-KX-----KX-B"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CrashData data;
    ASSERT_TRUE(ParseCrashDataMessage(c.message, &WidenBytes, data));
    EXPECT_EQ(c.productName, data.ProductName);
    EXPECT_EQ(42u, data.ProcessId);
    EXPECT_EQ(7u, data.ThreadId);
    EXPECT_EQ("", data.ProductVersion);
  }
}

TEST(CrashDataMessageTest, StarlumeSessionIdFallsBackToSolvaneSessionId) {
  const std::string ids = R + Record("ProcessId", "1") + R + Record("ThreadId", "2");
  struct Case {
    std::string records;
    const char* starlume;
    const char* solvane;
  };
  const Case cases[] = {
      {Record("SolvaneSessionId", "S"), "S", "S"},
      {Record("StarlumeSessionId", "") + R + Record("SolvaneSessionId", "S"), "S", "S"},
      {Record("StarlumeSessionId", "T") + R + Record("SolvaneSessionId", "S"), "T", "S"},
      {Record("StarlumeSessionId", "T"), "T", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.records);
    CrashData data;
    ASSERT_TRUE(ParseCrashDataMessage(c.records + ids, &WidenBytes, data));
    EXPECT_EQ(c.starlume, data.StarlumeSessionId);
    EXPECT_EQ(c.solvane, data.SolvaneSessionId);
  }
}

TEST(CrashDataMessageTest, NumbersAreReadLikeStrtolWithinTheSigned32BitRange) {
  struct Case {
    std::string text;
    std::optional<std::uint32_t> value;
  };
  const Case cases[] = {
      {" 42abc", 42u},
      {"-1", 4294967295u},
      {"\t\n\v\f\r 7", 7u},
      {"+2147483647", 2147483647u},
      {"-2147483648", 2147483648u},
      {"0x1F", 0u},
      {"-0", 0u},
      {"000000000000000000000000009", 9u},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"4294967295", std::nullopt},
      {"99999999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"   ", std::nullopt},
      {"abc", std::nullopt},
      {"-", std::nullopt},
      {"- 1", std::nullopt},
      {"+-1", std::nullopt},
      {"\xA0" "1", std::nullopt},  // only C-locale white space is skipped
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("\"" + c.text + "\"");
    EXPECT_EQ(c.value, ReadCrashNumber(c.text));
  }
}

TEST(CrashDataMessageTest, AnUnusableNumberStopsTheParseAfterTheFieldsBeforeIt) {
  struct Case {
    const char* name;
    std::string ids;
    std::uint32_t processId;
  };
  const Case cases[] = {
      {"no ProcessId", R + Record("ThreadId", "7"), 0},
      {"empty ProcessId", R + Record("ProcessId", "") + R + Record("ThreadId", "7"), 0},
      {"no ThreadId", R + Record("ProcessId", "42"), 42},
      {"ThreadId out of range", R + Record("ProcessId", "42") + R + Record("ThreadId", "2147483648"), 42},
      {"ThreadId without digits", R + Record("ProcessId", "42") + R + Record("ThreadId", "x7"), 42},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CrashData data;
    EXPECT_FALSE(ParseCrashDataMessage(Record("ProductName", "Foo") + R + Record("SLLogSessionDllStatus", "ok") +
                                           c.ids,
                                       &WidenBytes, data));
    EXPECT_EQ("Foo", data.ProductName);
    EXPECT_EQ("ok", data.SLLogSessionDllStatus);
    EXPECT_EQ(c.processId, data.ProcessId);
    EXPECT_EQ(0u, data.ThreadId);
  }
  CrashData data;
  EXPECT_FALSE(ParseCrashDataMessage("", &WidenBytes, data));
}

}  // namespace
}  // namespace kx

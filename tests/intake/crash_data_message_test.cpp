#include "intake/crash_data_message.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/latin1_json.h"

namespace kx {
namespace {

constexpr auto WidenBytes = &test::WidenLatin1;     // stands in for the code-page conversion
const std::string R = "KX------KX", F = "KX---KX";  // record and field separators

std::string Record(const std::string& key, const std::string& value) { return key + F + value; }

// The field a message gives (a message without two usable numbers is refused: no value).
TEST(CrashDataMessageTest, RecordsFieldsAndTheSessionFallback) {
  const std::string ids = R + Record("ProcessId", "42") + R + Record("ThreadId", "7");
  const std::string foo = Record("ProductName", "Foo");
  using Field = std::string CrashData::*;
  const Field name = &CrashData::ProductName, starlume = &CrashData::StarlumeSessionId;
  const std::tuple<std::string, Field, std::optional<std::string>> cases[] = {
      {foo + ids, name, "Foo"},
      {R + R + foo + R + R + ids + R + R, name, "Foo"},             // empty and trailing records
      {foo + R + Record("ProductName", "Bar") + ids, name, "Bar"},  // the later record wins
      {ids + R + Record("ProductName", std::string("Foo\0Bar", 7)), name, "Foo"},  // the first NUL ends it
      // The Starlume session falls back to the Solvane one when it is missing or empty.
      {Record("StarlumeSessionId", "") + R + Record("SolvaneSessionId", "S") + ids, starlume, "S"},
      {Record("StarlumeSessionId", "T") + R + Record("SolvaneSessionId", "S") + ids, starlume, "T"},
      {Record("ThreadId", "7"), name, std::nullopt},
      {Record("ProcessId", "") + R + Record("ThreadId", "7"), name, std::nullopt},
      {Record("ProcessId", "42") + R + Record("ThreadId", "2147483648"), name, std::nullopt},
  };
  for (const auto& [message, field, value] : cases) {
    SCOPED_TRACE(message);
    CrashData data;
    ASSERT_EQ(value.has_value(), ParseCrashDataMessage(message, WidenBytes, data));
    if (!value) continue;
    EXPECT_EQ(*value, data.*field);
    EXPECT_EQ(42u, data.ProcessId);
    EXPECT_EQ(7u, data.ThreadId);
  }
}

// How digits are found is ReadLeadingInteger's; here only what the message adds: the range and the wrap.
TEST(CrashDataMessageTest, NumbersAreUsableOnlyWithinTheSigned32BitRange) {
  const std::pair<const char*, std::optional<std::uint32_t>> cases[] = {
      {"-1", 4294967295u},
      {"+2147483647", 2147483647u},
      {"-2147483648", 2147483648u},
      {"2147483648", std::nullopt},
      {"-2147483649", std::nullopt},
      {"4294967295", std::nullopt},
  };
  for (const auto& [text, value] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(value, ReadCrashNumber(text));
  }
}

// That the optional fields carry any bytes through the message unchanged is the fuzz target's check; here
// the bounds, which the service says it applied.
TEST(CrashDataMessageTest, OptionalFieldsReadBackWithinTheirBounds) {
  CrashData data;
  const std::string ids = Record("ProcessId", "1") + R + Record("ThreadId", "2");
  ASSERT_TRUE(
      ParseCrashDataMessage(ids + R + Record("CaptureReason", std::string(2000, 'r')), WidenBytes, data));
  EXPECT_EQ(std::string(kMaxCaptureReasonBytes, 'r'), data.CaptureReason);

  const std::string big(kMaxAnnotationValueBytes, 'v');
  const std::pair<std::vector<Annotation>, std::size_t> bounds[] = {
      // annotations, how many are kept
      {{{"", "v"}, {std::string(kMaxAnnotationKeyBytes + 1, 'k'), "v"}, {"k", big + "v"}, {"ok", big}}, 1},
      {{{"1", big}, {"2", big}, {"3", big}, {"4", big}, {"5", "fits"}}, 4},  // "4" would pass 64 KiB
      {std::vector<Annotation>(kMaxAnnotations + 1, {"k", "v"}), kMaxAnnotations},
  };
  for (auto [list, kept] : bounds) {
    const bool leftOut = kept != list.size();
    EXPECT_EQ(leftOut, KeepAnnotationsWithinBounds(list));
    EXPECT_EQ(kept, list.size());
  }
}

}  // namespace
}  // namespace kx

#include "ingest/event_document.h"
#include "ingest/event_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>

#include "support/latin1_json.h"

namespace kx {
namespace {

TEST(EventFileTest, LinesSplitAtTheirFirstColonAndTheLastValueOfAKeyWins) {
  const std::pair<std::string, EventEntries> cases[] = {
      {"no colon\n\n", {}},
      {"k:v:w", {{"k", "v:w"}}},
      {"k : v \r\nk2:x\r\n", {{"k ", " v "}, {"k2", "x"}}},
      {":empty key\nk:1\nk:2\n", {{"", "empty key"}, {"k", "2"}}},
      {"a:1\rb:2", {{"a", "1\rb:2"}}},  // a lone CR ends no line
  };
  for (const auto& [bytes, entries] : cases) {
    SCOPED_TRACE(testing::PrintToString(bytes));
    EXPECT_EQ(entries, ParseEventFile(bytes));
  }
}

TEST(EventFileTest, AgeRulesFollowTheFirstOccurrenceOfTheirSuffix) {
  const std::tuple<const char*, AgeRule> cases[] = {
      {"C:\\q\\ingest\\e1.log", AgeRule::kEventFile}, {"C:\\q\\ingest\\e1.log.lck", AgeRule::kLockFile},
      {"C:\\q\\ingest\\a.log.log", AgeRule::kNone},   {"C:\\q.log\\ingest\\e1.log", AgeRule::kNone},
      {"C:\\q\\ingest\\a.lck.lck", AgeRule::kNone},   {"C:\\q\\ingest\\event.txt", AgeRule::kNone},
  };
  for (const auto& [path, rule] : cases) {
    SCOPED_TRACE(path);
    EXPECT_EQ(rule, AgeRuleOf(path));
  }
  EXPECT_TRUE(IsLockFileName(L"C:\\q\\e1.log.lck"));
  EXPECT_FALSE(IsLockFileName(L"C:\\q\\e1.lck.log"));
}

// The fixed members come first and the file's follow, in its order (the fuzz target reads that back); each
// is escaped, and a file's key that repeats a fixed one is carried as it is.
TEST(EventDocumentTest, TheFilesMembersFollowTheFixedOnesEscaped) {
  const std::string document = BuildEventDocument({{"event.type", "warning"}, {"f\"o\xe9", "b\"a\\r"}},
                                                  "2024-01-31T14:05:09.123+0100", &test::WidenLatin1);
  const std::string end = ",\"event.type\":\"warning\",\"f\\\"o\\u00e9\":\"b\\\"a\\\\r\"}}]}";
  EXPECT_EQ(end, document.substr(document.size() - std::min(document.size(), end.size()))) << document;
}

// A time stamp read back by a reader of the ISO form gives the moment and the offset it was made from.
TEST(EventDocumentTest, TimeStampsReadBackAndStatuses) {
  for (const LocalTimeReading& made : {LocalTimeReading{2024, 1, 31, 14, 5, 9, 123, 60},
                                       LocalTimeReading{1999, 12, 31, 23, 59, 59, 7, -330}}) {
    const std::string stamp = FormatIsoTimestamp(made);
    LocalTimeReading read = {};
    char sign = 0, end = 0;
    int hours = 0, minutes = 0;
    ASSERT_EQ(10, std::sscanf(stamp.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d%2d%c", &read.year, &read.month,
                              &read.day, &read.hour, &read.minute, &read.second, &read.millisecond, &sign,
                              &hours, &minutes, &end))
        << stamp;
    read.utcOffsetMinutes = (sign == '-' ? -1 : 1) * (hours * 60 + minutes);
    EXPECT_TRUE(stamp.size() == 28 && (sign == '+' || sign == '-')) << stamp;
    EXPECT_EQ(std::tie(made.year, made.month, made.day, made.hour, made.minute, made.second, made.millisecond,
                       made.utcOffsetMinutes),
              std::tie(read.year, read.month, read.day, read.hour, read.minute, read.second, read.millisecond,
                       read.utcOffsetMinutes))
        << stamp;
  }
  for (const std::uint32_t accepted : {1u, 200u, 302u, 399u}) EXPECT_TRUE(IsAcceptedStatus(accepted));
  for (const std::uint32_t refused : {0u, 400u, 500u}) EXPECT_FALSE(IsAcceptedStatus(refused));
}

}  // namespace
}  // namespace kx

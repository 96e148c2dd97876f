#include "ingest/event_document.h"
#include "ingest/event_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/latin1_json.h"

namespace kx {
namespace {

// The fixed members come first and the file's follow, in its order (the fuzz target reads that back); each
// is escaped, and a file's key that repeats a fixed one is carried as it is. How a file's lines split into
// entries, the fuzz target and the ingest end-to-end test show.
TEST(EventDocumentTest, TheFilesMembersFollowTheFixedOnesEscaped) {
  const std::string document = BuildEventDocument({{"event.type", "warning"}, {"f\"o\xe9", "b\"a\\r"}},
                                                  "2024-01-31T14:05:09.123+0100", &test::WidenLatin1);
  const std::string end = ",\"event.type\":\"warning\",\"f\\\"o\\u00e9\":\"b\\\"a\\\\r\"}}]}";
  EXPECT_EQ(end, document.substr(document.size() - std::min(document.size(), end.size()))) << document;
  // A line break inside a value would start another entry of the file.
  const std::string file = FormatEventFile({{"app.name", "two\r\nlines\n"}, {"crash.id", "1"}});
  EXPECT_EQ((EventEntries{{"app.name", "two  lines "}, {"crash.id", "1"}}), ParseEventFile(file)) << file;
}

// The moment and its offset from UTC, west of it too and by a part of an hour.
TEST(EventDocumentTest, TimeStampsCarryTheirOffsetAndA3xxIsAccepted) {
  EXPECT_EQ("2024-01-31T14:05:09.123+0100", FormatIsoTimestamp({2024, 1, 31, 14, 5, 9, 123, 60}));
  EXPECT_EQ("1999-12-31T23:59:59.007-0530", FormatIsoTimestamp({1999, 12, 31, 23, 59, 59, 7, -330}));
  for (const std::uint32_t accepted : {1u, 200u, 302u, 399u}) EXPECT_TRUE(IsAcceptedStatus(accepted));
  for (const std::uint32_t refused : {0u, 400u, 500u}) EXPECT_FALSE(IsAcceptedStatus(refused));
}

}  // namespace
}  // namespace kx

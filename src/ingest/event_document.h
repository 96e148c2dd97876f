// The JSON document that carries one queued event to the ingest endpoint:
//
//   {"events":[{"project":"qplx-desk-relayer","ingesttype":"solvane","time":"<time stamp>",
//               "environment":"prod","data":{<seven fixed members>,<the event file's members>}}]}
//
// without any white space. The fixed members say what kind of event this is (a desktop host's abnormal exit);
// the file's members follow them, a key equal to a fixed one written a second time. Every key and value is
// a JSON string with its special characters escaped and every character outside ASCII as \u escapes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/json_text.h"
#include "ingest/event_file.h"

namespace kx {

// The project and, the same value, the API key of the ingest endpoint.
inline constexpr char kIngestProject[] = "qplx-desk-relayer";

// `entries` must not be empty: an event without entries is not posted.
std::string BuildEventDocument(const EventEntries& entries, std::string_view timestamp, TextWidener widen);

// A local time reading and its offset from UTC.
struct LocalTimeReading {
  int year, month, day, hour, minute, second, millisecond;
  int utcOffsetMinutes;  // east of UTC is positive
};

// "2024-01-31T14:05:09.123+0100": date, "T", time, milliseconds, and the offset as a sign and four digits.
std::string FormatIsoTimestamp(const LocalTimeReading& reading);

// The endpoint accepted the event: any status from 1 to 399 (a redirect counts as accepted).
bool IsAcceptedStatus(std::uint32_t status);

}  // namespace kx

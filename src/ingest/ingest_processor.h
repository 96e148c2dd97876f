// The "postingestevent" processor: posts the queued analytics event files to the ingest endpoint, one
// request per file, and deletes each file the endpoint accepted. Runs may overlap: an event is posted only by
// the run that holds its lock file, and only while the event file still exists.
//
// Logs to "IngestProcessor.txt" whether or not logging is switched on (when the log folder exists).
#pragma once

#include <string>

namespace kx {

class IngestProcessor {
 public:
  // Purges expired files, then takes up every event file in the folder. Never throws.
  void Run(const std::wstring& clientDirectory);
};

// The time stamp of an event: local time with milliseconds and the offset from UTC,
// e.g. "2024-01-31T14:05:09.123+0100".
std::string makeIsoTimestamp();

}  // namespace kx

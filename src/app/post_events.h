// "postingestevent": posts the queued analytics event files to the ingest endpoint, one request per file, and
// deletes each file the endpoint accepted. Runs may overlap: an event is posted only by the run that holds its
// lock file, and only while the event file still exists.
//
// Logs to "IngestProcessor.txt" whether or not logging is switched on (when the log folder exists).
#pragma once

#include <string>

namespace kx {

// Purges expired files, then takes up every event file in the folder. Never throws.
void PostQueuedEvents(const std::wstring& clientDirectory);

}  // namespace kx

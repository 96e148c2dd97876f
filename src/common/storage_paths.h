// The per-user storage root (roaming application data + "\Orvan\KXLogs") and its folders. Every call asks the
// shell and the file system afresh; nothing is cached. An empty path means the folder is unavailable.
#pragma once

#include <string>

namespace kx {

class StoragePaths {
 public:
  // Created when missing (the outcome of the creation is not examined).
  static std::wstring Root();
  static std::wstring CrashLogFolder();  // Root + "\crashlogs", created when missing
  static std::wstring DumpFolder();      // Root + "\dumps", created when missing
  static std::wstring IngestFolder();    // Root + "\ingest", created when missing
  static std::wstring ReporterFolder();  // Root + "\reporter" (the reporter's tickets), created when missing
  // Root + "\windowsclient". Never created: diagnostic logging needs someone to have made it.
  static std::wstring LogFolder();
};

}  // namespace kx

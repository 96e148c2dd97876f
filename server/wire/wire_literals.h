// The client's wire literals that the server must match, each written here once: the client still keeps
// them inside Win32 files (app/solution_exchange.cpp, app/preference_sync.cpp, app/post_events.cpp) or as
// private constants of platform-free ones (prefs/answer_readers.cpp, transport/upload_rules.cpp) that no
// header exports. Everything the client's platform-free libraries do export (the upload path, the report
// and dump names and states, hex and GUID text) is taken from them instead.
#pragma once

namespace kx::server {

inline constexpr char kSolutionPath[] = "/solution-url/win/intel";
inline constexpr char kPreferencesPath[] = "/pvb-preferences/win/intel";
inline constexpr char kIngestPath[] = "/ingest";

inline constexpr char kSolutionUrlHeader[] = "Solution_url";
inline constexpr char kAttachDumpHeader[] = "Attach_Dump";
inline constexpr char kUpdatedPreferencesHeader[] = "Updated Preferences";
inline constexpr char kApiKeyHeader[] = "x-api-key";

inline constexpr char kFileNameHeader[] = "X-KX-File-Name";
inline constexpr char kFileKindHeader[] = "X-KX-File-Kind";
inline constexpr char kInstallationGuidHeader[] = "X-KX-Installation-Guid";
inline constexpr char kReportNameHeader[] = "X-KX-Report-Name";

}  // namespace kx::server

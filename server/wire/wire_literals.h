// The client's wire literals that the server must match, each written here once. In the client they live
// inside Win32 files (net/solution_url.cpp, prefs/initial_data_sync_processor.cpp,
// ingest/ingest_processor.cpp) or as private constants of platform-free ones (prefs/answer_readers.cpp,
// transport/upload_rules.cpp) that no header exports; the upload path does have a header
// (transport/upload_rules.h, kUploadPath) and is taken from there.
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

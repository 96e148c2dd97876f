// The names the client and the receiving server meet on: the exchanges' paths and the header lines they read
// or write. Each is written here once; both ends take it from here, so neither can drift from the other.
// ASCII only: the client's Win32 layer widens them where WinINet wants wide text (AsciiWide).
#pragma once

#include <cstddef>
#include <string>

namespace kx::wire {

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

template <std::size_t N>
std::wstring AsciiWide(const char (&ascii)[N]) {
  return std::wstring(ascii, ascii + N - 1);
}

}  // namespace kx::wire

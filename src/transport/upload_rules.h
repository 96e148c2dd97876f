// What the log transport sends for one finished file, and what it does with the server's answer.
//
// Request: POST /upload with the file's bytes as the body and these header lines:
//   Content-Type: application/octet-stream
//   X-KX-File-Name: <file name, UTF-8, percent-encoded>
//   X-KX-File-Kind: report | dump | other
//   X-KX-Installation-Guid: <installation GUID>
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kx {

inline constexpr wchar_t kUploadPath[] = L"/upload";
inline constexpr wchar_t kFinishedSuffix[] = L".final";
inline constexpr wchar_t kRejectedSuffix[] = L".rejected";

// By the file name: "kxWinLog_..." is a report, "kxWinDump_..." a dump.
const char* UploadKindOf(std::wstring_view fileName);

// Every byte outside the unreserved set of URLs (letters, digits, "-", ".", "_", "~") as %XX.
std::string PercentEncode(std::string_view bytes);

// The header lines above, each ended by CR LF. `utf8FileName` and `guid` as they are; the name is encoded
// here.
std::string UploadHeaders(std::string_view utf8FileName, std::string_view kind, std::string_view guid);

// A file name the transport takes up: ends in ".final".
bool IsFinishedFileName(std::wstring_view fileName);

enum class UploadVerdict {
  kDelivered,  // 2xx: the file is deleted
  kRejected,   // 4xx: the server will never take it; it is set aside under its name + ".rejected"
  kRetry,      // no answer, 1xx, 3xx, 5xx: it stays for the next run
};
UploadVerdict JudgeUploadStatus(std::uint32_t status);

}  // namespace kx

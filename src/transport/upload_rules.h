// What the log transport sends for one finished file, what it does with the server's answer, and the bounds
// that keep its queue from growing without end. No platform calls: times are seconds since 1970 (UTC).
//
// Request: POST /upload with the file's bytes as the body and these header lines:
//   Content-Type: application/octet-stream
//   X-KX-File-Name: <file name, UTF-8, percent-encoded>
//   X-KX-File-Kind: report | dump | attachment | other
//   X-KX-Installation-Guid: <installation GUID>
//   X-KX-Report-Name: <the report's finished file name, percent-encoded>   (attachments only)
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

inline constexpr wchar_t kUploadPath[] = L"/upload";
// A file the server accepted, kept under this name until its deletion succeeds: never uploaded again.
inline constexpr wchar_t kDeliveredSuffix[] = L".delivered";
// Set aside because the server refused it for good.
inline constexpr wchar_t kRejectedSuffix[] = L".rejected";
// Set aside by the transport's own bounds, unsent.
inline constexpr wchar_t kUnsentSuffix[] = L".unsent";

// By the file name (dispatch/report_names.h): "kxWinLog_<...>.xml.att<N>.<name>.final" is an attachment, any
// other "kxWinLog_..." a report, "kxWinDump_..." a dump.
const char* UploadKindOf(std::wstring_view fileName);

// Every byte outside the unreserved set of URLs (letters, digits, "-", ".", "_", "~") as %XX.
std::string PercentEncode(std::string_view bytes);

// The header lines above, each ended by CR LF. `utf8FileName` and `guid` as they are; the names are encoded
// here. The report name line only when `utf8ReportName` is not empty.
std::string UploadHeaders(std::string_view utf8FileName, std::string_view kind, std::string_view guid,
                          std::string_view utf8ReportName = {});

// A file name the transport takes up: ends in ".final" (kFinalSuffix).
bool IsFinishedFileName(std::wstring_view fileName);

// What a run removes before it uploads anything: "<name>.final.delivered" (delivered, its deletion failed)
// and "<name>.final.lck" (the lock file of earlier versions of the transport).
bool IsLeftoverFileName(std::wstring_view fileName);

enum class UploadVerdict {
  kDelivered,  // 2xx
  kRejected,   // a 4xx other than 407, 408, 425, 429: the server will never take it; set aside
  kKept,       // no answer (0), 407, 408, 425, 429, 5xx, and anything else: offered again by a later run
};
UploadVerdict JudgeUploadStatus(std::uint32_t status);

// The longest pause a server can impose, whatever its Retry-After says.
inline constexpr std::int64_t kMaxRetryAfterSeconds = 24 * 3600;

// The time before which the server asked not to be sent anything, from the raw header block of its answer
// (status line, then header lines ended by CR LF): the first Retry-After line, as delta seconds or as an
// HTTP date (any of its three forms). Nothing when there is no such line, its value is neither form, or the
// time is not after `now`; never beyond now + kMaxRetryAfterSeconds.
std::optional<std::int64_t> RetryAfterFromHeaders(std::string_view headerBlock, std::int64_t now);

// An HTTP date: "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" or
// "Sun Nov  6 08:49:37 1994". Nothing for anything else.
std::optional<std::int64_t> ParseHttpDate(std::string_view text);

// A remembered pause still holds when it lies after `now` but not beyond the bound: a later one cannot have
// come from a server, only from a clock set back since, and is ignored.
bool IsPauseInForce(std::int64_t notBefore, std::int64_t now);

// The pause to remember when an answer asks for one until `asked` while `stored` is remembered: the later
// of the two (two copies may be told different delays), the stored one only while it is in force.
std::int64_t LaterPause(std::int64_t stored, std::int64_t asked, std::int64_t now);

// The queue's bounds. Set aside: a file the request cannot carry (beyond kMaxUploadFileBytes: the platform
// takes a 32-bit body length), and every file older than the newest ones that together fit in
// kMaxQueuedFolderBytes. A file last written more than kMaxQueuedAgeSeconds ago is tried once more and set
// aside only when that attempt does not deliver it: a machine long offline, or a clock far ahead, must not
// discard a queue the server never saw.
inline constexpr std::int64_t kMaxQueuedAgeSeconds = 30 * 24 * 3600;
inline constexpr std::uint64_t kMaxQueuedFolderBytes = 4ull << 30;
inline constexpr std::uint64_t kMaxUploadFileBytes = 0xFFFFFFFFull;

struct QueuedFile {
  std::uint64_t size = 0;
  std::int64_t time = 0;  // last write
};
enum class QueueFate { kUpload, kLastAttempt, kTooLarge, kBeyondFolderBound };
// One fate per file, in the order given.
std::vector<QueueFate> PlanQueue(const std::vector<QueuedFile>& files, std::int64_t now);

// The names tried, in turn, when a file is set aside: "<name><suffix>", then "<name>.2<suffix>", ...: never
// one that replaces another file, and never more than kSetAsideNameAttempts.
inline constexpr int kSetAsideNameAttempts = 20;
std::wstring SetAsideName(std::wstring_view name, std::wstring_view suffix, int attempt);

}  // namespace kx

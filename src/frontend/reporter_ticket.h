// The ticket: what the crash handler hands to KXCrashReporter.exe about one crash once "createdump" has run,
// as a small text file in the user's storage (docs/reporter.md). Platform-free, so that the writer and the
// reader are tested and fuzzed anywhere.
//
//   KXTICKET 1
//   key=value        one per line, LF-terminated, UTF-8; values escaped (EscapeTicketValue)
//
// The reader refuses a ticket over kMaxTicketBytes, one without the header, with a line that is not
// key=value, a key given twice (other than "attachment"), a value that does not unescape or is not UTF-8,
// or one missing a required key. Keys it does not know are skipped, so a later handler may add some.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "kx/report_policy.h"

namespace kx {

inline constexpr std::size_t kMaxTicketBytes = 64 * 1024;
inline constexpr char kTicketHeader[] = "KXTICKET 1";
inline constexpr wchar_t kTicketSuffix[] = L".ticket";

struct ReporterTicket {
  // Required.
  std::wstring crashIdentifier;  // the service's third word; a plain name piece
  std::uint32_t exceptionCode = 0;
  std::string kind;  // "access-violation", ... (the report's SignalType)
  ReportPolicy policy = ReportPolicy::kDontSend;  // the held-back rule applied (report_plan.h)
  std::wstring servicePath;      // KXWindowsClientService.exe
  std::wstring clientDirectory;  // its first word
  // Optional.
  bool reportWritten = false;     // "createdump" left a report
  std::wstring installationGuid;  // names the report files; empty: the reporter reads the registry's
  std::string productName;        // UTF-8
  std::string productVersion;
  std::string productBuild;
  bool openSolutionLink = false;
  bool checkTransportSignature = false;
  std::uint32_t createDumpLimitMs = 120000;
  std::uint32_t commandLimitMs = 60000;
  std::vector<std::wstring> attachments;  // file names the report carries along, for the consent view
  std::wstring progressLog;               // a file the reporter appends its progress lines to; empty: none
  // The application's run history (run_history.h), and the report's crash signature in it: a report that
  // is sent is counted there, and clears the `heldBackBefore` reports it carries. Empty: nothing counted.
  std::wstring runHistory;
  std::string signature;
  std::uint32_t heldBackBefore = 0;
};

// Backslash, CR, LF and every other control character (and DEL) become escapes: "\\", "\r", "\n", "\xHH".
std::string EscapeTicketValue(const std::string& value);
// The reverse; nothing when an escape is malformed.
std::optional<std::string> UnescapeTicketValue(const std::string& text);

std::string FormatTicket(const ReporterTicket& ticket);

struct TicketRead {
  std::optional<ReporterTicket> ticket;
  std::string error;  // why it was refused; empty when read
};
TicketRead ParseTicket(const std::string& bytes);

}  // namespace kx

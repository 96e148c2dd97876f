// What an upload's header lines say about the file it carries, checked against the client's own naming
// rules (src/dispatch/report_names.h, src/transport/upload_rules.h), so that every literal of those names keeps
// its one home in the client's code. A report, its dump and its attachments arrive as separate requests in any
// order; they are tied by the installation GUID and the crash identifier inside their names:
//
//   kxWinLog_<guid>_<crash id>_abc.xml.final                  report
//   kxWinDump_<guid>_<crash id>_abc.dmp(.full).final          dump (mini or full)
//   kxWinLog_<guid>_<crash id>_abc.xml.att<N>.<name>.final    attachment, with X-KX-Report-Name
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kx::server {

// The raw values of the X-KX-* header lines, as received (percent-encoded).
struct UploadHeaderLines {
  std::string fileName;
  std::string kind;
  std::string guid;
  std::string reportName;
};

enum class UploadHeaderFault {
  kNone,
  kBadGuid,          // not a well-formed installation GUID
  kBadFileName,      // missing, not decodable, not a plain file name, or not a finished (".final") name
  kKindMismatch,     // X-KX-File-Kind is not what the name says
  kGuidMismatch,     // the name carries another installation's GUID
  kReportMismatch,   // an attachment's X-KX-Report-Name is not the report its name belongs to
};

struct UploadIdentity {
  std::string guid;        // lower case
  std::string fileName;    // decoded, as the client named it (".final" included)
  std::string kind;        // report, dump, attachment, other
  std::string crashId;     // the crash identifier of a report, dump or attachment; empty for other files
  std::string reportName;  // attachments: the finished name of their report
  bool fullDump = false;
};

struct UploadCheck {
  UploadHeaderFault fault = UploadHeaderFault::kNone;
  UploadIdentity identity;  // meaningful when fault is kNone
};

UploadCheck CheckUploadHeaders(const UploadHeaderLines& lines);

// "%XX" sequences (either letter case) turned back into bytes; nothing when a "%" is not followed by two
// hexadecimal digits or the result holds a NUL byte.
std::optional<std::string> PercentDecode(std::string_view text);

// The crash identifier inside a report's or dump's file name for that GUID, or nothing when the name is not
// one of the client's report or dump names.
std::optional<std::string> CrashIdOfName(std::string_view fileName, std::string_view guid);

const char* UploadHeaderFaultText(UploadHeaderFault fault);

}  // namespace kx::server

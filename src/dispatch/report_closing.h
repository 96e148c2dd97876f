// The closing block that sendlog puts at the end of a report document before it is handed to the log
// transport. The result is the file's bytes, lines ended by CR LF:
//
//   <the document's text before its first "</crashreport>", or all of it when there is none>
//   <dumpAttached>          (these three lines only when the solution server asked for the dump)
//
//   </dumpAttached>
//   </crashreport>
//
// Whatever followed the first "</crashreport>" is dropped, so a document holding the tag twice is cut at the
// first. Every line, the last included, ends with CR LF.
#pragma once

#include <string>
#include <string_view>

namespace kx {

inline constexpr char kReportEndTag[] = "</crashreport>";

// `text` is the document as ReadFileContents gives it (LF line ends, one character per byte); each LF of
// the result is stored as CR LF, so the bytes that are kept come back as they were on disk.
std::string CloseReportDocument(std::wstring_view text, bool dumpAttached);

}  // namespace kx

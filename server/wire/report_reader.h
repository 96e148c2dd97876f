// Reads the crash report document (docs/crash-report-format.md) that arrives twice: as the body of the
// solution exchange and, finished by sendlog, as an upload. Nothing in it is trusted: a document that is not
// well-formed, or lacks what grouping needs, is still kept by the caller, marked with the problem.
#pragma once

#include <string>
#include <string_view>

namespace kx::server {

struct ReportFacts {
  std::string problem;  // why the report cannot be grouped; empty when it was read
  std::string guid;     // the installation GUID, lower case
  std::string product, version, build;
  std::string crashType, exception, exceptionCode, dumpType, serviceVersion;
  std::string stackText;  // the crashed thread's stack text, as the application sent it

  bool readable() const { return problem.empty(); }
};

ReportFacts ReadReport(std::string_view document);

// What both copies of one report share, so that a crash counts once however often and by whichever way
// its report arrived. The solution exchange sends the stored document with each CR LF as LF; sendlog then
// cuts it at its first end tag, may add the dumpAttached element, and ends it again with CR LF lines. Both
// forms give: the text before the first end tag, without carriage returns (the document escapes those of
// its values), closing dumpAttached elements and white space at its end.
std::string ReportIdentity(std::string_view document);

}  // namespace kx::server

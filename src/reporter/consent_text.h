// What the reporter shows a person, built without any platform call: the facts read from a crash report,
// the consent dialog's texts and the help page's.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

// What the consent view takes from the XML crash report (docs/crash-report-format.md); each empty when the
// report does not give it.
struct ReportFacts {
  std::wstring time;        // "2024-03-07 14:05:09 W. Europe Standard Time"
  std::wstring exception;   // "EXCEPTION_ACCESS_VIOLATION"
  std::wstring firstFrame;  // "Glint.exe+0x1A2B": the module and offset of the stack text's first line
};
ReportFacts ReadReportFacts(std::string_view reportXml);

struct ConsentInput {
  std::wstring productName;  // may be empty
  std::wstring productVersion;
  std::wstring productBuild;
  std::string kind;  // "access-violation", ...
  std::uint32_t exceptionCode = 0;
  std::wstring crashIdentifier;  // "YYYYMMDD-HHMMSS-pid": the time when the report gives none
  ReportFacts facts;
  std::wstring reportFile;  // file names, not paths
  std::wstring dumpFile;    // empty: no dump
  std::vector<std::wstring> attachments;
};

struct DialogText {
  std::wstring title;
  std::wstring mainInstruction;
  std::wstring content;
  std::wstring details;  // the expando's text; empty: no expando
};

DialogText ConsentDialogText(const ConsentInput& input);
// The page offered after a report was sent and the solution server gave a help link.
DialogText HelpPageText(const std::wstring& productName, const std::wstring& link);

}  // namespace kx

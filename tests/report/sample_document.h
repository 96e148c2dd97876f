// A crash report document made of the report's lines in document order, for checks with a real XML parser.
#pragma once

#include <cstdint>
#include <string>

#include "report/crash_report_writer.h"

namespace kx::test {

// A crash whose every text is hostile to XML: markup, references, quotes, control bytes, line ends and the
// document's own closing tag.
struct SampleCrash {
  CrashReportHeader header;
  std::string logFileName;
  std::string userGuid;  // what the user element must give back
  std::string stackText;
  std::uint32_t exceptionCode = 0;
  std::uint64_t exceptionAddress = 0;
  RegisterValues registers;
  int dumpPreference = 0;
  std::string dllStatus;
  std::string sessionId;
  std::string configGuid;
  std::string zanUserGuid;
};

SampleCrash HostileCrash();

// The lines that come from the machine, already narrow.
struct MachineLines {
  std::string time;
  std::string system;
  std::string gpuLines;
  std::string moduleLines;
};

// The whole document, lines ending in "\n", in the order the crash log generator writes them.
std::string AssembleDocument(const SampleCrash& crash, const MachineLines& machine);

}  // namespace kx::test

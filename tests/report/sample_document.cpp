#include "sample_document.h"

namespace kx::test {

SampleCrash HostileCrash() {
  SampleCrash crash;
  crash.header.applicationName = "Tom & \"Jerry\" <Ltd> 'quoted' C:\\path";
  crash.header.applicationVersion = "1.0 <beta> &amp;";
  crash.header.build = "</crashreport>";
  crash.header.source = "\"src\"\tcol\x01umn";
  crash.header.crashType = "SIG<SEGV>&";
  crash.logFileName = "kxWinLog_{<&\"guid\">}_42_abc.xml";
  crash.userGuid = "{<&\"guid\">}";
  crash.stackText =
      "0 app!std::vector<int>::at() & x\r\n"
      "1 app!main()\t\"q\" 'a' C:\\src\\main.cpp\n"
      "</thread></backtrace></crash></crashreport>\n"
      "]]> <![CDATA[ &#38; \x02";
  crash.exceptionCode = 0xE06D7363u;
  crash.exceptionAddress = 0x7FF6A1B2C3D4u;
  crash.registers.rip = 0x7FF6A1B2C3D4u;
  crash.registers.eflags = 0x246u;
  crash.dumpPreference = 1;
  crash.dllStatus = "<loaded & \"ok\">";
  crash.sessionId = "S<1>&";
  crash.configGuid = "{C&\"G\"}";
  crash.zanUserGuid = "</zanUserGuid>";
  return crash;
}

std::string AssembleDocument(const SampleCrash& crash, const MachineLines& machine) {
  std::string document = kXmlPrologLine;
  document += kDocTypeLine;
  document += FormatCrashReportTag(crash.header);
  document += machine.time;
  document += FormatUserTag(crash.logFileName);
  document += machine.system;
  document += kGpuStartLine;
  document += machine.gpuLines;
  document += kGpuEndLine;
  document += FormatCrashTag(crash.exceptionCode, crash.exceptionAddress);
  document += kBacktraceStartLine;
  document += FormatThreadElement(crash.stackText);
  document += kBacktraceEndLine;
  document += kRegisterSetStartLine;
  AppendRegisterTags(document, crash.registers);
  document += kRegisterSetEndLines;
  document += kBinaryImageSetStartLine;
  document += machine.moduleLines;
  document += kBinaryImageSetEndLine;
  document += FormatTextElement("dumpType", DumpTypeName(crash.dumpPreference));
  document += FormatTextElement("slLogSessionDllStatus", crash.dllStatus);
  document += kCrashEndLines;
  if (!crash.sessionId.empty()) document += FormatTextElement("sessionId", crash.sessionId);
  if (!crash.configGuid.empty()) document += FormatTextElement("solvaneConfigGuid", crash.configGuid);
  if (!crash.zanUserGuid.empty()) document += FormatTextElement("zanUserGuid", crash.zanUserGuid);
  document += kCrashReportEnd;
  return document;
}

}  // namespace kx::test

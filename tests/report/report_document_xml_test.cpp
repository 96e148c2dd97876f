// The report's lines, in document order and full of hostile values, must parse with a real XML parser
// (xmllint) and give the values back. The end-to-end test does the same through the service for the values
// a crash message carries; this one also covers the machine's values: time zone, system, GPU and modules.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>

#include "common/text_utils.h"
#include "report/crash_report_writer.h"
#include "report/gpu_info.h"
#include "report/module_list.h"
#include "report/system_info.h"

namespace kx {
namespace {

const std::string kDocument = "report_document_hostile.xml";

// Output and exit status of a shell command.
std::pair<int, std::string> RunCommand(const std::string& command) {
  std::string output;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, output};
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) output.append(buffer, n);
  return {pclose(pipe), output};
}

// The exact string value of an XPath expression (brackets keep leading and trailing white space).
std::string XPathString(const std::string& expression) {
  auto [status, text] = RunCommand(std::string(KX_XMLLINT) + " --nonet --xpath \"concat('[', string(" +
                                   expression + "), ']')\" " + kDocument);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (status != 0 || text.size() < 2 || text.front() != '[' || text.back() != ']') return "failed: " + text;
  return text.substr(1, text.size() - 2);
}

TEST(ReportDocumentXmlTest, HostileValuesParseAndComeBackUnchanged) {
  CrashReportHeader header;
  header.applicationName = "Tom & \"Jerry\" <Ltd> 'quoted' C:\\path";
  header.applicationVersion = "1.0 <beta> &amp;";
  header.build = "</crashreport>";
  header.source = "\"src\"\tcol\x01umn";
  header.crashType = "SIG<SEGV>&";
  const std::string stack =
      "0 app!std::vector<int>::at() & x\r\n1 app!main()\t\"q\" 'a' C:\\src\\main.cpp\n"
      "</thread></backtrace></crash></crashreport>\n]]> <![CDATA[ &#38; \x02";
  const std::string dllStatus = "<loaded & \"ok\">", sessionId = "S<1>&", configGuid = "{C&\"G\"}";
  const std::string zanUserGuid = "</zanUserGuid>";
  SystemFacts facts;
  facts.versionKeyOpen = true;
  facts.productName = "Windows 10 & <Friends>";
  facts.applicationLocale = "en_US\"";
  facts.processorName = "CPU \"Fast\" & <Cheap>";
  GpuInfo gpu;
  gpu.description = L"Adapter 'one' & \"two\" <three> C:\\x";
  // Escaped, the "&" after the zeros would straddle the 100-character cut: it is left out whole.
  gpu.pnpDeviceID = L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_" + std::wstring(57, L'0') + L"&REV_A1";
  gpu.installedDisplayDrivers = L"C:\\drv\\b&b.dll,C:\\drv\\a.dll,";

  std::string document = std::string(kXmlPrologLine) + kDocTypeLine + FormatCrashReportTag(header) +
                         FormatTimeTag(LocalTimeParts{2024, 2, 29, 23, 59, 58}, -480, "Pacific <\"&\"> Time") +
                         FormatUserTag("kxWinLog_{<&\"guid\">}_42_abc.xml") +
                         FormatSystemTag(BuildSystemValues(facts)) + kGpuStartLine +
                         narrowByTruncation(FormatGpuInfoLine(gpu)) + kGpuEndLine +
                         FormatCrashTag(0xE06D7363u, 0x7FF6A1B2C3D4u) + kBacktraceStartLine +
                         FormatThreadElement(stack) + kBacktraceEndLine + kRegisterSetStartLine;
  AppendRegisterTags(document, RegisterValues{});
  document += std::string(kRegisterSetEndLines) + kBinaryImageSetStartLine +
              narrowByTruncation(FormatBinaryImageLine(0x400000u, 1, L"C:\\Orvan\\a&b<c>\".dll")) +
              kBinaryImageSetEndLine + FormatTextElement("dumpType", DumpTypeName(1)) +
              FormatTextElement("slLogSessionDllStatus", dllStatus) + kCrashEndLines +
              FormatTextElement("sessionId", sessionId) + FormatTextElement("solvaneConfigGuid", configGuid) +
              FormatTextElement("zanUserGuid", zanUserGuid) + kCrashReportEnd;
  // The send step keeps the text before the first closing tag of the report: it must be the real one.
  EXPECT_EQ(document.size() - 14, document.find("</crashreport>"));
  std::string stored;  // as a text-mode stream stores it: CR LF line ends
  for (char c : document) stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::ofstream(kDocument, std::ios::binary) << stored;

  const auto [status, output] = RunCommand(std::string(KX_XMLLINT) + " --noout --nonet " + kDocument);
  ASSERT_EQ(0, status) << output;

  std::string readableStack = stack;
  readableStack.back() = '?';  // a control byte
  const std::pair<const char*, std::string> expectations[] = {
      {"/crashreport/@applicationName", header.applicationName},
      {"/crashreport/@applicationVersion", header.applicationVersion},
      {"/crashreport/@build", header.build},
      {"/crashreport/@source", "\"src\"\tcol?umn"},
      {"/crashreport/@crashType", header.crashType},
      {"/crashreport/time/@timezone", "Pacific <\"&\"> Time"},
      {"/crashreport/user/@guid", "{<&\"guid\">}"},
      {"/crashreport/system/@platform", "Windows 10 & <Friends>"},
      {"/crashreport/system/@applicationlanguage", "en_US\""},
      {"/crashreport/system/@machine", "CPU \"Fast\" & <Cheap>"},
      {"/crashreport/gpu/gpuinfo/@description", "Adapter 'one' & \"two\" <three> C:\\x"},
      {"/crashreport/gpu/gpuinfo/@pnpDeviceID", "PCI\\VEN_10DE&DEV_1C82&SUBSYS_" + std::string(57, '0')},
      {"/crashreport/gpu/gpuinfo/@installedDisplayDrivers", "a.dll,b&b.dll"},
      {"/crashreport/crash/backtrace/thread", "\n" + readableStack},
      {"count(/crashreport/crash/registerSet/register)", "12"},
      {"/crashreport/crash/binaryImageSet/binaryImage/@path", "orvan\\a&b<c>\".dll"},
      {"/crashreport/crash/dumpType", "\nFull\n"},
      {"/crashreport/crash/slLogSessionDllStatus", "\n" + dllStatus + "\n"},
      {"/crashreport/sessionId", "\n" + sessionId + "\n"},
      {"/crashreport/solvaneConfigGuid", "\n" + configGuid + "\n"},
      {"/crashreport/zanUserGuid", "\n" + zanUserGuid + "\n"},
  };
  for (const auto& [xpath, value] : expectations) {
    SCOPED_TRACE(xpath);
    EXPECT_EQ(value, XPathString(xpath));
  }
}

}  // namespace
}  // namespace kx

// The report's lines in document order, the machine's values among them hostile, must parse with a real XML
// parser (xmllint) and give those values back: time zone, user, system, GPU and module texts. The values a
// crash message carries are read back the same way by the end-to-end test, through the service.
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

TEST(ReportDocumentXmlTest, HostileMachineValuesParseAndComeBackUnchanged) {
  SystemFacts facts;
  facts.versionKeyOpen = true;
  facts.productName = "Windows 10 & <Friends>";
  facts.processorName = "CPU \"Fast\" & <Cheap>";
  GpuInfo gpu;
  gpu.description = L"Adapter 'one' & \"two\" <three> C:\\x";
  // Escaped, the "&" after the zeros would straddle the 100-character cut: it is left out whole.
  gpu.pnpDeviceID = L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_" + std::wstring(57, L'0') + L"&REV_A1";
  gpu.installedDisplayDrivers = L"C:\\drv\\b&b.dll,C:\\drv\\a.dll,";

  const LocalTimeParts time{2024, 2, 29, 23, 59, 58};
  std::string document = std::string(kXmlPrologLine) + kDocTypeLine + FormatCrashReportTag({}) +
                         FormatTimeTag(time, -480, "Pacific <\"&\"> Time") +
                         FormatUserTag("kxWinLog_{<&\"guid\">}_42_abc.xml") +
                         FormatSystemTag(BuildSystemValues(facts)) + kGpuStartLine +
                         narrowByTruncation(FormatGpuInfoLine(gpu)) + kGpuEndLine + FormatCrashTag(0, 0) +
                         kBacktraceStartLine + FormatThreadElement("") + kBacktraceEndLine +
                         kRegisterSetStartLine;
  AppendRegisterTags(document, RegisterValues{});
  document += std::string(kRegisterSetEndLines) + kBinaryImageSetStartLine +
              narrowByTruncation(FormatBinaryImageLine(0x400000u, 1, L"C:\\Orvan\\a&b<c>\".dll")) +
              kBinaryImageSetEndLine + FormatTextElement("dumpType", DumpTypeName(1)) +
              FormatTextElement("slLogSessionDllStatus", "") + kCrashEndLines + kCrashReportEnd;
  std::string stored;  // as a text-mode stream stores it: CR LF line ends
  for (char c : document) stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::ofstream(kDocument, std::ios::binary) << stored;

  const auto [status, output] = RunCommand(std::string(KX_XMLLINT) + " --noout --nonet " + kDocument);
  ASSERT_EQ(0, status) << output;

  const std::pair<const char*, std::string> expectations[] = {
      {"/crashreport/time/@timezone", "Pacific <\"&\"> Time"},
      {"/crashreport/user/@guid", "{<&\"guid\">}"},
      {"/crashreport/system/@platform", "Windows 10 & <Friends>"},
      {"/crashreport/system/@machine", "CPU \"Fast\" & <Cheap>"},
      {"/crashreport/gpu/gpuinfo/@description", "Adapter 'one' & \"two\" <three> C:\\x"},
      {"/crashreport/gpu/gpuinfo/@pnpDeviceID", "PCI\\VEN_10DE&DEV_1C82&SUBSYS_" + std::string(57, '0')},
      {"/crashreport/gpu/gpuinfo/@installedDisplayDrivers", "a.dll,b&b.dll"},
      {"/crashreport/crash/binaryImageSet/binaryImage/@path", "orvan\\a&b<c>\".dll"},
  };
  for (const auto& [xpath, value] : expectations) {
    SCOPED_TRACE(xpath);
    EXPECT_EQ(value, XPathString(xpath));
  }
}

}  // namespace
}  // namespace kx

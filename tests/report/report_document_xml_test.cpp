// The report's lines, put in document order with hostile crash data, must parse with a real XML parser
// (xmllint) and give back the original values.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "common/text_utils.h"
#include "report/gpu_info.h"
#include "report/module_list.h"
#include "report/system_info.h"
#include "sample_document.h"

namespace kx {
namespace {

const char kDocumentPath[] = "report_document_hostile.xml";

// What a text-mode stream stores on Windows: each line feed as carriage return and line feed.
void WriteAsTextFile(const std::string& path, const std::string& document) {
  std::string bytes;
  for (char c : document) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  std::ofstream(path, std::ios::binary) << bytes;
}

struct CommandResult {
  int status = -1;
  std::string output;
};

CommandResult RunCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return result;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0;) result.output.append(buffer, n);
  result.status = pclose(pipe);
  return result;
}

// The string value of an XPath expression, exactly (brackets guard leading and trailing white space).
std::string XPathString(const std::string& expression) {
  const CommandResult result = RunCommand(std::string(KX_XMLLINT) + " --nonet --xpath \"concat('[', string(" +
                                          expression + "), ']')\" " + kDocumentPath + " 2>&1");
  std::string text = result.output;
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (result.status != 0 || text.size() < 2 || text.front() != '[' || text.back() != ']') {
    return "xmllint failed: " + result.output;
  }
  return text.substr(1, text.size() - 2);
}

test::MachineLines HostileMachine() {
  test::MachineLines machine;
  machine.time = FormatTimeTag(LocalTimeParts{2024, 2, 29, 23, 59, 58}, -480, "Pacific <\"&\"> Time");

  SystemFacts facts;
  facts.versionKeyOpen = true;
  facts.productName = "Windows 10 Pro & <Friends>";
  facts.version = OsVersionNumbers{10, 0, 22631};
  facts.applicationLocale = "en_US\"";
  facts.processorName = "CPU \"Fast\" & <Cheap>  ";
  facts.processorIdentifier = "Intel64 'Family' 6";
  machine.system = FormatSystemTag(BuildSystemValues(facts));

  GpuInfo gpu;
  gpu.availability = AvailabilityName(3);
  gpu.description = L"Adapter 'one' & \"two\" <three> C:\\x";
  // Escaped, the "&" after the zeros would straddle the 100-character cut: it is left out whole.
  gpu.pnpDeviceID = std::wstring(L"PCI\\VEN_10DE&DEV_1C82&SUBSYS_") + std::wstring(57, L'0') + L"&REV_A1";
  gpu.installedDisplayDrivers = L"C:\\drv\\b&b.dll,C:\\drv\\a.dll,";
  machine.gpuLines = narrowByTruncation(FormatGpuInfoLine(gpu));

  machine.moduleLines =
      narrowByTruncation(FormatBinaryImageLine(0x400000u, 0x1000u, L"C:\\Orvan\\a&b<c>\".dll") +
                         FormatBinaryImageLine(0x7F0000000000u, 0, L"/lib/x86_64-linux-gnu/libc.so.6"));
  return machine;
}

TEST(ReportDocumentXmlTest, HostileValuesParseAndComeBackUnchanged) {
  const test::SampleCrash crash = test::HostileCrash();
  const std::string document = test::AssembleDocument(crash, HostileMachine());
  // The send step keeps the text before the first closing tag of the report: it must be the real one.
  EXPECT_EQ(document.size() - 14, document.find("</crashreport>"));
  WriteAsTextFile(kDocumentPath, document);

  const CommandResult wellFormed =
      RunCommand(std::string(KX_XMLLINT) + " --noout --nonet " + kDocumentPath + " 2>&1");
  ASSERT_EQ(0, wellFormed.status) << wellFormed.output;

  const std::string source = "\"src\"\tcol?umn";  // the control byte becomes "?"
  const std::string stack = crash.stackText.substr(0, crash.stackText.size() - 1) + "?";
  struct Expectation {
    const char* xpath;
    std::string value;
  };
  const Expectation expectations[] = {
      {"/crashreport/@applicationName", crash.header.applicationName},
      {"/crashreport/@applicationVersion", crash.header.applicationVersion},
      {"/crashreport/@build", crash.header.build},
      {"/crashreport/@source", source},
      {"/crashreport/@crashType", crash.header.crashType},
      {"/crashreport/time/@timezone", "Pacific <\"&\"> Time"},
      {"/crashreport/time/@timeoffset", "-480"},
      {"/crashreport/user/@guid", crash.userGuid},
      {"/crashreport/system/@platform", "Windows 11 Pro & <Friends>"},
      {"/crashreport/system/@applicationlanguage", "en_US\""},
      {"/crashreport/system/@machine", "CPU \"Fast\" & <Cheap>"},
      {"/crashreport/system/@model", "Intel64 'Family' 6"},
      {"/crashreport/gpu/gpuinfo/@description", "Adapter 'one' & \"two\" <three> C:\\x"},
      {"/crashreport/gpu/gpuinfo/@pnpDeviceID", "PCI\\VEN_10DE&DEV_1C82&SUBSYS_" + std::string(57, '0')},
      {"/crashreport/gpu/gpuinfo/@installedDisplayDrivers", "a.dll,b&b.dll"},
      {"/crashreport/crash/@exception", "EXCEPTION_UNKNOWN"},
      {"/crashreport/crash/backtrace/thread", "\n" + stack},
      {"count(/crashreport/crash/registerSet/register)", "12"},
      {"/crashreport/crash/registerSet/register[10]/@value", "0x0000000000000246"},
      {"/crashreport/crash/binaryImageSet/binaryImage[1]/@path", "orvan\\a&b<c>\".dll"},
      {"/crashreport/crash/binaryImageSet/binaryImage[2]/@end", "0x00007F0000000000"},
      {"/crashreport/crash/dumpType", "\nFull\n"},
      {"/crashreport/crash/slLogSessionDllStatus", "\n" + crash.dllStatus + "\n"},
      {"/crashreport/sessionId", "\n" + crash.sessionId + "\n"},
      {"/crashreport/solvaneConfigGuid", "\n" + crash.configGuid + "\n"},
      {"/crashreport/zanUserGuid", "\n" + crash.zanUserGuid + "\n"},
  };
  for (const Expectation& expectation : expectations) {
    SCOPED_TRACE(expectation.xpath);
    EXPECT_EQ(expectation.value, XPathString(expectation.xpath));
  }
}

}  // namespace
}  // namespace kx

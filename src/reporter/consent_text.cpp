#include "reporter/consent_text.h"

#include <optional>

#include "common/hex_text.h"
#include "common/utf8.h"

namespace kx {
namespace {

// Report values escape "&", "<", ">", quotes and controls as decimal references; nothing else is used.
std::string DecodeReferences(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t end = text.compare(i, 2, "&#") == 0 ? text.find(';', i) : std::string_view::npos;
    if (end == std::string_view::npos || end - i > 6) {
      out += text[i];
      continue;
    }
    unsigned value = 0;
    bool digits = end > i + 2;
    for (std::size_t d = i + 2; d < end; ++d) {
      digits = digits && text[d] >= '0' && text[d] <= '9';
      value = value * 10 + static_cast<unsigned>(text[d] - '0');
    }
    if (!digits || value > 0xFF) {
      out += text[i];
      continue;
    }
    out += static_cast<char>(value);
    i = end;
  }
  return out;
}

// The report's text is UTF-8 when it decodes as such, and one byte a character otherwise.
std::wstring Widen(const std::string& text) {
  if (std::optional<std::wstring> wide = WideFromUtf8(text)) return *wide;
  std::wstring out;
  for (const char c : text) out += static_cast<wchar_t>(static_cast<unsigned char>(c));
  return out;
}

// The value of `name="..."` inside the first element that starts with `element`.
std::string Attribute(std::string_view xml, std::string_view element, const std::string& name) {
  const std::size_t start = xml.find(element);
  if (start == std::string_view::npos) return "";
  const std::size_t close = xml.find('>', start);
  const std::string_view tag = xml.substr(start, close == std::string_view::npos ? close : close - start);
  const std::size_t at = tag.find(" " + name + "=\"");
  if (at == std::string_view::npos) return "";
  const std::size_t begin = at + name.size() + 3;
  const std::size_t end = tag.find('"', begin);
  return end == std::string_view::npos ? "" : DecodeReferences(tag.substr(begin, end - begin));
}

std::wstring TwoDigits(const std::string& number) {
  return number.size() == 1 ? L"0" + Widen(number) : Widen(number);
}

std::wstring ReportTime(std::string_view xml) {
  const std::string year = Attribute(xml, "<time ", "year");
  if (year.empty()) return L"";
  std::wstring text =
      Widen(year) + L"-" + TwoDigits(Attribute(xml, "<time ", "month")) + L"-" +
      TwoDigits(Attribute(xml, "<time ", "day")) + L" " + TwoDigits(Attribute(xml, "<time ", "hour")) + L":" +
      TwoDigits(Attribute(xml, "<time ", "minute")) + L":" + TwoDigits(Attribute(xml, "<time ", "second"));
  const std::string zone = Attribute(xml, "<time ", "timezone");
  return zone.empty() || zone == "N/A" ? text : text + L" " + Widen(zone);
}

// "0 Glint.exe+0x1A2B 0x00007FF6A1B2C3D4" gives "Glint.exe+0x1A2B"; a frame outside modules gives nothing.
std::wstring FirstFrame(std::string_view xml) {
  const std::size_t thread = xml.find("<thread index=\"0\">");
  if (thread == std::string_view::npos) return L"";
  std::size_t at = xml.find('\n', thread);
  if (at == std::string_view::npos || xml.compare(at + 1, 2, "0 ") != 0) return L"";
  at += 3;
  const std::size_t end = xml.find_first_of(" \r\n<", at);
  const std::string_view frame = xml.substr(at, end == std::string_view::npos ? end : end - at);
  if (frame.find("+0x") == std::string_view::npos) return L"";
  return Widen(DecodeReferences(frame));
}

// "YYYYMMDD-HHMMSS-..." as "YYYY-MM-DD HH:MM:SS UTC"; empty for any other text.
std::wstring IdentifierTime(const std::wstring& id) {
  if (id.size() < 15 || id[8] != L'-') return L"";
  for (std::size_t i = 0; i < 15; ++i) {
    if (i != 8 && (id[i] < L'0' || id[i] > L'9')) return L"";
  }
  return id.substr(0, 4) + L"-" + id.substr(4, 2) + L"-" + id.substr(6, 2) + L" " + id.substr(9, 2) + L":" +
         id.substr(11, 2) + L":" + id.substr(13, 2) + L" UTC";
}

std::wstring ProductOrDefault(const std::wstring& productName) {
  return productName.empty() ? std::wstring(L"The application") : productName;
}

}  // namespace

ReportFacts ReadReportFacts(std::string_view reportXml) {
  ReportFacts facts;
  facts.time = ReportTime(reportXml);
  facts.exception = Widen(Attribute(reportXml, "<crash ", "exception"));
  facts.firstFrame = FirstFrame(reportXml);
  return facts;
}

DialogText ConsentDialogText(const ConsentInput& input) {
  DialogText text;
  const std::wstring product = ProductOrDefault(input.productName);
  text.title = input.productName.empty() ? std::wstring(L"Problem report") : input.productName;
  text.mainInstruction = product + L" stopped unexpectedly";
  text.content =
      L"You can send a report of this problem to help fix it; nothing leaves this computer unless "
      L"you choose Send report.";

  std::wstring details = L"Product: " + product;
  if (!input.productVersion.empty()) details += L" " + input.productVersion;
  if (!input.productBuild.empty()) details += L" (build " + input.productBuild + L")";
  details += L"\nProblem: " + Widen(input.kind.empty() ? std::string("exception") : input.kind) + L", code ";
  AppendHexCode(details, input.exceptionCode);
  if (!input.facts.exception.empty()) details += L" (" + input.facts.exception + L")";
  const std::wstring time =
      input.facts.time.empty() ? IdentifierTime(input.crashIdentifier) : input.facts.time;
  if (!time.empty()) details += L"\nTime: " + time;
  if (!input.facts.firstFrame.empty()) details += L"\nWhere: " + input.facts.firstFrame;
  details += L"\n\nFiles that would be sent:\n- " + input.reportFile +
             L" (the report above, with the "
             L"system's description and the list of loaded modules)";
  if (!input.dumpFile.empty())
    details += L"\n- " + input.dumpFile + L" (the memory of the program, only if the server asks for it)";
  for (const std::wstring& name : input.attachments) details += L"\n- " + name;
  text.details = details;
  return text;
}

DialogText HelpPageText(const std::wstring& productName, const std::wstring& link) {
  DialogText text;
  text.title = productName.empty() ? std::wstring(L"Problem report") : productName;
  text.mainInstruction = L"Thank you: the report was sent";
  text.content = L"There is a help page about this problem:\n" + link;
  return text;
}

}  // namespace kx

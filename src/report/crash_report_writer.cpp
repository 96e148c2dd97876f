#include "report/crash_report_writer.h"

#include "common/exception_names.h"
#include "common/hex_text.h"
#include "report/xml_text.h"

namespace kx {

std::string FormatCrashReportTag(const CrashReportHeader& header) {
  std::string line = "<crashreport";
  AppendXmlAttribute(line, "serviceVersion", header.serviceVersion);
  AppendXmlAttribute(line, "clientVersion", header.clientVersion);
  AppendXmlAttribute(line, "applicationName", header.applicationName);
  AppendXmlAttribute(line, "applicationVersion", header.applicationVersion);
  AppendXmlAttribute(line, "build", header.build);
  AppendXmlAttribute(line, "source", header.source);
  if (!header.crashType.empty()) AppendXmlAttribute(line, "crashType", header.crashType);
  line += ">\n";
  return line;
}

std::string FormatTimeTag(const std::optional<LocalTimeParts>& time, std::int32_t offsetMinutes,
                          std::string_view zoneName) {
  const bool known = time.has_value();
  const LocalTimeParts parts = time.value_or(LocalTimeParts{});
  const auto number = [known](int value) { return known ? std::to_string(value) : std::string(); };
  std::string line = "<time";
  AppendXmlAttribute(line, "year", number(parts.year));
  AppendXmlAttribute(line, "month", number(parts.month));
  AppendXmlAttribute(line, "day", number(parts.day));
  AppendXmlAttribute(line, "hour", number(parts.hour));
  AppendXmlAttribute(line, "minute", number(parts.minute));
  AppendXmlAttribute(line, "second", number(parts.second));
  AppendXmlAttribute(line, "timeoffset", number(offsetMinutes));
  AppendXmlAttribute(line, "timezone", known ? zoneName : std::string_view());
  line += "/>\n";
  return line;
}

std::string FormatUserTag(std::string_view logFileName) {
  std::string_view guid = logFileName;
  const std::size_t first = guid.find('_');
  if (first != std::string_view::npos) guid.remove_prefix(first + 1);
  guid = guid.substr(0, guid.find('_'));
  std::string line = "<user";
  AppendXmlAttribute(line, "guid", guid);
  line += "/>\n";
  return line;
}

std::string FormatExceptionCode(std::uint32_t code) {
  std::string digits;
  AppendHex(digits, code, 1, false);
  return digits;
}

std::string FormatCrashTag(std::uint32_t exceptionCode, std::uint64_t exceptionAddress) {
  std::string line = "<crash exception=\"";
  line += ReportExceptionName(exceptionCode);
  line += "\" exceptionCode=\"0x";
  line += FormatExceptionCode(exceptionCode);
  line += "\" instruction=\"";
  AppendAddress(line, exceptionAddress);
  line += "\">\n";
  return line;
}

std::string FormatThreadElement(std::string_view stackText) {
  std::string text = "<thread index=\"0\">\n";
  text += EscapeXmlElementText(stackText);
  text += "</thread>\n";
  return text;
}

void AppendRegisterTag(std::string& collector, std::string_view name, std::uint64_t value) {
  collector += "<register";
  AppendXmlAttribute(collector, "name", name);
  collector += " value=\"";
  AppendAddress(collector, value);
  collector += "\"/>\n";
}

void AppendRegisterTags(std::string& collector, const RegisterValues& registers) {
  AppendRegisterTag(collector, "RAX", registers.rax);
  AppendRegisterTag(collector, "RBX", registers.rbx);
  AppendRegisterTag(collector, "RCX", registers.rcx);
  AppendRegisterTag(collector, "RDX", registers.rdx);
  AppendRegisterTag(collector, "RSI", registers.rsi);
  AppendRegisterTag(collector, "RDI", registers.rdi);
  AppendRegisterTag(collector, "RSP", registers.rsp);
  AppendRegisterTag(collector, "RBP", registers.rbp);
  AppendRegisterTag(collector, "RIP", registers.rip);
  AppendRegisterTag(collector, "EFL", registers.eflags);
  AppendRegisterTag(collector, "LastExceptionToRip", registers.lastExceptionToRip);
  AppendRegisterTag(collector, "LastExceptionFromRip", registers.lastExceptionFromRip);
}

std::string_view DumpTypeName(int dumpPreference) {
  switch (dumpPreference) {
    case 0:
      return "Mini";
    case 1:
      return "Full";
    case 2:
      return "Triage";
    default:
      return {};
  }
}

std::string FormatTextElement(std::string_view name, std::string_view text) {
  std::string element;
  element += '<';
  element += name;
  element += ">\n";
  element += EscapeXmlElementText(text);
  element += "\n</";
  element += name;
  element += ">\n";
  return element;
}

std::string FormatCppExceptionElement(std::string_view type, std::string_view what) {
  std::string element = "<cppException";
  AppendXmlAttribute(element, "type", type);
  element += ">\n";
  element += EscapeXmlElementText(what);
  element += "\n</cppException>\n";
  return element;
}

std::string FormatCapturedElement(std::string_view reason) {
  return "<captured reason=\"" + EscapeReversible(reason, true) + "\"/>\n";
}

std::string FormatCrashLoopElement(std::uint32_t crashes) {
  return "<crashLoop crashes=\"" + std::to_string(crashes) + "\" dump=\"none\"/>\n";
}

std::string FormatHeldBackElement(std::uint32_t reports) {
  return "<heldBack reports=\"" + std::to_string(reports) + "\"/>\n";
}

std::string FormatAnnotationsElement(const std::vector<std::pair<std::string, std::string>>& annotations,
                                     std::string_view note) {
  std::string element = "<annotations";
  if (!note.empty()) AppendXmlAttribute(element, "note", note);
  element += ">\n";
  for (const auto& [key, value] : annotations) {
    element += "<annotation key=\"" + EscapeReversible(key, true) + "\">";
    element += EscapeReversible(value, false);
    element += "</annotation>\n";
  }
  element += "</annotations>\n";
  return element;
}

std::string FormatAttachmentsElement(const std::vector<AttachmentOutcome>& attachments) {
  std::string element = "<attachments>\n";
  for (const AttachmentOutcome& attachment : attachments) {
    element += "<attachment name=\"" + EscapeReversible(attachment.name, true) + "\"";
    AppendXmlAttribute(element, "state", attachment.state);
    if (!attachment.file.empty()) {
      AppendXmlAttribute(element, "file", attachment.file);
      AppendXmlAttribute(element, "size", std::to_string(attachment.size));
    }
    if (attachment.state == "cut")
      AppendXmlAttribute(element, "originalSize", std::to_string(attachment.originalSize));
    element += "/>\n";
  }
  element += "</attachments>\n";
  return element;
}

}  // namespace kx

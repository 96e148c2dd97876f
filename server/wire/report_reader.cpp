#include "wire/report_reader.h"

#include <algorithm>

#include <pugixml.hpp>

#include "common/ascii_text.h"
#include "dispatch/report_closing.h"
#include "prefs/installation_guid.h"
#include "wire/text.h"

namespace kx::server {
namespace {

// The report escapes every carriage return of its values, so the ones left are line ends, which the two
// copies write differently.
std::string WithoutCarriageReturns(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text[at] != '\r') out.push_back(text[at]);
  }
  return out;
}

void TrimEnd(std::string& text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '\t'))
    text.pop_back();
}

// The element sendlog adds when the dump was asked for, taken from sendlog's own closing code.
std::string DumpAttachedBlock() {
  const std::string with = WithoutCarriageReturns(CloseReportDocument(L"", true));
  const std::string without = WithoutCarriageReturns(CloseReportDocument(L"", false));
  std::string block = with.substr(1, with.size() - without.size());
  TrimEnd(block);
  return block;
}

std::string Attribute(const pugi::xml_node& node, const char* name) { return node.attribute(name).value(); }

std::string Trimmed(const char* text) {
  std::string_view view(text);
  while (!view.empty() && (view.front() == '\n' || view.front() == '\r' || view.front() == ' ')) view.remove_prefix(1);
  std::string out(view);
  TrimEnd(out);
  return out;
}

}  // namespace

ReportFacts ReadReport(std::string_view document) {
  ReportFacts facts;
  pugi::xml_document xml;
  const pugi::xml_parse_result parsed =
      xml.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_utf8);
  if (!parsed) {
    facts.problem = std::string("not well-formed XML: ") + parsed.description() + " at byte " +
                    std::to_string(parsed.offset);
    return facts;
  }
  const pugi::xml_node root = xml.child("crashreport");
  if (!root) {
    facts.problem = "no crashreport element";
    return facts;
  }
  facts.guid = Attribute(root.child("user"), "guid");
  LowerAsciiInPlace(facts.guid);
  if (!IsWellFormedGuid(Widen(facts.guid))) {
    facts.problem = "no well-formed installation GUID";
    return facts;
  }
  facts.product = Attribute(root, "applicationName");
  facts.version = Attribute(root, "applicationVersion");
  facts.build = Attribute(root, "build");
  facts.crashType = Attribute(root, "crashType");
  facts.serviceVersion = Attribute(root, "serviceVersion");
  const pugi::xml_node crash = root.child("crash");
  facts.exception = Attribute(crash, "exception");
  facts.exceptionCode = Attribute(crash, "exceptionCode");
  facts.stackText = crash.child("backtrace").child("thread").child_value();
  facts.dumpType = Trimmed(crash.child("dumpType").child_value());
  return facts;
}

std::string ReportIdentity(std::string_view document) {
  static const std::string block = DumpAttachedBlock();
  std::string text = WithoutCarriageReturns(document);
  text.resize(std::min(text.size(), text.find(kReportEndTag)));
  TrimEnd(text);
  while (text.size() >= block.size() && text.compare(text.size() - block.size(), block.size(), block) == 0) {
    text.resize(text.size() - block.size());
    TrimEnd(text);
  }
  return text;
}

}  // namespace kx::server

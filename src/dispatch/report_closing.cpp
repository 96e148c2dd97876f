#include "dispatch/report_closing.h"

#include "common/text_utils.h"

namespace kx {

std::string CloseReportDocument(std::wstring_view text, bool dumpAttached) {
  std::string document = NarrowByTruncation(text);
  document = document.substr(0, document.find(kReportEndTag));
  document += "\n";
  if (dumpAttached) document += "<dumpAttached>\n\n</dumpAttached>\n";
  document += kReportEndTag;
  document += "\n";

  std::string bytes;
  bytes.reserve(document.size() + document.size() / 16);
  for (const char c : document) {
    if (c == '\n') bytes.push_back('\r');
    bytes.push_back(c);
  }
  return bytes;
}

}  // namespace kx

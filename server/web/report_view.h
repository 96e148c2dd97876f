// Every field of a crash report document (docs/crash-report-format.md) as rows, in document order: each
// element with its depth, its attributes and its own text. The report page shows them all, so a field added
// to the document later is shown without a change here.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kx::server::web {

struct ReportField {
  int depth = 0;
  std::string element;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;  // the element's own text, trimmed
};

// Nothing when the document is not well-formed XML. At most 5000 fields, 32 elements deep.
std::optional<std::vector<ReportField>> ReportFields(std::string_view document);

}  // namespace kx::server::web

#include "web/report_view.h"

#include <pugixml.hpp>

namespace kx::server::web {
namespace {

std::string Trimmed(std::string text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// A hostile document may nest without end or hold a million elements: the page shows a bounded part.
constexpr int kMostDepth = 32;
constexpr std::size_t kMostFields = 5000;

void Walk(const pugi::xml_node& node, int depth, std::vector<ReportField>& fields) {
  if (depth > kMostDepth || fields.size() >= kMostFields) return;
  ReportField field{depth, node.name(), {}, {}};
  for (const pugi::xml_attribute& attribute : node.attributes()) field.attributes.emplace_back(attribute.name(), attribute.value());
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_pcdata || child.type() == pugi::node_cdata) field.text += child.value();
  }
  field.text = Trimmed(field.text);
  fields.push_back(std::move(field));
  for (const pugi::xml_node& child : node.children()) {
    if (child.type() == pugi::node_element) Walk(child, depth + 1, fields);
  }
}

}  // namespace

std::optional<std::vector<ReportField>> ReportFields(std::string_view document) {
  pugi::xml_document parsed;
  if (!parsed.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_utf8)) return std::nullopt;
  std::vector<ReportField> fields;
  for (const pugi::xml_node& root : parsed.children()) {
    if (root.type() == pugi::node_element) Walk(root, 0, fields);
  }
  return fields;
}

}  // namespace kx::server::web

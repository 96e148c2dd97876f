#include "wire/exchange_bodies.h"

#include <nlohmann/json.hpp>

namespace kx::server {
namespace {

using nlohmann::json;

std::optional<json> Parse(std::string_view body) {
  json value = json::parse(body.begin(), body.end(), nullptr, false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

const std::string* StringField(const json& object, const char* name) {
  const auto field = object.find(name);
  return field != object.end() && field->is_string() ? field->get_ptr<const std::string*>() : nullptr;
}

}  // namespace

std::optional<std::vector<BuildPreference>> ReadPreferenceRequest(std::string_view body) {
  if (body.empty()) return std::vector<BuildPreference>{};
  const std::optional<json> value = Parse(body);
  if (!value || !value->is_array()) return std::nullopt;
  std::vector<BuildPreference> builds;
  for (const json& item : *value) {
    if (!item.is_object()) return std::nullopt;
    const std::string* fields[] = {StringField(item, "product"), StringField(item, "version"),
                                   StringField(item, "build"), StringField(item, "preferences")};
    for (const std::string* field : fields) {
      if (field == nullptr) return std::nullopt;
    }
    builds.push_back({*fields[0], *fields[1], *fields[2], *fields[3]});
  }
  return builds;
}

bool TravelsPlain(std::string_view text) {
  for (const char c : text) {
    if (c < 0x20 || c > 0x7E || c == '"' || c == '\\' || c == '{' || c == '}') return false;
  }
  return true;
}

bool IsPreferenceValue(std::string_view value) {
  int fields = 0;
  std::size_t digits = 0;
  for (std::size_t at = 0; at <= value.size(); ++at) {
    if (at == value.size() || value[at] == '_') {
      if (digits == 0 || digits > 9 || ++fields > 8) return false;
      digits = 0;
    } else if (value[at] >= '0' && value[at] <= '9') {
      ++digits;
    } else {
      return false;
    }
  }
  return true;
}

std::string UpdatedPreferencesValue(const std::vector<BuildPreference>& builds) {
  json list = json::array();
  for (const BuildPreference& build : builds) {
    if (!TravelsPlain(build.product) || !TravelsPlain(build.version) || !TravelsPlain(build.build) ||
        !IsPreferenceValue(build.value)) {
      continue;
    }
    list.push_back({{"product", build.product}, {"version", build.version}, {"build", build.build},
                    {"preferences", build.value}});
  }
  return list.dump();
}

std::optional<EventDocument> ReadEventDocument(std::string_view body) {
  const std::optional<json> value = Parse(body);
  if (!value || !value->is_object()) return std::nullopt;
  const auto events = value->find("events");
  if (events == value->end() || !events->is_array() || events->empty()) return std::nullopt;
  EventDocument document;
  for (const json& event : *events) {
    if (!event.is_object() || StringField(event, "project") == nullptr) return std::nullopt;
    const auto data = event.find("data");
    if (data == event.end() || !data->is_object()) return std::nullopt;
    ++document.events;
  }
  const json& first = events->front();
  document.project = *StringField(first, "project");
  const json& data = first["data"];
  for (const char* name : {"event.type", "event.subtype", "event.value"}) {
    const std::string* part = StringField(data, name);
    if (!document.type.empty()) document.type += '/';
    document.type += part ? *part : "";
  }
  return document;
}

bool SameSecret(std::string_view sent, std::string_view expected) {
  unsigned char difference = sent.size() == expected.size() ? 0 : 1;
  for (std::size_t at = 0; at < expected.size(); ++at)
    difference |= static_cast<unsigned char>(expected[at] ^ (at < sent.size() ? sent[at] : 0));
  return difference == 0;
}

}  // namespace kx::server

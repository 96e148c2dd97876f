#include "ingest/event_document.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace kx {
namespace {

constexpr std::pair<const char*, const char*> kFixedMembers[] = {
    {"event.workflow", "Lifecycle"}, {"event.category", "DESKTOP"}, {"event.subcategory", "Host"},
    {"event.type", "error"},         {"event.subtype", "exit"},     {"event.value", "abnormal:crash"},
    {"env.fw.name", "Kestrix SDK"},
};

void AppendMember(std::string& members, std::string_view escapedKey, std::string_view escapedValue) {
  if (!members.empty()) members.push_back(',');
  members.append("\"").append(escapedKey).append("\":\"").append(escapedValue).append("\"");
}

}  // namespace

std::string BuildEventDocument(const EventEntries& entries, std::string_view timestamp, TextWidener widen) {
  std::string document = "{\"events\":[{\"project\":\"";
  document.append(kIngestProject).append("\",\"ingesttype\":\"solvane\",\"time\":\"");
  document.append(EscapeJsonString(std::wstring(timestamp.begin(), timestamp.end())));
  document.append("\",\"environment\":\"prod\",\"data\":{");
  std::string members;
  for (const auto& [key, value] : kFixedMembers) AppendMember(members, key, value);
  for (const auto& [key, value] : entries) {
    AppendMember(members, EscapeNarrowJsonString(key, widen), EscapeNarrowJsonString(value, widen));
  }
  document.append(members).append("}}]}");
  return document;
}

std::string FormatIsoTimestamp(const LocalTimeReading& reading) {
  const int offset = std::abs(reading.utcOffsetMinutes);
  char text[64];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02dT%02d:%02d:%02d.%03d%c%02d%02d", reading.year,
                reading.month, reading.day, reading.hour, reading.minute, reading.second, reading.millisecond,
                reading.utcOffsetMinutes < 0 ? '-' : '+', offset / 60, offset % 60);
  return text;
}

bool IsAcceptedStatus(std::uint32_t status) { return status >= 1 && status <= 399; }

}  // namespace kx

#include "ingest/event_file.h"

namespace kx {
namespace {

constexpr std::uint64_t kTicksPerHour = 36000000000ull;

bool FirstOccurrenceEnds(std::string_view path, std::string_view suffix) {
  const size_t at = path.find(suffix);
  return at != std::string_view::npos && at + suffix.size() == path.size();
}

void AddLine(std::string_view line, EventEntries& entries) {
  // Text-mode reading: the CR of a CR LF line end is not part of the line.
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return;
  entries[std::string(line.substr(0, colon))] = std::string(line.substr(colon + 1));
}

}  // namespace

std::string FormatEventFile(const std::vector<std::pair<std::string, std::string>>& entries) {
  const auto oneLine = [](std::string text) {
    for (char& c : text) {
      if (c == '\r' || c == '\n') c = ' ';
    }
    return text;
  };
  std::string text;
  for (const auto& [key, value] : entries) text += oneLine(key) + ':' + oneLine(value) + '\n';
  return text;
}

EventEntries ParseEventFile(std::string_view bytes) {
  EventEntries entries;
  while (!bytes.empty()) {
    const size_t end = bytes.find('\n');
    AddLine(bytes.substr(0, end), entries);
    if (end == std::string_view::npos) break;
    bytes.remove_prefix(end + 1);
  }
  return entries;
}

AgeRule AgeRuleOf(std::string_view utf8Path) {
  if (FirstOccurrenceEnds(utf8Path, ".log")) return AgeRule::kEventFile;
  if (FirstOccurrenceEnds(utf8Path, ".lck")) return AgeRule::kLockFile;
  return AgeRule::kNone;
}

std::uint64_t AgeLimitOf(AgeRule rule) {
  switch (rule) {
    case AgeRule::kEventFile: return 30 * 24 * kTicksPerHour;
    case AgeRule::kLockFile: return 10 * kTicksPerHour;
    case AgeRule::kNone: break;
  }
  return 0;
}

bool IsLockFileName(std::wstring_view path) {
  const std::wstring_view suffix = kLockSuffix;
  return path.size() >= suffix.size() && path.substr(path.size() - suffix.size()) == suffix;
}

}  // namespace kx

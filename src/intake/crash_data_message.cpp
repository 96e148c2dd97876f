#include "intake/crash_data_message.h"

#include <utility>
#include <vector>

#include "common/text_utils.h"

namespace kx {
namespace {

// White space as the "C" locale's isspace sees it, which is what strtol skips.
bool IsCSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

std::string ValueOf(const std::map<std::string, std::string>& records, const char* key) {
  const auto found = records.find(key);
  return found == records.end() ? std::string() : found->second;
}

}  // namespace

std::map<std::string, std::string> ReadCrashRecords(std::string_view message) {
  message = message.substr(0, message.find('\0'));
  std::vector<std::string> records;
  splitText(message, kCrashRecordSeparator, records);

  std::map<std::string, std::string> values;
  std::vector<std::string> fields;
  for (const std::string& record : records) {
    fields.clear();
    splitText(record, kCrashFieldSeparator, fields);
    if (fields.empty()) continue;
    values[fields[0]] = fields.size() >= 2 ? std::move(fields[1]) : std::string();
  }
  return values;
}

std::optional<std::uint32_t> ReadCrashNumber(std::string_view text) {
  size_t at = 0;
  while (at < text.size() && IsCSpace(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  // Digits beyond the range stop adding up once the magnitude is known to be too large; the width of the
  // platform's long plays no part.
  constexpr std::uint64_t kTooLarge = 0x80000001u;
  std::uint64_t magnitude = 0;
  const size_t firstDigit = at;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    if (magnitude < kTooLarge) magnitude = magnitude * 10 + static_cast<std::uint64_t>(text[at] - '0');
  }
  if (at == firstDigit) return std::nullopt;
  if (magnitude > (negative ? 0x80000000u : 0x7FFFFFFFu)) return std::nullopt;
  const auto value = static_cast<std::uint32_t>(magnitude);
  return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

bool ParseCrashDataMessage(std::string_view message, FileNameWidener widenFileName, CrashData& data) {
  const std::map<std::string, std::string> records = ReadCrashRecords(message);
  data.ProductName = ValueOf(records, "ProductName");
  data.ProductVersion = ValueOf(records, "ProductVersion");
  data.ProductBuild = ValueOf(records, "ProductBuild");
  data.ApplicationLocale = ValueOf(records, "LocaleString");
  data.StarlumeSessionId = ValueOf(records, "StarlumeSessionId");
  if (data.StarlumeSessionId.empty()) data.StarlumeSessionId = ValueOf(records, "SolvaneSessionId");
  data.SolvaneSessionId = ValueOf(records, "SolvaneSessionId");
  data.SolvaneConfigGuid = ValueOf(records, "SolvaneConfigGuid");
  data.ZanUserGuid = ValueOf(records, "ZanUserGuid");
  data.LogFileName = widenFileName(ValueOf(records, "LogFileName"));
  data.DumpFileName = widenFileName(ValueOf(records, "DumpFileName"));
  data.StackTrace = ValueOf(records, "StackTrace");
  data.Context = ValueOf(records, "Context");
  data.ExceptionInfo = ValueOf(records, "ExceptionInfo");
  data.KXSource = ValueOf(records, "KXSource");
  data.SignalType = ValueOf(records, "SignalType");
  data.SLLogSessionDllStatus = ValueOf(records, "SLLogSessionDllStatus");

  const std::optional<std::uint32_t> processId = ReadCrashNumber(ValueOf(records, "ProcessId"));
  if (!processId) return false;
  data.ProcessId = *processId;
  const std::optional<std::uint32_t> threadId = ReadCrashNumber(ValueOf(records, "ThreadId"));
  if (!threadId) return false;
  data.ThreadId = *threadId;
  return true;
}

}  // namespace kx

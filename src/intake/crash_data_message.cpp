#include "intake/crash_data_message.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "common/text_utils.h"

namespace kx {
namespace {

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
  const std::optional<std::int64_t> value = ReadLeadingInteger(text);
  if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
  // A negative number wraps into the unsigned field, as the sender's signed conversion would.
  return static_cast<std::uint32_t>(static_cast<std::int32_t>(*value));
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
  data.CppExceptionType = ValueOf(records, "CppExceptionType");
  data.CppExceptionWhat = ValueOf(records, "CppExceptionWhat");

  const std::optional<std::uint32_t> processId = ReadCrashNumber(ValueOf(records, "ProcessId"));
  if (!processId) return false;
  data.ProcessId = *processId;
  const std::optional<std::uint32_t> threadId = ReadCrashNumber(ValueOf(records, "ThreadId"));
  if (!threadId) return false;
  data.ThreadId = *threadId;
  return true;
}

}  // namespace kx

#include "intake/crash_data_message.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "common/hex_text.h"
#include "common/text_utils.h"

namespace kx {
namespace {

std::string ValueOf(const std::map<std::string, std::string>& records, const char* key) {
  const auto found = records.find(key);
  return found == records.end() ? std::string() : found->second;
}

// What both separators begin with.
constexpr std::string_view kSeparatorStart = kCrashFieldSeparator.substr(0, 5);

std::vector<std::string_view> Entries(std::string_view text) {
  std::vector<std::string_view> entries;
  while (!text.empty()) {
    const std::size_t end = text.find('&');
    const std::string_view entry = text.substr(0, end);
    if (!entry.empty()) entries.push_back(entry);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return entries;
}

}  // namespace

std::string CrashRecordValue(std::string value) {
  // The value follows the field separator, whose "KX" would complete a "KX---" at the value's start.
  std::string safe = "KX";
  safe.reserve(value.size() + 2);
  for (char c : value) {
    if (c == '\0') continue;
    safe.push_back(c);
    // The separators both begin with "KX---": no value may hold that sequence.
    const std::size_t n = safe.size();
    if (n >= kSeparatorStart.size() && safe.compare(n - kSeparatorStart.size(), kSeparatorStart.size(),
                                                    kSeparatorStart) == 0) {
      safe[n - 1] = '_';
    }
  }
  return safe.substr(2);
}

std::string JoinCrashRecords(const std::vector<std::pair<std::string, std::string>>& records) {
  std::string message;
  for (const auto& [key, value] : records) {
    if (!message.empty()) message += kCrashRecordSeparator;
    message += key;
    message += kCrashFieldSeparator;
    message += CrashRecordValue(value);
  }
  return message;
}

std::string EncodeCrashField(std::string_view bytes) {
  // No "-": a value must never hold the separators' "KX---".
  return PercentEncoded(bytes, "._~");
}

std::string DecodeCrashField(std::string_view text) { return PercentDecoded(text); }

std::string EncodeAnnotations(const std::vector<Annotation>& annotations) {
  std::string text;
  for (const auto& [key, value] : annotations) {
    if (!text.empty()) text += '&';
    text += EncodeCrashField(key) + '=' + EncodeCrashField(value);
  }
  return text;
}

std::string EncodeAttachments(const std::vector<std::string>& paths) {
  std::string text;
  for (const std::string& path : paths) {
    if (!text.empty()) text += '&';
    text += EncodeCrashField(path);
  }
  return text;
}

std::vector<Annotation> DecodeAnnotations(std::string_view text) {
  std::vector<Annotation> annotations;
  for (const std::string_view entry : Entries(text)) {
    const std::size_t equals = entry.find('=');
    annotations.emplace_back(
        DecodeCrashField(entry.substr(0, equals)),
        equals == std::string_view::npos ? std::string() : DecodeCrashField(entry.substr(equals + 1)));
  }
  return annotations;
}

std::vector<std::string> DecodeAttachments(std::string_view text) {
  std::vector<std::string> paths;
  for (const std::string_view entry : Entries(text)) paths.push_back(DecodeCrashField(entry));
  return paths;
}

bool KeepAnnotationsWithinBounds(std::vector<Annotation>& annotations) {
  std::vector<Annotation> kept;
  std::size_t total = 0;
  for (Annotation& annotation : annotations) {
    const std::size_t size = annotation.first.size() + annotation.second.size();
    if (annotation.first.empty() || annotation.first.size() > kMaxAnnotationKeyBytes ||
        annotation.second.size() > kMaxAnnotationValueBytes || kept.size() == kMaxAnnotations ||
        total + size > kMaxAnnotationTotalBytes) {
      continue;
    }
    total += size;
    kept.push_back(std::move(annotation));
  }
  const bool dropped = kept.size() != annotations.size();
  annotations = std::move(kept);
  return dropped;
}

std::map<std::string, std::string> ReadCrashRecords(std::string_view message) {
  message = message.substr(0, message.find('\0'));
  std::vector<std::string> records;
  SplitText(message, kCrashRecordSeparator, records);

  std::map<std::string, std::string> values;
  std::vector<std::string> fields;
  for (const std::string& record : records) {
    fields.clear();
    SplitText(record, kCrashFieldSeparator, fields);
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
  data.Annotations = DecodeAnnotations(ValueOf(records, "Annotations"));
  data.AnnotationsNote = ValueOf(records, "AnnotationsNote");
  data.Attachments = DecodeAttachments(ValueOf(records, "Attachments"));
  data.CaptureReason = DecodeCrashField(ValueOf(records, "CaptureReason")).substr(0, kMaxCaptureReasonBytes);
  // Counts: anything that is not a count reads as absent.
  for (const auto& [key, field] : {std::pair<const char*, std::uint32_t*>{"CrashLoop", &data.CrashLoop},
                                   {"HeldBackReports", &data.HeldBackReports}}) {
    const std::optional<std::uint32_t> count = ReadCrashNumber(ValueOf(records, key));
    *field = count && *count <= INT32_MAX ? *count : 0;
  }

  const std::optional<std::uint32_t> processId = ReadCrashNumber(ValueOf(records, "ProcessId"));
  if (!processId) return false;
  data.ProcessId = *processId;
  const std::optional<std::uint32_t> threadId = ReadCrashNumber(ValueOf(records, "ThreadId"));
  if (!threadId) return false;
  data.ThreadId = *threadId;
  return true;
}

}  // namespace kx

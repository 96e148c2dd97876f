#include "transport/upload_rules.h"

#include <algorithm>

#include "common/ascii_text.h"
#include "common/hex_text.h"
#include "common/text_utils.h"
#include "common/wire_names.h"
#include "dispatch/report_names.h"

namespace kx {
namespace {

bool EndsWith(std::wstring_view text, std::wstring_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

bool AllDigits(std::string_view text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A number of minDigits to maxDigits decimal digits; nothing otherwise.
std::optional<int> SmallNumber(std::string_view text, size_t minDigits, size_t maxDigits) {
  if (text.size() < minDigits || text.size() > maxDigits || !AllDigits(text)) return std::nullopt;
  int number = 0;
  for (const char c : text) number = number * 10 + (c - '0');
  return number;
}

std::optional<int> MonthOf(std::string_view name) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  for (int month = 0; month < 12; ++month) {
    if (name == kMonths[month]) return month + 1;
  }
  return std::nullopt;
}

// Seconds of the day from "hh:mm:ss".
std::optional<int> SecondsOfDay(std::string_view clock) {
  if (clock.size() != 8 || clock[2] != ':' || clock[5] != ':') return std::nullopt;
  const std::optional<int> hours = SmallNumber(clock.substr(0, 2), 2, 2);
  const std::optional<int> minutes = SmallNumber(clock.substr(3, 2), 2, 2);
  const std::optional<int> seconds = SmallNumber(clock.substr(6, 2), 2, 2);
  if (!hours || !minutes || !seconds || *hours > 23 || *minutes > 59 || *seconds > 60) return std::nullopt;
  return *hours * 3600 + *minutes * 60 + *seconds;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, counted by 400-year cycles of
// 146097 days in years that start on 1 March (so that the leap day ends a year).
std::int64_t DaysSince1970(int year, int month, int day) {
  if (month <= 2) --year;
  const std::int64_t cycle = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfCycle = year - cycle * 400;
  const std::int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const std::int64_t dayOfCycle = yearOfCycle * 365 + yearOfCycle / 4 - yearOfCycle / 100 + dayOfYear;
  return cycle * 146097 + dayOfCycle - 719468;
}

// The pieces of a text between blanks, commas and dashes (the separators of the three date forms).
std::vector<std::string_view> DateTokens(std::string_view text) {
  std::vector<std::string_view> tokens;
  size_t start = 0;
  for (size_t at = 0; at <= text.size(); ++at) {
    if (at == text.size() || text[at] == ' ' || text[at] == ',' || text[at] == '-') {
      if (at > start) tokens.push_back(text.substr(start, at - start));
      start = at + 1;
    }
  }
  return tokens;
}

// The trimmed value of the first header line of that name (lower case) after the status line.
std::optional<std::string> FirstHeaderValue(std::string_view block, std::string_view lowerName) {
  std::vector<std::string> lines;
  SplitText(block, "\n", lines);
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos) continue;
    std::string name = TrimText(std::string_view(lines[i]).substr(0, colon));
    LowerAsciiInPlace(name);
    if (name == lowerName) return TrimText(std::string_view(lines[i]).substr(colon + 1));
  }
  return std::nullopt;
}

}  // namespace

const char* UploadKindOf(std::wstring_view fileName) {
  if (!ReportNameOfAttachment(fileName).empty()) return "attachment";
  if (fileName.rfind(kReportStemStart, 0) == 0) return "report";
  if (fileName.rfind(kDumpStemStart, 0) == 0) return "dump";
  return "other";
}

std::string PercentEncode(std::string_view bytes) { return PercentEncoded(bytes, "-._~"); }

std::string UploadHeaders(std::string_view utf8FileName, std::string_view kind, std::string_view guid,
                          std::string_view utf8ReportName) {
  std::string headers = "Content-Type: application/octet-stream\r\n";
  const auto line = [&headers](std::string_view name, std::string_view value) {
    headers.append(name).append(": ").append(value).append("\r\n");
  };
  line(wire::kFileNameHeader, PercentEncode(utf8FileName));
  line(wire::kFileKindHeader, kind);
  line(wire::kInstallationGuidHeader, PercentEncode(guid));
  if (!utf8ReportName.empty()) line(wire::kReportNameHeader, PercentEncode(utf8ReportName));
  return headers;
}

bool IsFinishedFileName(std::wstring_view fileName) {
  const std::wstring_view suffix = kFinalSuffix;
  return fileName.size() > suffix.size() && EndsWith(fileName, suffix);
}

bool IsLeftoverFileName(std::wstring_view fileName) {
  return EndsWith(fileName, std::wstring(kFinalSuffix) + kDeliveredSuffix) ||
         EndsWith(fileName, std::wstring(kFinalSuffix) + L".lck");
}

UploadVerdict JudgeUploadStatus(std::uint32_t status) {
  if (status >= 200 && status <= 299) return UploadVerdict::kDelivered;
  // Proxy authentication, a time-out, "too early" and "too many requests" say nothing about the file.
  const bool transient = status == 407 || status == 408 || status == 425 || status == 429;
  if (status >= 400 && status <= 499 && !transient) return UploadVerdict::kRejected;
  return UploadVerdict::kKept;
}

std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
  const std::vector<std::string_view> tokens = DateTokens(text);
  // Every form starts with the day of the week, which says nothing the date does not.
  std::string_view day, month, year, clock;
  if (tokens.size() == 6 && tokens[5] == "GMT") {
    day = tokens[1], month = tokens[2], year = tokens[3], clock = tokens[4];
  } else if (tokens.size() == 5) {
    month = tokens[1], day = tokens[2], clock = tokens[3], year = tokens[4];
  } else {
    return std::nullopt;
  }
  const std::optional<int> dayNumber = SmallNumber(day, 1, 2);
  const std::optional<int> monthNumber = MonthOf(month);
  std::optional<int> yearNumber = SmallNumber(year, 4, 4);
  // Two-digit years of the obsolete form: the nearest century that does not put the date far ahead.
  if (const std::optional<int> shortYear = SmallNumber(year, 2, 2)) {
    yearNumber = *shortYear + (*shortYear < 70 ? 2000 : 1900);
  }
  const std::optional<int> seconds = SecondsOfDay(clock);
  if (!dayNumber || *dayNumber < 1 || *dayNumber > 31 || !monthNumber || !yearNumber || !seconds) {
    return std::nullopt;
  }
  return DaysSince1970(*yearNumber, *monthNumber, *dayNumber) * 86400 + *seconds;
}

std::optional<std::int64_t> RetryAfterFromHeaders(std::string_view headerBlock, std::int64_t now) {
  const std::optional<std::string> value = FirstHeaderValue(headerBlock, "retry-after");
  if (!value) return std::nullopt;
  std::optional<std::int64_t> until;
  if (AllDigits(*value)) {
    std::int64_t seconds = 0;
    for (const char c : *value) seconds = std::min(kMaxRetryAfterSeconds + 1, seconds * 10 + (c - '0'));
    until = now + seconds;
  } else {
    until = ParseHttpDate(*value);
  }
  if (!until || *until <= now) return std::nullopt;
  return std::min(*until, now + kMaxRetryAfterSeconds);
}

bool IsPauseInForce(std::int64_t notBefore, std::int64_t now) {
  return notBefore > now && notBefore - now <= kMaxRetryAfterSeconds;
}

std::int64_t LaterPause(std::int64_t stored, std::int64_t asked, std::int64_t now) {
  return IsPauseInForce(stored, now) ? std::max(stored, asked) : asked;
}

std::vector<QueueFate> PlanQueue(const std::vector<QueuedFile>& files, std::int64_t now) {
  std::vector<QueueFate> fates(files.size(), QueueFate::kUpload);
  std::vector<size_t> newestFirst;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].size > kMaxUploadFileBytes) {
      fates[i] = QueueFate::kTooLarge;
    } else {
      if (now - files[i].time > kMaxQueuedAgeSeconds) fates[i] = QueueFate::kLastAttempt;
      newestFirst.push_back(i);
    }
  }
  std::stable_sort(newestFirst.begin(), newestFirst.end(),
                   [&](size_t a, size_t b) { return files[a].time > files[b].time; });
  // The oldest go first: once the newest fill the bound, everything older is beyond it.
  std::uint64_t total = 0;
  for (const size_t i : newestFirst) {
    total += files[i].size;
    if (total > kMaxQueuedFolderBytes) fates[i] = QueueFate::kBeyondFolderBound;
  }
  return fates;
}

std::wstring SetAsideName(std::wstring_view name, std::wstring_view suffix, int attempt) {
  std::wstring candidate(name);
  if (attempt > 0) candidate += L"." + std::to_wstring(attempt + 1);
  return candidate.append(suffix);
}

}  // namespace kx

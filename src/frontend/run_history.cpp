#include "frontend/run_history.h"

#include <algorithm>

#include "common/hex_text.h"

namespace kx {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr const char* kRunEnds[] = {"running", "ended", "crashed"};

std::string Hex(std::uint64_t value) {
  std::string text;
  AppendHex(text, value, 1, false);
  return text;
}

// Every byte but ASCII letters, digits, ".", "_" and "~" as %XX: no blank, so one field of its line.
std::string SignatureField(std::string_view signature) { return PercentEncoded(signature, "._~"); }

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  for (;;) {
    const std::size_t end = text.find(separator);
    pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) return pieces;
    text.remove_prefix(end + 1);
  }
}

// Decimal digits only, no sign, within `limit`.
std::optional<std::uint64_t> Number(std::string_view text, std::uint64_t limit) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > limit) return std::nullopt;
  return value;
}

std::optional<std::string> Signature(std::string_view text) {
  if (text.empty()) return std::nullopt;
  return PercentDecoded(text).substr(0, kMaxSignatureBytes);
}

constexpr std::uint64_t kMaxTime = 1ULL << 40;  // far beyond any clock this runs on
constexpr std::uint64_t kMaxCount = 0xFFFFFFFFULL;

bool ReadRun(const std::vector<std::string_view>& fields, RunHistory& history) {
  if (fields.size() != 4 && fields.size() != 5) return false;
  RunRecord run;
  const auto started = Number(fields[1], kMaxTime);
  const auto process = Number(fields[2], kMaxCount);
  const auto* end = std::find(std::begin(kRunEnds), std::end(kRunEnds), fields[3]);
  if (!started || !process || end == std::end(kRunEnds)) return false;
  run.started = static_cast<std::int64_t>(*started);
  run.processId = static_cast<std::uint32_t>(*process);
  run.end = static_cast<RunEnd>(end - std::begin(kRunEnds));
  if (fields.size() == 5) {
    const auto signature = Signature(fields[4]);
    if (!signature) return false;
    run.signature = *signature;
  }
  history.runs.push_back(std::move(run));
  return true;
}

// `reserving`: the record has the reserved field (version 2).
bool ReadSignature(const std::vector<std::string_view>& fields, bool reserving, RunHistory& history) {
  const std::size_t times = reserving ? 6 : 5;
  if (fields.size() < times) return false;
  SignatureRecord record;
  const auto signature = Signature(fields[1]);
  const auto day = Number(fields[2], kMaxTime);
  const auto sent = Number(fields[3], kMaxCount);
  const auto reserved = reserving ? Number(fields[4], kMaxCount) : std::optional<std::uint64_t>(0);
  const auto heldBack = Number(fields[times - 1], kMaxCount);
  if (!signature || !day || !sent || !reserved || !heldBack) return false;
  record.signature = *signature;
  record.day = static_cast<std::int64_t>(*day);
  record.sent = static_cast<std::uint32_t>(*sent);
  record.reserved = static_cast<std::uint32_t>(*reserved);
  record.heldBack = static_cast<std::uint32_t>(*heldBack);
  for (std::size_t i = times; i < fields.size(); ++i) {
    const auto time = Number(fields[i], kMaxTime);
    if (!time) return false;
    record.crashes.push_back(static_cast<std::int64_t>(*time));
  }
  history.signatures.push_back(std::move(record));
  return true;
}

template <typename T>
void KeepLatest(std::vector<T>& items, std::size_t bound) {
  if (items.size() > bound) items.erase(items.begin(), items.end() - static_cast<std::ptrdiff_t>(bound));
}

// The signature's record, made the most recently used one (created when new; the least recently used goes
// beyond the bound).
SignatureRecord& Touch(RunHistory& history, const std::string& signature, std::int64_t now) {
  auto& records = history.signatures;
  auto found = std::find_if(records.begin(), records.end(),
                            [&](const SignatureRecord& r) { return r.signature == signature; });
  SignatureRecord record;
  if (found != records.end()) {
    record = std::move(*found);
    records.erase(found);
  } else {
    record.signature = signature.substr(0, kMaxSignatureBytes);
  }
  // A new day starts a new count of the reports that left; a clock put back to an earlier day does not.
  if (record.day < now / kSecondsPerDay) {
    record.day = now / kSecondsPerDay;
    record.sent = 0;
    record.reserved = 0;
  }
  records.push_back(std::move(record));
  KeepLatest(records, kMaxHistorySignatures);
  return records.back();
}

}  // namespace

std::string FormatRunHistory(const RunHistory& history) {
  std::string text = std::string(kRunHistoryHeader) + "\n";
  for (const RunRecord& run : history.runs) {
    text += "run " + std::to_string(run.started) + " " + std::to_string(run.processId) + " " +
            kRunEnds[static_cast<int>(run.end)];
    if (!run.signature.empty()) text += " " + SignatureField(run.signature);
    text += "\n";
  }
  for (const SignatureRecord& record : history.signatures) {
    text += "sig " + SignatureField(record.signature) + " " + std::to_string(record.day) + " " +
            std::to_string(record.sent) + " " + std::to_string(record.reserved) + " " +
            std::to_string(record.heldBack);
    for (const std::int64_t time : record.crashes) text += " " + std::to_string(time);
    text += "\n";
  }
  return text;
}

std::optional<RunHistory> ParseRunHistory(std::string_view bytes) {
  if (bytes.size() > kMaxRunHistoryBytes) return std::nullopt;
  std::vector<std::string_view> lines = Split(bytes, '\n');
  if (lines.back().empty()) lines.pop_back();  // the last line's LF
  if (lines.empty() || (lines.front() != kRunHistoryHeader && lines.front() != "KXRUNS 1")) return std::nullopt;
  const bool reserving = lines.front() == kRunHistoryHeader;
  RunHistory history;
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::vector<std::string_view> fields = Split(lines[i], ' ');
    const bool read = fields[0] == "run"   ? ReadRun(fields, history)
                      : fields[0] == "sig" ? ReadSignature(fields, reserving, history)
                                           : false;
    if (!read) return std::nullopt;
  }
  KeepLatest(history.runs, kMaxHistoryRuns);
  KeepLatest(history.signatures, kMaxHistorySignatures);
  for (SignatureRecord& record : history.signatures) KeepLatest(record.crashes, kMaxSignatureCrashTimes);
  return history;
}

std::string CrashSignature(std::uint32_t exceptionCode, const std::string& module, std::uint64_t offset) {
  return Hex(exceptionCode) + " " + (module.empty() ? "?? 0x" : module + "+0x") + Hex(offset);
}

RunFigures FiguresOf(const RunHistory& history) {
  RunFigures figures;
  figures.runs = static_cast<unsigned>(history.runs.size());
  for (const RunRecord& run : history.runs) {
    if (run.end == RunEnd::kCrashed) ++figures.crashed;
    if (run.end == RunEnd::kRunning) ++figures.unknown;
  }
  if (history.runs.empty() || history.runs.back().end != RunEnd::kCrashed) return figures;
  figures.lastSignature = history.runs.back().signature;
  for (auto run = history.runs.rbegin(); run != history.runs.rend(); ++run) {
    if (run->end != RunEnd::kCrashed || run->signature != figures.lastSignature) break;
    ++figures.sameCrashInARow;
  }
  return figures;
}

void StartRun(RunHistory& history, std::int64_t now, std::uint32_t processId) {
  RunRecord run;
  run.started = now;
  run.processId = processId;
  history.runs.push_back(run);
  KeepLatest(history.runs, kMaxHistoryRuns);
}

void EndRun(RunHistory& history, std::int64_t started, std::uint32_t processId, RunEnd end,
            const std::string& signature) {
  for (RunRecord& run : history.runs) {
    if (run.started != started || run.processId != processId) continue;
    run.end = end;
    run.signature = signature.substr(0, kMaxSignatureBytes);
  }
}

ReportVerdict RecordReport(RunHistory& history, const std::string& signature, std::int64_t now, bool crash,
                           const GuardLimits& limits) {
  SignatureRecord& record = Touch(history, signature, now);
  if (crash) {
    record.crashes.push_back(now);
    KeepLatest(record.crashes, kMaxSignatureCrashTimes);
  }
  ReportVerdict verdict;
  for (const std::int64_t time : record.crashes) {
    // A time ahead of now is a clock put back since: that crash was as recent as can be.
    if (now - std::min(time, now) < limits.loopWindowSeconds) ++verdict.crashesInWindow;
  }
  verdict.loopGuard = crash && limits.loopCrashes > 0 && verdict.crashesInWindow >= limits.loopCrashes;
  verdict.heldBack = limits.reportsPerDay > 0 && 0ULL + record.sent + record.reserved >= limits.reportsPerDay;
  if (verdict.heldBack) {
    if (record.heldBack < kMaxCount) ++record.heldBack;
  } else {
    verdict.heldBackBefore = record.heldBack;
    if (record.reserved < kMaxCount) ++record.reserved;
  }
  return verdict;
}

void RecordSent(RunHistory& history, const std::string& signature, std::int64_t now, unsigned carried) {
  SignatureRecord& record = Touch(history, signature, now);
  if (record.sent < kMaxCount) ++record.sent;
  if (record.reserved > 0) --record.reserved;
  record.heldBack -= std::min<std::uint32_t>(record.heldBack, carried);
}

void RecordDiscarded(RunHistory& history, const std::string& signature, std::int64_t now) {
  SignatureRecord& record = Touch(history, signature, now);
  if (record.reserved > 0) --record.reserved;
}

}  // namespace kx

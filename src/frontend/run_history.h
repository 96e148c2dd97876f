// The application's run history: its last runs and, per crash signature, its recent crashes and how many of
// its reports left the machine today. The crash-loop guard, the report throttle and
// CrashHandler::PreviousRuns read it. Platform-free, so that the file's reader, its writer and the rules are
// tested and fuzzed anywhere; the file itself is kept by run_history_file.*.
//
//   KXRUNS 2
//   run <started> <process id> running|ended|crashed [<signature>]
//   sig <signature> <day> <sent that day> <reserved that day> <held back> [<crash time> ...]
//
// A file of version 1 (the same without <reserved>) is read with nothing reserved.
//
// One record a line, LF-terminated, fields separated by one blank; times are seconds since 1970 (UTC), a
// day is such a time divided by 86400. A signature is percent-encoded (common/hex_text.h), so it holds
// no blank. The reader refuses a file over kMaxRunHistoryBytes, without the header, or with a line it cannot
// read; it keeps at most the bounds below, the latest records, so a hand-edited file cannot grow the work.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kx {

inline constexpr std::size_t kMaxRunHistoryBytes = 16 * 1024;
inline constexpr std::size_t kMaxHistoryRuns = 16;
inline constexpr std::size_t kMaxHistorySignatures = 16;
inline constexpr std::size_t kMaxSignatureCrashTimes = 16;
inline constexpr std::size_t kMaxSignatureBytes = 256;  // decoded; longer signatures are cut
inline constexpr char kRunHistoryHeader[] = "KXRUNS 2";

enum class RunEnd { kRunning, kEnded, kCrashed };

struct RunRecord {
  std::int64_t started = 0;
  std::uint32_t processId = 0;
  RunEnd end = RunEnd::kRunning;
  std::string signature;  // of the crash that ended it
};

struct SignatureRecord {
  std::string signature;
  std::int64_t day = 0;               // the day `sent` counts
  std::uint32_t sent = 0;             // reports of this signature that left the machine that day
  // Reports judged within that day's limit whose fate (sent or discarded) is not known yet: a report
  // waiting for consent holds its place, so that answers given later cannot send more than the limit.
  std::uint32_t reserved = 0;
  std::uint32_t heldBack = 0;         // reports held back since the last one that left
  std::vector<std::int64_t> crashes;  // crash times, oldest first
};

struct RunHistory {
  std::vector<RunRecord> runs;              // oldest first
  std::vector<SignatureRecord> signatures;  // least recently used first
};

std::string FormatRunHistory(const RunHistory& history);
// Nothing when the file is refused; the handler then starts a new history.
std::optional<RunHistory> ParseRunHistory(std::string_view bytes);

// "c0000005 app.exe+0x1a2b": the exception code and where the crash happened, the module's file name and the
// offset in it ("??" and the address outside any module). Stable from run to run of one build.
std::string CrashSignature(std::uint32_t exceptionCode, const std::string& module, std::uint64_t offset);

// What the application's earlier runs came to, as CrashHandler::PreviousRuns tells it.
struct RunFigures {
  unsigned runs = 0;             // runs recorded (at most kMaxHistoryRuns)
  unsigned crashed = 0;          // of those, ended by a crash the handler reported
  unsigned unknown = 0;          // ended without the handler knowing how (killed, power cut, still running)
  unsigned sameCrashInARow = 0;  // the latest runs, back from the last, that crashed with its signature
  std::string lastSignature;     // the last run's crash; empty when it did not crash
};
RunFigures FiguresOf(const RunHistory& history);

// Adds a run of this process; the oldest beyond the bound go.
void StartRun(RunHistory& history, std::int64_t now, std::uint32_t processId);
// Marks this process's run (by start time and id) ended well, or crashed with `signature`.
void EndRun(RunHistory& history, std::int64_t started, std::uint32_t processId, RunEnd end,
            const std::string& signature = "");

struct GuardLimits {
  unsigned loopCrashes = 3;  // 0: no crash-loop guard
  std::int64_t loopWindowSeconds = 3600;
  unsigned reportsPerDay = 10;  // per signature; 0: no throttle
};

// The guard's and the throttle's verdict on one report.
struct ReportVerdict {
  unsigned crashesInWindow = 0;  // crashes of the signature within the window, this one included
  bool loopGuard = false;        // the crash-loop guard holds: no full dump, nothing of it uploaded
  bool heldBack = false;         // the day's reports of this signature are used up: not sent, counted
  unsigned heldBackBefore = 0;   // reports of this signature held back before this one
};
// Records a report of `signature` made at `now` (a crash's time among the signature's crashes when `crash`)
// and gives the verdict; a report within the day's limit reserves its place in it. A crash time ahead of
// `now` (the clock went back) counts as `now`, and a day before the record's keeps the record's count.
ReportVerdict RecordReport(RunHistory& history, const std::string& signature, std::int64_t now, bool crash,
                           const GuardLimits& limits);
// A report of `signature` that carried `carried` held-back reports has left the machine at `now`: its
// reserved place becomes a sent one.
void RecordSent(RunHistory& history, const std::string& signature, std::int64_t now, unsigned carried);
// A report of `signature` that reserved its place was discarded at `now`: the place is free again.
void RecordDiscarded(RunHistory& history, const std::string& signature, std::int64_t now);

}  // namespace kx

// The run history's file form and the rules of the crash-loop guard, the throttle and the previous runs'
// figures. That any file reads back as it writes is the run_history fuzz target's check.
#include <gtest/gtest.h>

#include <string>

#include "handler/run_history.h"

namespace kx {
namespace {

constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kT = 20000 * kDay + 3600;  // an hour into a day

TEST(RunHistoryTest, ReadsWhatItWritesAndRefusesTheRest) {
  const std::string good =
      "KXRUNS 1\nrun 10 4 ended\nrun 20 5 crashed c0000005%20a.exe%2B0x10\nsig c0000005%20a.exe%2B0x10 3 1 2 "
      "20 30\n";
  const auto read = ParseRunHistory(good);
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ("c0000005 a.exe+0x10", read->runs[1].signature);
  EXPECT_EQ(2u, read->signatures[0].heldBack);
  EXPECT_EQ(good, FormatRunHistory(*read));
  for (const char* bad : {"", "KXRUNS 2\n", "KXRUNS 1\nrun 1 2 lost\n", "KXRUNS 1\nrun -1 2 ended\n",
                          "KXRUNS 1\nsig  1 1 1\n", "KXRUNS 1\nrun 1 2 ended\r\n", "KXRUNS 1\nrun 1 99999999999 ended\n",
                          "KXRUNS 1\nsig a 1 1\n", "KXRUNS 1\nother\n"}) {
    EXPECT_FALSE(ParseRunHistory(bad).has_value()) << bad;
  }
  EXPECT_FALSE(ParseRunHistory("KXRUNS 1\n" + std::string(kMaxRunHistoryBytes, '\n')).has_value());
  // Bounded: a long file keeps only its latest runs.
  std::string many = "KXRUNS 1\n";
  for (int i = 0; i < 40; ++i) many += "run " + std::to_string(i) + " 1 ended\n";
  EXPECT_EQ(kMaxHistoryRuns, ParseRunHistory(many)->runs.size());
  EXPECT_EQ(39, ParseRunHistory(many)->runs.back().started);
  EXPECT_EQ("e04b5804 ?? 0x10", CrashSignature(0xE04B5804, "", 0x10));
}

// Each step on one history, in order, and the verdict after it: limits of 3 crashes an hour, 2 reports a day.
TEST(RunHistoryTest, CrashLoopGuardAndThrottleByTable) {
  const GuardLimits limits{3, 3600, 2};
  struct Step {
    const char* signature;
    std::int64_t at;
    bool crash;
    bool sent;  // the report leaves the machine, carrying what it was told
    ReportVerdict expected;
  };
  const Step steps[] = {
      {"A", kT, true, true, {1, false, false, 0}},
      {"A", kT + 10, true, true, {2, false, false, 0}},
      {"B", kT + 15, true, true, {1, false, false, 0}},
      {"A", kT + 20, true, false, {3, true, true, 0}},   // the third within the hour; the day's two are used
      {"A", kT + 25, false, false, {3, false, true, 0}},  // a report that is no crash is throttled alike
      {"A", kT + kDay, true, true, {1, false, false, 2}},  // a day later: sent, carrying the two held back
      {"A", kT + kDay + 5, true, true, {2, false, false, 0}},
      {"A", kT + kDay + 9, true, false, {3, true, true, 0}},
  };
  RunHistory history;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.signature) + " at " + std::to_string(step.at - kT));
    const ReportVerdict verdict = RecordReport(history, step.signature, step.at, step.crash, limits);
    EXPECT_EQ(step.expected.crashesInWindow, verdict.crashesInWindow);
    EXPECT_EQ(step.expected.loopGuard, verdict.loopGuard);
    EXPECT_EQ(step.expected.heldBack, verdict.heldBack);
    EXPECT_EQ(step.expected.heldBackBefore, verdict.heldBackBefore);
    if (step.sent) RecordSent(history, step.signature, step.at, verdict.heldBackBefore);
    history = *ParseRunHistory(FormatRunHistory(history));  // every step goes through the file
  }
  const GuardLimits off{0, 3600, 0};
  const ReportVerdict verdict = RecordReport(history, "A", kT + kDay + 10, true, off);
  EXPECT_FALSE(verdict.loopGuard || verdict.heldBack);
}

TEST(RunHistoryTest, PreviousRunsFigures) {
  struct Case {
    const char* file;
    RunFigures expected;
  };
  const Case cases[] = {
      {"KXRUNS 1\n", {0, 0, 0, 0, ""}},
      {"KXRUNS 1\nrun 1 1 crashed A\nrun 2 1 crashed A\nrun 3 1 ended\n", {3, 2, 0, 0, ""}},
      {"KXRUNS 1\nrun 1 1 crashed A\nrun 2 1 crashed B\nrun 3 1 running\nrun 4 1 crashed A\nrun 5 1 crashed A\n",
       {5, 4, 1, 2, "A"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const RunFigures figures = FiguresOf(*ParseRunHistory(c.file));
    EXPECT_EQ(c.expected.runs, figures.runs);
    EXPECT_EQ(c.expected.crashed, figures.crashed);
    EXPECT_EQ(c.expected.unknown, figures.unknown);
    EXPECT_EQ(c.expected.sameCrashInARow, figures.sameCrashInARow);
    EXPECT_EQ(c.expected.lastSignature, figures.lastSignature);
  }
  // A run is recorded running, and ended by its own process only.
  RunHistory history;
  StartRun(history, 7, 40);
  StartRun(history, 8, 41);
  EndRun(history, 7, 40, RunEnd::kCrashed, "A");
  EndRun(history, 8, 99, RunEnd::kEnded);
  EXPECT_EQ("KXRUNS 1\nrun 7 40 crashed A\nrun 8 41 running\n", FormatRunHistory(history));
}

}  // namespace
}  // namespace kx

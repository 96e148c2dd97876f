// The handler's platform-free rules and texts. That no value of the crash data message can split a record is
// the crash_records_join fuzz target's check, and that any run history file reads back as it writes is the
// run_history target's; its Base64, its command-line quoting, its stack texts and which frame is the
// application's are read back by every end-to-end crash.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "common/name_piece.h"
#include "handler/annotation_table.h"
#include "handler/crash_message.h"
#include "handler/fault_site_rule.h"
#include "handler/run_history.h"

namespace kx {
namespace {

// Identifiers are file-name pieces that tell a process's reports apart and sort by time.
TEST(CrashMessageTest, IdentifiersAreDistinctSortedNamePieces) {
  const std::string first = MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711});
  const std::string second = MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711}, 2);
  const std::string later = MakeCrashIdentifier({2027, 1, 1, 0, 0, 0, 12});
  for (const std::string& id : {first, second, later}) EXPECT_TRUE(IsPlainNamePiece(id)) << id;
  EXPECT_NE(first, second);
  EXPECT_LT(first, later);
  EXPECT_LT(second, later);
}

// A refused change leaves the table as it was; a key set again keeps its place.
TEST(AnnotationTableTest, OrderReplacementRemovalAndBounds) {
  using A = std::vector<Annotation>;
  const std::string big(kMaxAnnotationValueBytes, 'v');
  const std::string nul("\0x", 2);
  // Side by side, so that a write past the first table's room lands in the second, not in the heap.
  const auto tables = std::make_unique<AnnotationTable[]>(2);
  AnnotationTable* const table = &tables[0];
  EXPECT_TRUE(table->Set("a", "1") && table->Set("b", nul) && table->Set("a", "22"));
  EXPECT_EQ((A{{"a", "22"}, {"b", nul}}), table->Entries());
  EXPECT_TRUE(table->Remove("a"));
  EXPECT_FALSE(table->Set("", "v"));
  EXPECT_FALSE(table->Set(std::string(65, 'k'), "v"));
  EXPECT_FALSE(table->Set("c", big + "v"));
  EXPECT_EQ((A{{"b", nul}}), table->Entries());
  EXPECT_TRUE(table->Set("c", big) && table->Set("d", big) && table->Set("e", big));
  EXPECT_FALSE(table->Set("f", big));  // the total would pass 64 KiB
  // Room made by a shorter value is room again.
  EXPECT_TRUE(table->Set("c", "") && table->Set("f", big));
  EXPECT_EQ((A{{"b", nul}, {"c", ""}, {"d", big}, {"e", big}, {"f", big}}), table->Entries());
  AnnotationTable* const full = &tables[1];
  for (std::size_t i = 0; i < kMaxAnnotations; ++i) ASSERT_TRUE(full->Set(std::to_string(i), "v"));
  EXPECT_FALSE(full->Set("one more", "v"));
  EXPECT_TRUE(full->Set("0", "replaced"));
}

// The call instruction before a return address, which may already lie in the next function; a what() text
// longer than the room is cut, and always ends.
TEST(FaultSiteTest, CallSitesAndBoundedTexts) {
  EXPECT_EQ(0x1000u, CallSiteAddress(0x1005, {0x90, 0xE8, 1, 2, 3, 4}));
  EXPECT_EQ(0x1000u, CallSiteAddress(0x1006, {0xFF, 0x15, 1, 2, 3, 4}));
  EXPECT_EQ(0x1005u, CallSiteAddress(0x1006, {1, 2, 3, 4, 0xFF, 0xD0}));
  char room[4];
  CopyBoundedText(room, sizeof(room), "abcdef");
  EXPECT_STREQ("abc", room);
}

TEST(RunHistoryTest, ReadsItsFileFormAndRefusesTheRest) {
  const auto read = ParseRunHistory("KXRUNS 1\nrun 10 4 ended\nrun 20 5 crashed c0000005%20a.exe%2B0x10\n"
                                    "sig c0000005%20a.exe%2B0x10 3 1 2 20 30\n");
  ASSERT_TRUE(read.has_value());
  EXPECT_EQ("c0000005 a.exe+0x10", read->runs[1].signature);
  EXPECT_EQ(2u, read->signatures[0].heldBack);
  for (const char* bad : {"", "KXRUNS 2\n", "KXRUNS 1\nrun 1 2 lost\n", "KXRUNS 1\nrun -1 2 ended\n",
                          "KXRUNS 1\nsig  1 1 1\n", "KXRUNS 1\nrun 1 2 ended\r\n", "KXRUNS 1\nother\n",
                          "KXRUNS 1\nrun 1 99999999999 ended\n", "KXRUNS 1\nsig a 1 1\n"}) {
    EXPECT_FALSE(ParseRunHistory(bad).has_value()) << bad;
  }
  EXPECT_FALSE(ParseRunHistory("KXRUNS 1\n" + std::string(kMaxRunHistoryBytes, '\n')).has_value());
  // Bounded: a long file keeps only its latest runs.
  std::string many = "KXRUNS 1\n";
  for (int i = 0; i < 40; ++i) many += "run " + std::to_string(i) + " 1 ended\n";
  EXPECT_EQ(kMaxHistoryRuns, ParseRunHistory(many)->runs.size());
  EXPECT_EQ(39, ParseRunHistory(many)->runs.back().started);
}

// Each step on one history, in order, and the verdict after it: limits of 3 crashes an hour, 2 reports a day.
TEST(RunHistoryTest, CrashLoopGuardAndThrottleByTable) {
  constexpr std::int64_t kDay = 86400;
  constexpr std::int64_t kT = 20000 * kDay + 3600;  // an hour into a day
  const auto tie = [](const ReportVerdict& v) {
    return std::make_tuple(v.crashesInWindow, v.loopGuard, v.heldBack, v.heldBackBefore);
  };
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
      {"A", kT + 20, true, false, {3, true, true, 0}},  // the third within the hour; the day's two are used
      {"A", kT + 25, false, false, {3, false, true, 0}},  // a report that is no crash is throttled alike
      {"A", kT + kDay, true, true, {1, false, false, 2}},  // a day later: sent, carrying the two held back
      {"A", kT + kDay + 5, true, true, {2, false, false, 0}},
      {"A", kT + kDay + 9, true, false, {3, true, true, 0}},
  };
  RunHistory history;
  for (const Step& step : steps) {
    SCOPED_TRACE(std::string(step.signature) + " at " + std::to_string(step.at - kT));
    const ReportVerdict verdict = RecordReport(history, step.signature, step.at, step.crash, {3, 3600, 2});
    EXPECT_EQ(tie(step.expected), tie(verdict));
    if (step.sent) RecordSent(history, step.signature, step.at, verdict.heldBackBefore);
    history = *ParseRunHistory(FormatRunHistory(history));  // every step goes through the file
  }
  const ReportVerdict verdict = RecordReport(history, "A", kT + kDay + 10, true, {0, 3600, 0});
  EXPECT_FALSE(verdict.loopGuard || verdict.heldBack);
}

TEST(RunHistoryTest, PreviousRunsFigures) {
  const auto tie = [](const RunFigures& f) {
    return std::make_tuple(f.runs, f.crashed, f.unknown, f.sameCrashInARow, f.lastSignature);
  };
  const std::pair<const char*, RunFigures> cases[] = {
      {"KXRUNS 1\nrun 1 1 crashed A\nrun 2 1 crashed A\nrun 3 1 ended\n", {3, 2, 0, 0, ""}},
      {"KXRUNS 1\nrun 1 1 crashed A\nrun 2 1 crashed B\nrun 3 1 running\nrun 4 1 crashed A\n"
       "run 5 1 crashed A\n",
       {5, 4, 1, 2, "A"}},
  };
  for (const auto& [file, expected] : cases) EXPECT_EQ(tie(expected), tie(FiguresOf(*ParseRunHistory(file))));
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

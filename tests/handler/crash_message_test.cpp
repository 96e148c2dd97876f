// The handler's texts. That no value of the crash data message can split a record or end the message is the
// crash_records_join fuzz target's check, read back by the service's own parser; its Base64 and its
// command-line quoting are read back by every end-to-end crash (and fuzzed).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "common/name_piece.h"
#include "handler/annotation_table.h"
#include "handler/crash_message.h"
#include "handler/fault_site_rule.h"

namespace kx {
namespace {

// What each text's reader relies on, not its layout: identifiers are file-name pieces that tell a process's
// reports apart and sort by time; a stack line gives the module and the offset in it; a line break inside a
// value would start another entry of the event file.
TEST(CrashMessageTest, TextsKeepWhatTheirReadersRelyOn) {
  const std::string first = MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711});
  const std::string second = MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711}, 2);
  const std::string later = MakeCrashIdentifier({2027, 1, 1, 0, 0, 0, 12});
  for (const std::string& id : {first, second, later}) EXPECT_TRUE(IsPlainNamePiece(id)) << id;
  EXPECT_NE(first, second);
  EXPECT_LT(first, later);
  EXPECT_LT(second, later);

  const std::string stack = FormatStackText({{"app.exe", 0x140000000, 0x140001BEC}, {"", 0, 0x10}});
  EXPECT_EQ(2, std::count(stack.begin(), stack.end(), '\n')) << stack;
  EXPECT_NE(std::string::npos, stack.find("app.exe+0x1BEC")) << stack;
  EXPECT_NE(std::string::npos, stack.find("??", stack.find('\n'))) << stack;

  const std::string event = FormatEventText({{"app.name", "two\r\nlines\n"}, {"crash.id", "1"}});
  EXPECT_EQ(2, std::count(event.begin(), event.end(), '\n')) << event;
  EXPECT_EQ(0u, event.find("app.name:two")) << event;
}

// Each step's outcome and the table after it, in the order set; a refused step changes nothing.
TEST(AnnotationTableTest, OrderReplacementRemovalAndBounds) {
  using A = std::vector<Annotation>;
  using Step = std::function<bool(AnnotationTable&)>;
  const std::string big(kMaxAnnotationValueBytes, 'v');
  const std::string nul("\0x", 2);
  auto table = std::make_unique<AnnotationTable>();
  const std::tuple<Step, bool, A> steps[] = {
      {[](AnnotationTable& t) { return t.Set("a", "1"); }, true, {{"a", "1"}}},
      {[&](AnnotationTable& t) { return t.Set("b", nul); }, true, {{"a", "1"}, {"b", nul}}},
      {[](AnnotationTable& t) { return t.Set("a", "22"); }, true, {{"a", "22"}, {"b", nul}}},
      {[](AnnotationTable& t) { return t.Remove("a"); }, true, {{"b", nul}}},
      {[](AnnotationTable& t) { return t.Remove("a"); }, false, {{"b", nul}}},
      {[](AnnotationTable& t) { return t.Set("", "v"); }, false, {{"b", nul}}},
      {[](AnnotationTable& t) { return t.Set(std::string(65, 'k'), "v"); }, false, {{"b", nul}}},
      {[&](AnnotationTable& t) { return t.Set("c", big + "v"); }, false, {{"b", nul}}},
      {[&](AnnotationTable& t) { return t.Set("c", big) && t.Set("d", big) && t.Set("e", big); }, true,
       {{"b", nul}, {"c", big}, {"d", big}, {"e", big}}},
      // The total would pass 64 KiB; room made by a shorter value is room again.
      {[&](AnnotationTable& t) { return t.Set("f", big); }, false,
       {{"b", nul}, {"c", big}, {"d", big}, {"e", big}}},
      {[&](AnnotationTable& t) { return t.Set("c", "") && t.Set("f", big); }, true,
       {{"b", nul}, {"c", ""}, {"d", big}, {"e", big}, {"f", big}}},
  };
  for (std::size_t i = 0; i < std::size(steps); ++i) {
    const auto& [step, done, after] = steps[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(done, step(*table));
    EXPECT_EQ(after, table->Entries());
  }
  auto full = std::make_unique<AnnotationTable>();
  for (std::size_t i = 0; i < kMaxAnnotations; ++i) ASSERT_TRUE(full->Set(std::to_string(i), "v"));
  EXPECT_FALSE(full->Set("one more", "v"));
  EXPECT_TRUE(full->Set("0", "replaced"));
}

TEST(FaultSiteTest, TheApplicationsFrameFollowsTheHandlersAndTheRuntimes) {
  constexpr FrameRole H = FrameRole::kHandler, E = FrameRole::kEntry, O = FrameRole::kOther;
  struct Case {
    std::vector<FrameRole> roles;
    bool calledByRuntime;
    std::size_t expected;
  };
  const Case cases[] = {
      // handler, the runtime's unnamed caller of the handler, std::terminate, __cxa_throw, the throw site
      {{H, H, O, E, E, O, O}, true, 5},
      {{H, H, E, E, O}, true, 4},  // handler, raise, abort, the caller of abort
      {{H, O, O}, true, 2},        // std::terminate called straight from the application
      {{E, E, O}, false, 2},       // RaiseException, the runtime's throw, the throw site
      {{H, H, O, E}, true, 4},     // the walk ended before the application
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, FaultFrameIndex(c.roles.data(), c.roles.size(), c.calledByRuntime));
  }
  // The call instruction before a return address, which may already lie in the next function.
  EXPECT_EQ(0x1000u, CallSiteAddress(0x1005, {0x90, 0xE8, 1, 2, 3, 4}));
  EXPECT_EQ(0x1000u, CallSiteAddress(0x1006, {0xFF, 0x15, 1, 2, 3, 4}));
  EXPECT_EQ(0x1005u, CallSiteAddress(0x1006, {1, 2, 3, 4, 0xFF, 0xD0}));
  // A what() text longer than the room is cut, and always ends.
  char room[4];
  CopyBoundedText(room, sizeof(room), "abcdef");
  EXPECT_STREQ("abc", room);
}

}  // namespace
}  // namespace kx

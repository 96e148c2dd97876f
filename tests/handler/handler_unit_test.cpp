// The handler's platform-free rules and texts; its stack texts and which frame is the application's are read
// back by every end-to-end crash.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/name_piece.h"
#include "handler/annotation_table.h"
#include "handler/crash_message.h"
#include "handler/fault_site_rule.h"

namespace kx {
namespace {

// Identifiers are file-name pieces that tell a process's reports apart and sort by time.
TEST(CrashMessageTest, IdentifiersAreDistinctSortedNamePieces) {
  const std::string first = MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711}, 1, 0xFFFFFFFF);
  const std::string second = MakeCrashIdentifier({2026, 12, 6, 9, 5, 2, 4711}, 2, 0xFFFFFFFF);
  const std::string later = MakeCrashIdentifier({2027, 1, 1, 0, 0, 0, 12}, 1, 0);
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

}  // namespace
}  // namespace kx

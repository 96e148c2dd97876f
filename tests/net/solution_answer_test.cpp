#include "net/solution_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kx {
namespace {

TEST(SolutionAnswerTest, DumpIsWantedUnlessDeclinedOrUnanswered) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},    {"yes", true}, {"1", true},     {"true", true},       {" no", true}, {"-10", true},
      {"no", false}, {"N", false},  {"nope", false}, {"No thanks", false}, {"-1", false},
  };
  for (const auto& [text, wanted] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(wanted, IsDumpWanted(text));
  }
}

// That no openable link holds a blank, a tab, a line end or a quote is the fuzz target's check; the kinds of
// link the shell is never given, the open solution URL end-to-end test's.
TEST(SolutionAnswerTest, OnlyWebLinksThatStayOneArgumentAreOpened) {
  const std::pair<std::string, bool> cases[] = {
      {"https://", true},
      {"https://help.example/caf\xe9", true},  // a character of the ANSI code page
      {"file:///C:/Windows/notepad.exe", false},
      {"https://help.example/a\x7f", false},
  };
  for (const auto& [link, openable] : cases) {
    SCOPED_TRACE(link);
    EXPECT_EQ(openable, IsOpenableLink(link));
  }
}

}  // namespace
}  // namespace kx

#include "net/server_address.h"
#include "net/solution_answer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace kx {
namespace {

TEST(ServerAddressTest, ServerValuesAreReducedToTheirHost) {
  const std::pair<const wchar_t*, const wchar_t*> cases[] = {
      {L"kxcn.orvan.example", L"kxcn.orvan.example"},
      {L"HTTPS://kxcn.orvan.example/", L"kxcn.orvan.example"},
      {L"hTtP://localhost:8443", L"localhost"},
      {L"https://localhost:8443/solution?x=1", L"localhost"},
      {L"localhost:8443", L"localhost"},
      {L"https://[::1]:8443/", L"[::1]"},
      {L"https://", L""},
  };
  for (const auto& [value, host] : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(value)));
    EXPECT_EQ(host, ServerHostFromValue(value));
  }
}

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

// That no openable link holds a blank, a tab, a line end or a quote is the fuzz target's check.
TEST(SolutionAnswerTest, OnlyWebLinksThatStayOneArgumentAreOpened) {
  const std::pair<std::string, bool> cases[] = {
      {"https://help.example/crash?id=1&lang=en#top", true},
      {"http://help.example/", true},
      {"https://", true},
      {"https://help.example/caf\xe9", true},  // a character of the ANSI code page
      {"HTTPS://help.example/", false},
      {"C:\\Windows\\notepad.exe", false},
      {"file:///C:/Windows/notepad.exe", false},
      {"https://help.example/\" --new-window \"https://other.example", false},
      {"https://help.example/a\x7f", false},
  };
  for (const auto& [link, openable] : cases) {
    SCOPED_TRACE(link);
    EXPECT_EQ(openable, IsOpenableLink(link));
  }
}

}  // namespace
}  // namespace kx

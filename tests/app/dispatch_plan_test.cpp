#include "app/dispatch_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace kx {
namespace {

using Steps = std::vector<Step>;

Invocation Words(const std::string& command, const std::string& identifier = "1234",
                 const std::string* verify = nullptr) {
  return MakeInvocation(L"C:\\Client Dir\\", command, identifier, verify);
}

TEST(DispatchPlanTest, EachCommandWordRunsItsProcessorsInOrder) {
  const std::pair<const char*, Steps> cases[] = {
      {"createdump", {Step::kDumpRequest}},
      {"solutionurl", {Step::kFetchSolutionUrl}},
      {"sendlog", {Step::kSendReport, Step::kLaunchLogTransport}},
      {"dontsend", {Step::kDiscardReport}},
      {"updatepvbpreference", {Step::kSyncPreferences, Step::kLaunchLogTransport}},
      {"opensolutionurl", {Step::kOpenSolutionUrl}},
      {"postingestevent", {Step::kPostIngestEvents}},
      // Any ASCII case is accepted.
      {"CREATEDUMP", {Step::kDumpRequest}},
      {"SendLog", {Step::kSendReport, Step::kLaunchLogTransport}},
      // Anything else runs nothing: near misses, blanks, other scripts' letters.
      {"createdump ", {}}, {"createdum", {}}, {"createdumps", {}}, {"", {}}, {"\xC9" "CREATEDUMP", {}},
  };
  for (const auto& [word, steps] : cases) {
    SCOPED_TRACE(word);
    EXPECT_EQ(steps, PlanSteps(Words(word)));
  }
}

TEST(DispatchPlanTest, IdentifierKeepsItsCaseAndTheVerifyFlagIsOnOnlyForExactlyOne) {
  EXPECT_EQ("AbC-42", Words("SoLuTiOnUrL", "AbC-42").crashIdentifier);
  EXPECT_FALSE(Words("sendlog").bVerifySignatureBeforeLaunching);
  const std::string one = "1";
  EXPECT_TRUE(Words("sendlog", "7", &one).bVerifySignatureBeforeLaunching);
  for (const std::string other : {"", "0", "2", "01", "1 ", " 1", "11", "true", "I"}) {
    SCOPED_TRACE(other);
    EXPECT_FALSE(Words("sendlog", "7", &other).bVerifySignatureBeforeLaunching);
  }
}

TEST(DispatchPlanTest, UnsafeIdentifierSkipsOnlyTheStepsThatUseIt) {
  for (const std::string identifier : {"..\\..\\x", "a/b", "c:x", "tab\there", "\x7F"}) {
    SCOPED_TRACE(identifier);
    EXPECT_EQ(Steps{}, PlanSteps(Words("createdump", identifier)));
    EXPECT_EQ(Steps{}, PlanSteps(Words("solutionurl", identifier)));
    EXPECT_EQ(Steps{}, PlanSteps(Words("dontsend", identifier)));
    EXPECT_EQ(Steps{}, PlanSteps(Words("opensolutionurl", identifier)));
    EXPECT_EQ(Steps{Step::kLaunchLogTransport}, PlanSteps(Words("sendlog", identifier)));
    EXPECT_EQ((Steps{Step::kSyncPreferences, Step::kLaunchLogTransport}),
              PlanSteps(Words("updatepvbpreference", identifier)));
    EXPECT_EQ(Steps{Step::kPostIngestEvents}, PlanSteps(Words("postingestevent", identifier)));
  }
}

}  // namespace
}  // namespace kx

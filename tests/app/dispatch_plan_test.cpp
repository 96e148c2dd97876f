#include "app/dispatch_plan.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace kx {
namespace {

using Steps = std::vector<Step>;

Invocation Words(const std::string& command, const std::string& identifier = "1234",
                 const std::string* verify = nullptr) {
  return MakeInvocation(L"C:\\Client Dir\\", command, identifier, verify);
}

// Which identifiers are unsafe is IsPlainNamePiece's table; here one shows which steps need it.
TEST(DispatchPlanTest, EachCommandWordRunsItsStepsInOrderAndAnUnsafeIdentifierOnlyThoseWithoutIt) {
  const Steps transport = {Step::kStartLogTransport};
  const Steps send = {Step::kSendReport, Step::kStartLogTransport};
  const Steps sync = {Step::kSyncPreferences, Step::kStartLogTransport};
  const Steps ingest = {Step::kPostEvents};
  // The word, its steps, and its steps with an unsafe identifier.
  const std::tuple<const char*, Steps, Steps> cases[] = {
      {"createdump", {Step::kCreateDump}, {}},
      {"solutionurl", {Step::kExchangeSolutionLink}, {}},
      {"sendlog", send, transport},
      {"dontsend", {Step::kDiscardReport}, {}},
      {"updatepvbpreference", sync, sync},
      {"opensolutionurl", {Step::kOpenSolutionLink}, {}},
      {"postingestevent", ingest, ingest},
      {"SendLog", send, transport},  // any ASCII case
      // Anything else runs nothing: near misses, blanks, other scripts' letters.
      {"createdumps", {}, {}},
      {"\xC9\x43REATEDUMP", {}, {}},
  };
  for (const auto& [word, steps, unsafe] : cases) {
    SCOPED_TRACE(word);
    EXPECT_EQ(steps, PlanSteps(Words(word)));
    EXPECT_EQ(unsafe, PlanSteps(Words(word, "..\\..\\x")));
  }
}

TEST(DispatchPlanTest, IdentifierKeepsItsCaseAndTheVerifyFlagIsOnOnlyForExactlyOne) {
  EXPECT_EQ("AbC-42", Words("SoLuTiOnUrL", "AbC-42").crashIdentifier);
  EXPECT_FALSE(Words("sendlog").checkTransportSignature);
  for (const std::string word : {"1", "", "0", "01", "1 ", " 1", "true", "I"}) {
    EXPECT_EQ(word == "1", Words("sendlog", "7", &word).checkTransportSignature) << word;
  }
}

}  // namespace
}  // namespace kx

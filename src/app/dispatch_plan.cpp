#include "app/dispatch_plan.h"

#include <utility>

#include "common/ascii_text.h"
#include "common/name_piece.h"

namespace kx {

bool IsRecognisedWordCount(int wordCount) { return wordCount == 4 || wordCount == 5; }

Invocation MakeInvocation(std::wstring clientDirectory, std::string commandWord, std::string crashIdentifier,
                          const std::string* verifyWord) {
  Invocation invocation;
  invocation.clientDirectory = std::move(clientDirectory);
  invocation.commandWord = std::move(commandWord);
  LowerAsciiInPlace(invocation.commandWord);
  invocation.crashIdentifier = std::move(crashIdentifier);
  invocation.bVerifySignatureBeforeLaunching = verifyWord != nullptr && *verifyWord == "1";
  return invocation;
}

std::vector<Step> PlanSteps(const Invocation& invocation) {
  const std::string& word = invocation.commandWord;
  const bool idUsable = IsPlainNamePiece(invocation.crashIdentifier);
  auto ifIdUsable = [idUsable](Step step) {
    return idUsable ? std::vector<Step>{step} : std::vector<Step>{};
  };

  if (word == "createdump") return ifIdUsable(Step::kDumpRequest);
  if (word == "solutionurl") return ifIdUsable(Step::kFetchSolutionUrl);
  if (word == "sendlog") {
    std::vector<Step> steps = ifIdUsable(Step::kSendReport);
    steps.push_back(Step::kLaunchLogTransport);
    return steps;
  }
  if (word == "dontsend") return ifIdUsable(Step::kDiscardReport);
  if (word == "updatepvbpreference") return {Step::kSyncPreferences, Step::kLaunchLogTransport};
  if (word == "opensolutionurl") return ifIdUsable(Step::kOpenSolutionUrl);
  if (word == "postingestevent") return {Step::kPostIngestEvents};
  return {};
}

}  // namespace kx

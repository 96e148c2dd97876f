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
  invocation.checkTransportSignature = verifyWord != nullptr && *verifyWord == "1";
  return invocation;
}

std::vector<Step> PlanSteps(const Invocation& invocation) {
  const std::string& word = invocation.commandWord;
  const bool idUsable = IsPlainNamePiece(invocation.crashIdentifier);
  auto ifIdUsable = [idUsable](Step step) {
    return idUsable ? std::vector<Step>{step} : std::vector<Step>{};
  };

  if (word == "createdump") return ifIdUsable(Step::kCreateDump);
  if (word == "solutionurl") return ifIdUsable(Step::kExchangeSolutionLink);
  if (word == "sendlog") {
    std::vector<Step> steps = ifIdUsable(Step::kSendReport);
    steps.push_back(Step::kStartLogTransport);
    return steps;
  }
  if (word == "dontsend") return ifIdUsable(Step::kDiscardReport);
  if (word == "updatepvbpreference") return {Step::kSyncPreferences, Step::kStartLogTransport};
  if (word == "opensolutionurl") return ifIdUsable(Step::kOpenSolutionLink);
  if (word == "postingestevent") return {Step::kPostEvents};
  return {};
}

}  // namespace kx

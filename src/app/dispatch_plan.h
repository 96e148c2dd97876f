// Which steps a command line runs. Platform-free: the caller splits and narrows the words.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kx {

// The words of a recognised command line, as handed to the steps.
struct Invocation {
  std::wstring clientDirectory;  // word 1, unchanged
  std::string commandWord;       // word 2, narrowed and lower-cased
  std::string crashIdentifier;   // word 3, narrowed
  bool checkTransportSignature = false;  // word 4 is exactly "1"
};

// The steps a command is made of, in the order they run; each is one file of this folder.
enum class Step {
  kCreateDump,            // CreateDump (createdump)
  kExchangeSolutionLink,  // ExchangeSolutionLink (solutionurl)
  kSendReport,            // SendReport (sendlog)
  kDiscardReport,         // DiscardReport (dontsend)
  kSyncPreferences,       // SyncPreferences (updatepvbpreference)
  kStartLogTransport,     // StartLogTransport (after sendlog and updatepvbpreference)
  kOpenSolutionLink,      // OpenSolutionLink (opensolutionurl)
  kPostEvents,            // PostQueuedEvents (postingestevent)
};

// The program path plus three or four arguments.
bool IsRecognisedWordCount(int wordCount);

// verifyWord is null when the command line has no fifth word.
Invocation MakeInvocation(std::wstring clientDirectory, std::string commandWord, std::string crashIdentifier,
                          const std::string* verifyWord);

// Empty for a command word outside the seven. A step that would join an unsafe crash identifier into a file
// or pipe name is left out; the steps that do not use the identifier still run.
std::vector<Step> PlanSteps(const Invocation& invocation);

}  // namespace kx

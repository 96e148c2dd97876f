#include "frontend/service_commands.h"

#include <utility>

namespace kx {
namespace {

// The service notices a client that went away at once; after it ended, the pipe waits no longer than this.
constexpr DWORD kPipeGraceMs = 2000;

}  // namespace

ServiceCommands::ServiceCommands(std::wstring servicePath, std::wstring clientDirectory)
    : servicePath_(std::move(servicePath)), clientDirectory_(std::move(clientDirectory)) {}

ServiceCommands::PipedRun ServiceCommands::RunWithPipe(const std::wstring& command,
                                                       const std::wstring& crashIdentifier,
                                                       const std::string* bytes, DWORD limitMs) const {
  CrashPipe::Options pipeOptions;
  pipeOptions.waitMs = limitMs;
  CrashPipe pipe(crashIdentifier, pipeOptions);
  PipedRun run;
  if (!pipe.created()) {
    run.pipe.failure = pipe.createFailure();
    return run;
  }
  if (bytes != nullptr) {
    pipe.StartWriting(*bytes);
  } else {
    pipe.StartReading();
  }
  run.service = Run(command, crashIdentifier, {}, limitMs);
  // The service has ended (or could not start): a client that has not come by now never will.
  run.pipe = pipe.Finish(kPipeGraceMs);
  return run;
}

ServiceCommands::PipedRun ServiceCommands::RunWritingPipe(const std::wstring& command,
                                                          const std::wstring& crashIdentifier,
                                                          const std::string& bytes, DWORD limitMs) const {
  return RunWithPipe(command, crashIdentifier, &bytes, limitMs);
}

ServiceCommands::PipedRun ServiceCommands::RunReadingPipe(const std::wstring& command,
                                                          const std::wstring& crashIdentifier,
                                                          DWORD limitMs) const {
  return RunWithPipe(command, crashIdentifier, nullptr, limitMs);
}

std::vector<std::wstring> ServiceCommands::Words(const std::wstring& command,
                                                 const std::wstring& crashIdentifier,
                                                 const std::vector<std::wstring>& more) const {
  std::vector<std::wstring> words = {clientDirectory_, command, crashIdentifier};
  words.insert(words.end(), more.begin(), more.end());
  return words;
}

ChildRun ServiceCommands::Run(const std::wstring& command, const std::wstring& crashIdentifier,
                              const std::vector<std::wstring>& more, DWORD limitMs) const {
  return RunChild(servicePath_, Words(command, crashIdentifier, more), limitMs);
}

DWORD ServiceCommands::Start(const std::wstring& command, const std::wstring& crashIdentifier,
                             const std::vector<std::wstring>& more) const {
  return StartDetached(servicePath_, Words(command, crashIdentifier, more));
}

}  // namespace kx

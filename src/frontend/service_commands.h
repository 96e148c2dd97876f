// The service as a front end starts it (docs/front-end-contract.md): the program and its client directory
// fixed, each command with the crash identifier and any further words, and for the commands that talk over
// the crash's pipe, the pipe served while the service runs. Every wait is bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "frontend/child_process.h"
#include "frontend/crash_pipe.h"

namespace kx {

class ServiceCommands {
 public:
  ServiceCommands(std::wstring servicePath, std::wstring clientDirectory);

  const std::wstring& servicePath() const { return servicePath_; }
  const std::wstring& clientDirectory() const { return clientDirectory_; }

  struct PipedRun {
    ChildRun service;
    CrashPipe::Outcome pipe;
  };
  // Serves the crash's pipe with `bytes` (the caller adds the NUL) while the service runs `command`.
  PipedRun RunWritingPipe(const std::wstring& command, const std::wstring& crashIdentifier,
                          const std::string& bytes, DWORD limitMs) const;
  // Serves the crash's pipe as a reader while the service runs `command`.
  PipedRun RunReadingPipe(const std::wstring& command, const std::wstring& crashIdentifier,
                          DWORD limitMs) const;
  // Runs `command` and waits for it at most limitMs; one still running then is terminated.
  ChildRun Run(const std::wstring& command, const std::wstring& crashIdentifier,
               const std::vector<std::wstring>& more, DWORD limitMs) const;
  // Starts `command` and lets it run on its own; the CreateProcessW error, ERROR_SUCCESS when started.
  DWORD Start(const std::wstring& command, const std::wstring& crashIdentifier,
              const std::vector<std::wstring>& more) const;

 private:
  // Serves the pipe, writing `bytes` (reading when null), while the service runs `command`.
  PipedRun RunWithPipe(const std::wstring& command, const std::wstring& crashIdentifier,
                       const std::string* bytes, DWORD limitMs) const;
  std::vector<std::wstring> Words(const std::wstring& command, const std::wstring& crashIdentifier,
                                  const std::vector<std::wstring>& more) const;

  std::wstring servicePath_;
  std::wstring clientDirectory_;
};

}  // namespace kx

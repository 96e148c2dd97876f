// The front end's side of a crash's named pipe, for tests that drive the service (or its pipe channel)
// through a real pipe. The pipe is created at once, since the service expects it to exist when it starts;
// one client is then served on a thread of the server's own. Every wait is bounded, so a client that never
// comes, never reads or never closes makes the server give up instead of hanging the test.
#pragma once

#include <windows.h>

#include <string>
#include <thread>

#include "common/win_handles.h"

namespace kx::test {

// "\\.\pipe\orvan_kxclient_" + identifier: where the front end serves a crash's pipe.
std::wstring CrashPipeName(const std::string& crashIdentifier);

// A crash identifier that no other pipe of this test run uses.
std::string UniqueCrashIdentifier();

class TestPipeServer {
 public:
  struct Options {
    DWORD bufferSize = 0;  // in- and out-buffer size for CreateNamedPipeW; 0 leaves it to the system
    DWORD waitMs = 30000;  // limit of each wait: for the client, for a write or a read to complete
  };

  struct Outcome {
    bool connected = false;     // a client came
    DWORD bytesWritten = 0;     // what the single write reported
    std::string received;       // every byte the client sent, in order
    bool clientClosed = false;  // the client closed its end before the server gave up
    std::string failure;        // the first unexpected event, with its Win32 error text; empty when none
  };

  enum class AfterWrite {
    kWaitForClientToClose,  // as the front end does: keep the pipe until the service is done with it
    kHangUp,                // close the server's end as soon as the write has completed
  };

  explicit TestPipeServer(const std::string& crashIdentifier) : TestPipeServer(crashIdentifier, Options()) {}
  TestPipeServer(const std::string& crashIdentifier, Options options);
  ~TestPipeServer();  // ends any wait at once and joins the serving thread
  TestPipeServer(const TestPipeServer&) = delete;
  TestPipeServer& operator=(const TestPipeServer&) = delete;

  // Empty when the pipe was created; otherwise why it was not.
  const std::string& createFailure() const { return createFailure_; }

  // Serves one client: writes the bytes exactly as given (the caller adds the terminating NUL) in a single
  // WriteFile, then acts as `after` says, collecting anything the client sends meanwhile.
  void StartWriting(std::string bytes, AfterWrite after = AfterWrite::kWaitForClientToClose);
  // Serves one client: collects what it sends until it closes its end.
  void StartReading();

  // Waits for the serving thread and tells what happened. Call once, after Start... With a limit, a serving
  // thread still waiting after that many milliseconds is told to give up (its wait is then the failure).
  Outcome Finish(DWORD limitMs = INFINITE);

 private:
  void ServeWrite(const std::string& bytes, AfterWrite after);
  void ServeRead();
  bool WaitForClient();
  void CollectUntilClientCloses();
  // Completes an overlapped operation that `started` began: waits for it, and cancels it when the wait runs
  // out or the server is stopped. Returns the operation's Win32 error, ERROR_SUCCESS when it completed.
  DWORD Complete(BOOL started, OVERLAPPED& overlapped, DWORD& bytes, const char* what);
  void Fail(const std::string& what, DWORD error);

  Options options_;
  std::string createFailure_;
  UniqueFileHandle pipe_;
  UniqueHandle stop_;
  UniqueHandle served_;  // set when the serving thread is done
  std::thread thread_;
  Outcome outcome_;  // written by the serving thread, read after it is joined
};

}  // namespace kx::test

// The front end's side of a crash's named pipe (pipe_protocol.h). The pipe is
// created at once, since the service expects it to exist when it starts, and only the current user may open
// it (the crash data describes the user's process). One client is then served on a thread of the pipe's own.
// Every wait is bounded, so a service that never comes, never reads or never closes makes the pipe give up.
#pragma once

#include <windows.h>

#include <string>

#include "common/win_handles.h"
#include "intake/pipe_protocol.h"

namespace kx {

class CrashPipe {
 public:
  struct Options {
    DWORD bufferSize = 0;  // in- and out-buffer size for CreateNamedPipeW; 0 leaves it to the system
    DWORD waitMs = 30000;  // limit of each wait: for the client, for a write or a read to complete
  };

  struct Outcome {
    bool connected = false;     // a client came
    DWORD bytesWritten = 0;     // what the single write reported
    std::string received;       // every byte the client sent, in order
    bool clientClosed = false;  // the client closed its end before the pipe gave up
    std::string failure;        // the first unexpected event and its Win32 error; empty when none
  };

  enum class AfterWrite {
    kWaitForClientToClose,  // keep the pipe until the service is done with it
    kHangUp,                // close the pipe's end as soon as the write has completed
  };

  explicit CrashPipe(const std::wstring& crashIdentifier) : CrashPipe(crashIdentifier, Options()) {}
  CrashPipe(const std::wstring& crashIdentifier, Options options);
  ~CrashPipe();  // ends any wait at once and waits for the serving thread
  CrashPipe(const CrashPipe&) = delete;
  CrashPipe& operator=(const CrashPipe&) = delete;

  // Before it is served: whether the pipe was created.
  bool created() const { return pipe_.valid(); }
  // Why the pipe was not created; empty when it was.
  const std::string& createFailure() const { return createFailure_; }

  // Serves one client: writes the bytes exactly as given (the caller adds the terminating NUL) in a single
  // WriteFile, then acts as `after` says, collecting anything the client sends meanwhile.
  void StartWriting(std::string bytes, AfterWrite after = AfterWrite::kWaitForClientToClose);
  // Serves one client: collects what it sends until it closes its end.
  void StartReading();

  // Tells a serving thread still waiting to give up now (for instance because the client program ended).
  void Stop();
  // Waits for the serving thread and tells what happened. Call once, after Start... With a limit, a serving
  // thread still waiting after that many milliseconds is told to give up.
  Outcome Finish(DWORD limitMs = INFINITE);

 private:
  enum class Mode { kWrite, kRead };
  static DWORD WINAPI Serve(void* self);
  void ServeWrite();
  bool WaitForClient();
  void CollectUntilClientCloses();
  // Completes an overlapped operation that `started` began: waits for it, and cancels it when the wait runs
  // out or the pipe is stopped. Returns the operation's Win32 error, ERROR_SUCCESS when it completed.
  DWORD Complete(BOOL started, OVERLAPPED& overlapped, DWORD& bytes, const char* what);
  void Fail(const std::string& what, DWORD error);
  void StartThread(Mode mode);

  Options options_;
  std::string createFailure_;
  UniqueFileHandle pipe_;
  UniqueHandle stop_;
  UniqueHandle thread_;
  Mode mode_ = Mode::kRead;
  std::string bytes_;
  AfterWrite after_ = AfterWrite::kWaitForClientToClose;
  Outcome outcome_;  // written by the serving thread, read after it has ended
};

}  // namespace kx

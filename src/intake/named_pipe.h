// The service's end of a crash's named pipe (pipe_protocol.h). With logging on, each connect empties
// "NamedPipe.txt", and the connect and the following read or write write their lines there.
#pragma once

#include <windows.h>

#include <string>

#include "common/diagnostic_log.h"
#include "common/win_handles.h"
#include "intake/pipe_protocol.h"

namespace kx {

// How long a read or write waits for the front end. A front end that hangs or dies must not keep the service
// (and, for createdump, the crashed application it waits on) alive for ever.
inline constexpr DWORD kPipeWaitLimitMs = 30000;

class NamedPipe {
 public:
  explicit NamedPipe(DWORD waitLimitMs = kPipeWaitLimitMs) noexcept
      : log_(LogComponent::NamedPipe), waitLimitMs_(waitLimitMs) {}
  NamedPipe(const NamedPipe&) = delete;
  NamedPipe& operator=(const NamedPipe&) = delete;

  // Opens the crash's pipe for reading and writing: no waiting when it is busy, no retry, and at
  // identification level only, so the serving process cannot impersonate the service. Takes the logging
  // switch for this connect and the read or write that follows. Returns the connection; null when the pipe
  // could not be opened, or when the process serving it runs as another user than the service, at a lower
  // integrity level, or cannot be identified (then it is closed again at once, and logged). The connection
  // stays owned by this object: it is closed by the next connect or when the object is destroyed.
  HANDLE Connect(const std::string& crashIdentifier);

  // One message from the front end: the text before the first NUL among the bytes that one read returns.
  // A message longer than kMaxPipeMessageBytes is cut to that length. Empty when there is no connection or
  // the read fails. Waits until the front end writes or closes its end, at most the wait limit, and no longer
  // than the process serving the pipe lives.
  std::string ReadMessage();

  // Sends the text (up to its first NUL, if it holds one) followed by one NUL, in one write. Without a
  // connection, or when the write fails, nothing is sent and nothing is reported. Bounded like a read.
  void WriteMessage(const std::string& text);

 private:
  // Completes an overlapped read or write: the byte count, or 0 after a failure, the wait limit or the end of
  // the serving process (logged).
  DWORD Complete(BOOL started, OVERLAPPED& overlapped);

  ComponentLog log_;
  DWORD waitLimitMs_;
  UniqueHandle connection_;  // null while not connected
  UniqueHandle server_;      // the process serving the pipe; null while not connected
};

}  // namespace kx

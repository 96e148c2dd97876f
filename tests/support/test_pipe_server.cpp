#include "support/test_pipe_server.h"

#include <atomic>
#include <utility>
#include <vector>

#include "support/service_harness.h"

namespace kx::test {
namespace {

// An OVERLAPPED with an event of its own, reset for one operation.
struct PendingIo {
  PendingIo() : event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) { overlapped.hEvent = event.get(); }
  UniqueHandle event;
  OVERLAPPED overlapped = {};
};

bool IsClientGone(DWORD error) { return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA; }

}  // namespace

std::wstring CrashPipeName(const std::string& crashIdentifier) {
  std::wstring name = L"\\\\.\\pipe\\orvan_kxclient_";
  const int length = ::MultiByteToWideChar(CP_ACP, 0, crashIdentifier.data(),
                                           static_cast<int>(crashIdentifier.size()), nullptr, 0);
  if (length > 0) {
    std::wstring wide(static_cast<size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, crashIdentifier.data(), static_cast<int>(crashIdentifier.size()),
                          wide.data(), length);
    name += wide;
  }
  return name;
}

std::string UniqueCrashIdentifier() {
  static std::atomic<int> counter{0};
  return "kxtest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

TestPipeServer::TestPipeServer(const std::string& crashIdentifier, Options options)
    : options_(options),
      stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      served_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  // The first instance, so that a pipe left behind by someone else cannot be mistaken for ours.
  pipe_.reset(::CreateNamedPipeW(CrashPipeName(crashIdentifier).c_str(),
                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, options.bufferSize,
                                 options.bufferSize, 0, nullptr));
  if (!pipe_) createFailure_ = "CreateNamedPipeW: " + Win32ErrorText(::GetLastError());
}

TestPipeServer::~TestPipeServer() {
  ::SetEvent(stop_.get());
  if (thread_.joinable()) thread_.join();
}

void TestPipeServer::StartWriting(std::string bytes, AfterWrite after) {
  thread_ = std::thread([this, message = std::move(bytes), after] {
    ServeWrite(message, after);
    ::SetEvent(served_.get());
  });
}

void TestPipeServer::StartReading() {
  thread_ = std::thread([this] {
    ServeRead();
    ::SetEvent(served_.get());
  });
}

TestPipeServer::Outcome TestPipeServer::Finish(DWORD limitMs) {
  if (limitMs != INFINITE && ::WaitForSingleObject(served_.get(), limitMs) != WAIT_OBJECT_0) {
    ::SetEvent(stop_.get());
  }
  if (thread_.joinable()) thread_.join();
  return std::move(outcome_);
}

void TestPipeServer::ServeWrite(const std::string& bytes, AfterWrite after) {
  if (!WaitForClient()) return;
  PendingIo io;
  const BOOL started =
      ::WriteFile(pipe_.get(), bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &io.overlapped);
  const DWORD error = Complete(started, io.overlapped, outcome_.bytesWritten, "the write");
  if (IsClientGone(error)) {
    outcome_.clientClosed = true;
    return;
  }
  if (error != ERROR_SUCCESS) return;
  if (after == AfterWrite::kHangUp) {
    pipe_.reset();
    return;
  }
  CollectUntilClientCloses();
}

void TestPipeServer::ServeRead() {
  if (WaitForClient()) CollectUntilClientCloses();
}

bool TestPipeServer::WaitForClient() {
  if (!pipe_) {
    outcome_.failure = createFailure_;
    return false;
  }
  PendingIo io;
  const BOOL started = ::ConnectNamedPipe(pipe_.get(), &io.overlapped);
  // A client that opened the pipe before this call is already connected.
  if (!started && ::GetLastError() == ERROR_PIPE_CONNECTED) {
    outcome_.connected = true;
    return true;
  }
  DWORD ignored = 0;
  const DWORD error = Complete(started, io.overlapped, ignored, "a client");
  // A client that came and went before this call leaves its data readable and then reports its end.
  outcome_.connected = error == ERROR_SUCCESS || error == ERROR_NO_DATA;
  return outcome_.connected;
}

void TestPipeServer::CollectUntilClientCloses() {
  std::vector<char> chunk(65536);
  for (;;) {
    PendingIo io;
    DWORD bytes = 0;
    const BOOL started =
        ::ReadFile(pipe_.get(), chunk.data(), static_cast<DWORD>(chunk.size()), nullptr, &io.overlapped);
    const DWORD error = Complete(started, io.overlapped, bytes, "the client to send or close");
    outcome_.received.append(chunk.data(), bytes);
    if (IsClientGone(error)) {
      outcome_.clientClosed = true;
      return;
    }
    if (error != ERROR_SUCCESS) return;
  }
}

DWORD TestPipeServer::Complete(BOOL started, OVERLAPPED& overlapped, DWORD& bytes, const char* what) {
  bytes = 0;
  if (!started) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) {
      if (!IsClientGone(error)) Fail(std::string("starting to wait for ") + what, error);
      return error;
    }
    const HANDLE events[] = {overlapped.hEvent, stop_.get()};
    if (::WaitForMultipleObjects(2, events, FALSE, options_.waitMs) != WAIT_OBJECT_0) {
      ::CancelIoEx(pipe_.get(), &overlapped);
    }
  }
  // Waits for the operation to finish, cancelled or not: its buffer and OVERLAPPED must outlive it.
  if (::GetOverlappedResult(pipe_.get(), &overlapped, &bytes, TRUE)) return ERROR_SUCCESS;
  const DWORD error = ::GetLastError();
  if (error == ERROR_OPERATION_ABORTED) {
    Fail(std::string("gave up waiting for ") + what, error);
  } else if (!IsClientGone(error)) {
    Fail(std::string("waiting for ") + what, error);
  }
  return error;
}

void TestPipeServer::Fail(const std::string& what, DWORD error) {
  if (outcome_.failure.empty()) outcome_.failure = what + ": " + Win32ErrorText(error);
}

}  // namespace kx::test

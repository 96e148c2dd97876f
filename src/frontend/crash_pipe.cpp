#include "frontend/crash_pipe.h"

#include <sddl.h>

#include <vector>

#include "common/process_token.h"

namespace kx {
namespace {

// An OVERLAPPED with an event of its own, for one operation.
struct PendingIo {
  PendingIo() : event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) { overlapped.hEvent = event.get(); }
  UniqueHandle event;
  OVERLAPPED overlapped = {};
};

bool IsClientGone(DWORD error) { return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA; }

// "D:P(A;;GA;;;<user SID>)": full access for the user this process runs as, nobody else, nothing inherited.
UniqueLocalMem<void> CurrentUserOnlyDescriptor() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  const std::vector<unsigned char> buffer = TokenInformationOf(token.get(), TokenUser);
  if (buffer.empty()) return {};
  UniqueLocalMem<wchar_t> sidText;
  if (!::ConvertSidToStringSidW(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid, sidText.put())) {
    return {};
  }
  const std::wstring sddl = L"D:P(A;;GA;;;" + std::wstring(sidText.get()) + L")";
  UniqueLocalMem<void> descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, descriptor.put(),
                                                              nullptr)) {
    return {};
  }
  return descriptor;
}

std::string ErrorText(const std::string& what, DWORD error) {
  return what + " (error " + std::to_string(error) + ")";
}

}  // namespace

CrashPipe::CrashPipe(const std::wstring& crashIdentifier, Options options)
    : options_(options), stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
  const UniqueLocalMem<void> descriptor = CurrentUserOnlyDescriptor();
  if (!descriptor) {
    createFailure_ = ErrorText("building the pipe's security descriptor", ::GetLastError());
    return;
  }
  SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.get(), FALSE};
  // The first instance, so that a pipe someone else created under this name cannot be mistaken for ours.
  pipe_.reset(::CreateNamedPipeW(CrashPipeName(crashIdentifier).c_str(),
                                 PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                 PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
                                 1, options.bufferSize, options.bufferSize, 0, &security));
  if (!pipe_) createFailure_ = ErrorText("CreateNamedPipeW", ::GetLastError());
}

CrashPipe::~CrashPipe() {
  Stop();
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
}

void CrashPipe::StartWriting(std::string bytes, AfterWrite after) {
  bytes_ = std::move(bytes);
  after_ = after;
  StartThread(Mode::kWrite);
}

void CrashPipe::StartReading() { StartThread(Mode::kRead); }

void CrashPipe::StartThread(Mode mode) {
  mode_ = mode;
  thread_.reset(::CreateThread(nullptr, 0, Serve, this, 0, nullptr));
  if (!thread_) Fail("CreateThread", ::GetLastError());
}

DWORD WINAPI CrashPipe::Serve(void* self) {
  auto* pipe = static_cast<CrashPipe*>(self);
  if (pipe->mode_ == Mode::kWrite) {
    pipe->ServeWrite();
  } else if (pipe->WaitForClient()) {
    pipe->CollectUntilClientCloses();
  }
  return 0;
}

void CrashPipe::Stop() { ::SetEvent(stop_.get()); }

CrashPipe::Outcome CrashPipe::Finish(DWORD limitMs) {
  if (thread_ && ::WaitForSingleObject(thread_.get(), limitMs) != WAIT_OBJECT_0) Stop();
  // Every wait of the serving thread is bounded and ends at once when stopped.
  if (thread_) ::WaitForSingleObject(thread_.get(), INFINITE);
  thread_.reset();
  return std::move(outcome_);
}

void CrashPipe::ServeWrite() {
  if (!WaitForClient()) return;
  PendingIo io;
  const BOOL started =
      ::WriteFile(pipe_.get(), bytes_.data(), static_cast<DWORD>(bytes_.size()), nullptr, &io.overlapped);
  const DWORD error = Complete(started, io.overlapped, outcome_.bytesWritten, "the write");
  if (IsClientGone(error)) {
    outcome_.clientClosed = true;
    return;
  }
  if (error != ERROR_SUCCESS) return;
  if (after_ == AfterWrite::kHangUp) {
    pipe_.reset();
    return;
  }
  CollectUntilClientCloses();
}

bool CrashPipe::WaitForClient() {
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

void CrashPipe::CollectUntilClientCloses() {
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

DWORD CrashPipe::Complete(BOOL started, OVERLAPPED& overlapped, DWORD& bytes, const char* what) {
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

void CrashPipe::Fail(const std::string& what, DWORD error) {
  if (outcome_.failure.empty()) outcome_.failure = ErrorText(what, error);
}

}  // namespace kx

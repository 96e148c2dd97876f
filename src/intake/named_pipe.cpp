#include "intake/named_pipe.h"

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/process_token.h"
#include "common/text_convert.h"

namespace kx {
namespace {

// Bytes before the first NUL: the message framing.
size_t TextLength(std::string_view bytes) {
  const size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes.size() : nul;
}

// An OVERLAPPED with an event of its own, for one operation.
struct PendingIo {
  PendingIo() : event(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) { overlapped.hEvent = event.get(); }
  UniqueHandle event;
  OVERLAPPED overlapped = {};
};

// The token's user SID and its integrity level (the last sub-authority of its mandatory label).
struct TokenIdentity {
  std::vector<unsigned char> user;  // TOKEN_USER
  DWORD integrity = 0;
  bool read = false;
};

TokenIdentity IdentityOf(HANDLE process) {
  UniqueHandle token;
  TokenIdentity identity;
  if (!process || !::OpenProcessToken(process, TOKEN_QUERY, token.put())) return identity;
  identity.user = TokenInformationOf(token.get(), TokenUser);
  const std::vector<unsigned char> label = TokenInformationOf(token.get(), TokenIntegrityLevel);
  if (identity.user.empty() || label.empty()) return identity;
  const PSID sid = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(label.data())->Label.Sid;
  const UCHAR count = *::GetSidSubAuthorityCount(sid);
  if (count == 0) return identity;
  identity.integrity = *::GetSidSubAuthority(sid, count - 1);
  identity.read = true;
  return identity;
}

enum class ServerUser { kSame, kOther, kLowerIntegrity, kUnreadable };

// Whether `process` runs as the user this process runs as, at no lower integrity level: a sandboxed
// (low-integrity) process of the same user could take a crash's pipe name and have us dump a process it
// cannot read itself.
ServerUser UserOfServer(HANDLE process) {
  const TokenIdentity theirs = IdentityOf(process);
  const TokenIdentity ours = IdentityOf(::GetCurrentProcess());
  if (!theirs.read || !ours.read) return ServerUser::kUnreadable;
  if (!::EqualSid(reinterpret_cast<const TOKEN_USER*>(theirs.user.data())->User.Sid,
                  reinterpret_cast<const TOKEN_USER*>(ours.user.data())->User.Sid)) {
    return ServerUser::kOther;
  }
  return theirs.integrity < ours.integrity ? ServerUser::kLowerIntegrity : ServerUser::kSame;
}

}  // namespace

HANDLE NamedPipe::Connect(const std::string& crashIdentifier) {
  connection_.reset();
  log_.Start();
  const std::wstring pipeName = CrashPipeName(WidenFromCodePage(crashIdentifier, CP_ACP));
  // The front end creates the pipe before it starts us, so a pipe that is missing or busy will not come
  // right by waiting: no WaitNamedPipeW, no retry.
  // Overlapped, so that every read and write can be given up. Identification only: whoever serves the pipe
  // may learn who we are, but not act as us.
  const HANDLE opened =
      ::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION, nullptr);
  log_.Line("PipeName is: ", pipeName);
  log_.Line("Pipe Handle is: ", LogHandle{reinterpret_cast<std::uintptr_t>(opened)});
  server_.reset();
  if (opened == INVALID_HANDLE_VALUE) return nullptr;
  connection_.reset(opened);
  ULONG serverId = 0;
  if (::GetNamedPipeServerProcessId(opened, &serverId)) {
    server_.reset(::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverId));
  }
  // The front end runs as our user, since it started us. A pipe served under another user is someone else's
  // (a name taken before the front end could create it) and gets nothing from us: no crash data read from it
  // is trusted, no link written to it. A server we cannot identify is refused the same way: a front end that
  // started us with its own token can always be opened and its token read by us.
  const ServerUser user = UserOfServer(server_.get());
  if (user != ServerUser::kSame) {
    log_.Line(user == ServerUser::kOther ? "The process serving the pipe runs as another user, closing the pipe."
              : user == ServerUser::kLowerIntegrity
                  ? "The process serving the pipe runs at a lower integrity level, closing the pipe."
                  : "The user of the process serving the pipe cannot be read, closing the pipe.");
    connection_.reset();
    server_.reset();
  }
  return connection_.get();
}

DWORD NamedPipe::Complete(BOOL started, OVERLAPPED& overlapped) {
  if (!started && ::GetLastError() != ERROR_IO_PENDING) return 0;
  const HANDLE waits[] = {overlapped.hEvent, server_.get()};
  const DWORD result = ::WaitForMultipleObjects(server_ ? 2 : 1, waits, FALSE, waitLimitMs_);
  if (result != WAIT_OBJECT_0) {
    ::CancelIoEx(connection_.get(), &overlapped);
    log_.Line(result == WAIT_OBJECT_0 + 1 ? "The process serving the pipe has ended, giving up."
                                          : "The front end did not answer in time, giving up.");
  }
  // Waits for the operation to be over, cancelled or not: its buffer and OVERLAPPED must outlive it.
  DWORD bytes = 0;
  return ::GetOverlappedResult(connection_.get(), &overlapped, &bytes, TRUE) ? bytes : 0;
}

std::string NamedPipe::ReadMessage() {
  if (!connection_) {
    log_.Line("Handle for the named pipe is NULL, returning.");
    return {};
  }
  // One read is enough: the front end sends a message in a single write, and a byte-mode read returns that
  // write whole (checked up to the limit with small and large pipe buffers). A failed read reports no bytes.
  std::string buffer(kMaxPipeMessageBytes, '\0');
  PendingIo io;
  const DWORD bytesRead =
      Complete(::ReadFile(connection_.get(), buffer.data(), kMaxPipeMessageBytes, nullptr, &io.overlapped),
               io.overlapped);
  buffer.resize(TextLength(std::string_view(buffer.data(), bytesRead)));

  log_.Line("Inside readDataFromNamedPipe");
  log_.Line("No of bytes read = ", LogNumber{bytesRead});
  log_.Line("Data read is : ");
  log_.Line(buffer);
  log_.Close();
  return buffer;
}

void NamedPipe::WriteMessage(const std::string& text) {
  const size_t textLength = TextLength(text);
  DWORD bytesWritten = 0;
  // The text and its NUL go out in one write, so the reader gets the whole message at once. A text whose
  // length does not fit a 32-bit count is not sent at all rather than sent cut.
  if (connection_ && textLength < MAXDWORD) {
    PendingIo io;
    bytesWritten = Complete(::WriteFile(connection_.get(), text.c_str(), static_cast<DWORD>(textLength + 1),
                                        nullptr, &io.overlapped),
                            io.overlapped);
  }
  log_.Line("Inside writeDataToNamedPipe");
  log_.Line("No of bytes written = ", LogNumber{bytesWritten});
  log_.Line("Data written is : ");
  log_.Line(std::string_view(text.c_str(), textLength));
  log_.Close();
}

}  // namespace kx

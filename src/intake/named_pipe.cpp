#include "intake/named_pipe.h"

#include <cstdint>
#include <string_view>

#include "common/text_convert.h"

namespace kx {
namespace {

// Bytes before the first NUL: the message framing.
size_t TextLength(std::string_view bytes) {
  const size_t nul = bytes.find('\0');
  return nul == std::string_view::npos ? bytes.size() : nul;
}

}  // namespace

HANDLE NamedPipe::connect(const std::string& crashIdentifier) {
  connection_.reset();
  log_.Start();
  const std::wstring pipeName = WidenFromCodePage(kCrashPipeNamePrefix + crashIdentifier, CP_ACP);
  // The front end creates the pipe before it starts us, so a pipe that is missing or busy will not come
  // right by waiting: no WaitNamedPipeW, no retry.
  const HANDLE opened = ::CreateFileW(pipeName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
  log_.Line("PipeName is: ", pipeName);
  log_.Line("Pipe Handle is: ", LogHandle{reinterpret_cast<std::uintptr_t>(opened)});
  if (opened != INVALID_HANDLE_VALUE) connection_.reset(opened);
  return connection_.get();
}

std::string NamedPipe::readDataFromNamedPipe() {
  if (!connection_) {
    log_.Line("Handle for the named pipe is NULL, returning.");
    return {};
  }
  // One read is enough: the front end sends a message in a single write, and a byte-mode read returns that
  // write whole (checked up to the limit with small and large pipe buffers). A failed read reports no bytes.
  std::string buffer(kMaxPipeMessageBytes, '\0');
  DWORD bytesRead = 0;
  ::ReadFile(connection_.get(), buffer.data(), kMaxPipeMessageBytes, &bytesRead, nullptr);
  buffer.resize(TextLength(std::string_view(buffer.data(), bytesRead)));

  log_.Line("Inside readDataFromNamedPipe");
  log_.Line("No of bytes read = ", LogNumber{bytesRead});
  log_.Line("Data read is : ");
  log_.Line(buffer);
  log_.Close();
  return buffer;
}

void NamedPipe::writeDataToNamedPipe(const std::string& text) {
  const size_t textLength = TextLength(text);
  DWORD bytesWritten = 0;
  // The text and its NUL go out in one write, so the reader gets the whole message at once. A text whose
  // length does not fit a 32-bit count is not sent at all rather than sent cut.
  if (connection_ && textLength < MAXDWORD) {
    ::WriteFile(connection_.get(), text.c_str(), static_cast<DWORD>(textLength + 1), &bytesWritten, nullptr);
  }
  log_.Line("Inside writeDataToNamedPipe");
  log_.Line("No of bytes written = ", LogNumber{bytesWritten});
  log_.Line("Data written is : ");
  log_.Line(std::string_view(text.c_str(), textLength));
  log_.Close();
}

}  // namespace kx

// Starts the log transport "KXLogTransport.exe" of the client directory twice, without waiting: once on the
// crash log folder and once on the dump folder, where sendlog leaves the finished reports. On request its
// code signature is checked first, on the very file that is then started: the file stays open, shared for
// reading only, from the check until both starts have been made, so it cannot be replaced in between.
//
// Logs to "LogTransportProcessor.txt", which every run empties, even with logging off.
#pragma once

#include <string>

namespace kx {

inline constexpr wchar_t kLogTransportFileName[] = L"KXLogTransport.exe";

class LogTransportProcessor {
 public:
  void Run(const std::wstring& clientDirectory, bool bVerifySignatureBeforeLaunching);
};

}  // namespace kx

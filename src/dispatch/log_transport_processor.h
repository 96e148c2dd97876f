// Starts the log transport program of the client directory on the report folders, optionally after checking
// its code signature.
#pragma once

#include <string>

namespace kx {

class LogTransportProcessor {
 public:
  void Run(const std::wstring& clientDirectory, bool bVerifySignatureBeforeLaunching);
};

}  // namespace kx

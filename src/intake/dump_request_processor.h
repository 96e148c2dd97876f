// The "createdump" processor: receives a crash description over the crash's pipe and has the minidump and
// the crash report written.
#pragma once

#include <string>

namespace kx {

class DumpRequestProcessor {
 public:
  void Run(const std::string& crashIdentifier);
};

}  // namespace kx

// "createdump": receives a crash description over the crash's pipe and has the minidump and the crash
// report written. Logs to "DumpRequestProcessor.txt" when logging is on.
#pragma once

#include <string>

namespace kx {

void CreateDump(const std::string& crashIdentifier);

}  // namespace kx

// Starts the log transport "KXLogTransport.exe" of the client directory twice, without waiting: once on the
// crash log folder and once on the dump folder, where sendlog leaves the finished reports (after "sendlog"
// and "updatepvbpreference"). On request its code signature is checked first (signature_verifier.h), on the
// very file that is then started: the file stays open, shared for reading only, from the check until both
// starts have been made, so it can be neither changed nor replaced; it is started by its final path (no
// junction or link left to redirect it), and each start runs only once its image is known to be that open
// file (held_file_start.h).
//
// Logs to "LogTransportProcessor.txt", which every run empties, even with logging off.
#pragma once

#include <string>

namespace kx {

void StartLogTransport(const std::wstring& clientDirectory, bool checkSignature);

}  // namespace kx

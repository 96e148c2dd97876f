// KXLogTransport.exe: uploads the finished (".final") files of one storage folder to the upload server and
// deletes each one the server accepted. The service starts it twice after sendlog, once per folder:
//
//   KXLogTransport.exe "<client directory>" "<crash log or dump folder>"
//
// Several copies may run at once on the same folder: each file is uploaded by the one copy that creates its
// lock file (<name>.lck) exclusively, and only while it can be opened without anyone writing to it (a file
// the service is still writing waits for a later run).
#pragma once

#include <string>

namespace kx {

void RunLogTransport(const std::wstring& clientDirectory, const std::wstring& folder);

}  // namespace kx

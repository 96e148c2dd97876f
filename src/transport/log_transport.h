// KXLogTransport.exe: uploads the finished (".final") files of one storage folder to the upload server and
// removes each one the server accepted. The service starts it twice after sendlog, once per folder:
//
//   KXLogTransport.exe "<client directory>" "<crash log or dump folder>"
//
// The folder must be one of the two storage folders of this user; any other word uploads nothing. Several
// copies may run at once on the same folder: each file is taken up by the one copy that opens it with no
// sharing, and goes free when that copy ends, however it ends. A file someone is still writing cannot be
// opened so and waits for a later run. Links and files with several names are never read or changed.
#pragma once

#include <string>

namespace kx {

void RunLogTransport(const std::wstring& clientDirectory, const std::wstring& folderWord);

}  // namespace kx

// Whether the service may write and delete in a storage folder. A folder replaced by a symbolic link or a
// junction would take the reports, the dumps and the copies of the user's files somewhere else, and a
// deletion there would delete what another program keeps: such a folder is left alone.
#pragma once

#include <string>

namespace kx {

// Why `folder` (a full path without a trailing backslash) is not to be written or deleted in; empty when it
// may be. The folder is judged by its own attributes (a reparse point) and by the place the file system
// resolves it to, which must be its parent's own place plus its name: Wine shows a Linux symbolic link to a
// folder as a plain folder, and only its resolved place tells.
std::string StorageFolderRefusal(const std::wstring& folder);

}  // namespace kx

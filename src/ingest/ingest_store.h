// The ingest folder on disk: listing its files, the age rules, deleting and reading event files. Several
// processes work on the folder at once; the lock files (event_file.h) are their only guard.
#pragma once

#include <string>
#include <vector>

#include "ingest/event_file.h"

namespace kx {

// Full paths of the regular files directly inside the folder (sub-folders are left out), in the order the
// platform lists them. False when the path is not an existing folder.
bool ListIngestFiles(const std::wstring& folder, std::vector<std::wstring>& files);

// True when the file falls under an age rule and was created longer ago than its limit. A file that cannot
// be opened for reading (for example one another program holds open for writing) is not expired.
bool IsExpiredIngestFile(const std::wstring& path);

// True when the file was deleted or did not exist.
bool DeleteIngestFile(const std::wstring& path);

// The file's entries; empty when it cannot be opened or holds none.
EventEntries ReadEventFile(const std::wstring& path);

// Deletes the expired files of the ingest folder. Throws std::runtime_error when the folder's existence
// cannot be told.
void PurgeExpiredIngestFiles();

// The ingest folder when it exists, empty when it does not or is unavailable. Throws std::runtime_error when
// its existence cannot be told.
std::wstring ExistingIngestFolder();

}  // namespace kx

// Reading, renaming and deleting the files of the program's own storage folders without ever acting on
// something else. A symbolic link, a junction or a hard link put into such a folder leads to a file that is
// not ours: reading it would send someone else's data, and renaming or deleting through it would change
// that file. So a file is opened without following links, held with no sharing, checked through its handle,
// and then changed only through that handle.
#pragma once

#include <windows.h>

#include <string>

#include "common/win_handles.h"

namespace kx {

enum class OwnOpen {
  kOpened,   // a plain file with one name, at exactly that place: held with no sharing
  kGone,     // no file of that name (any more)
  kInUse,    // another process holds it, or it could not be opened for another reason: try again later
  kForeign,  // a link, a junction, a folder or a file with more than one name: never to be touched
};

class OwnFolder {
 public:
  // `folder`: a full path without a trailing backslash. Its final path (links on the way to it resolved:
  // the folder itself is trusted) is taken here; valid() is false when it cannot be.
  explicit OwnFolder(std::wstring folder);

  bool valid() const { return !finalPath_.empty(); }
  const std::wstring& path() const { return folder_; }

  // Opens folder\name for `access` (read-attributes access is added) with no sharing, following no link;
  // `flags` are added to the open's flags. On kOpened `file` holds it and `info` describes it; otherwise
  // `file` is empty.
  OwnOpen Open(const std::wstring& name, DWORD access, DWORD flags, UniqueFileHandle& file,
               BY_HANDLE_FILE_INFORMATION& info) const;

 private:
  std::wstring folder_;
  std::wstring finalPath_;
};

// Renames the file of an open handle (opened with DELETE access) to `newPath`, a full path. Never replaces
// another file unless `replace`. False when it failed, with the reason in GetLastError (ERROR_ALREADY_EXISTS
// or ERROR_FILE_EXISTS: the name is taken).
bool RenameOpenFile(HANDLE file, const std::wstring& newPath, bool replace);

// Marks the file of an open handle (opened with DELETE access) for deletion when its handles close. A
// read-only file is deleted too when the handle also has FILE_WRITE_ATTRIBUTES: the attribute is cleared first.
bool DeleteOpenFile(HANDLE file);

// The path the file system gives the object of an open handle (GetFinalPathNameByHandleW with `form`), read
// into a buffer grown to the size the platform asks for; empty when it gives none.
std::wstring FinalPathNameOf(HANDLE handle, DWORD form);

// Two paths name the same place by the file system's rule for letter case (not their spellings otherwise).
bool SamePathText(const std::wstring& a, const std::wstring& b);

}  // namespace kx

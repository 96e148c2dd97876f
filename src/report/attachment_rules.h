// Which paths the service may open to attach a file to a report: the crashed application names them, so
// only plain files on a drive or a share are taken, never a device, a pipe or a stream.
#pragma once

#include <string_view>

namespace kx {

// "X:\..." or "\\server\share\...", without "\\.\" or "\\?\" (device and raw namespaces), without a ":"
// after the drive (a stream) or any other character a file name cannot hold (control characters, / < > " |
// ? *), without "." or ".." components, and with no component that the system maps to a device (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, whatever follows a dot or blanks). Whether the path is a regular file is
// asked of the file system once it is open.
bool IsCopyablePath(std::wstring_view path);

// The last component of a path: what follows the last backslash or slash.
std::wstring_view FileNameOfPath(std::wstring_view path);

}  // namespace kx

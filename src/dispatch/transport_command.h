// The paths and the command line with which the log transport is started, built without any platform call.
#pragma once

#include <string>

namespace kx {

inline constexpr wchar_t kLogTransportFileName[] = L"KXLogTransport.exe";

// <client directory>\KXLogTransport.exe, with one separator whether or not the directory ends in one.
std::wstring TransportPathIn(const std::wstring& clientDirectory);

// A path without its "\\?\" prefix ("\\?\C:\a" -> "C:\a", "\\?\UNC\host\share\a" -> "\\host\share\a"): the
// form a program expects to find as its own first word. Other paths are returned as they are.
std::wstring WithoutLongPathPrefix(const std::wstring& path);

// A full path ("C:\a", "\\host\share\a") with the "\\?\" prefix, so that a path of any length opens exactly
// as named; a path that has it already, or is not full, is returned as it is.
std::wstring WithLongPathPrefix(const std::wstring& path);

// "<program>" "<client directory>" "<folder>": every word quoted so that it splits back unchanged, whatever
// it holds (blanks, a trailing "\").
std::wstring TransportCommandLine(const std::wstring& programPath, const std::wstring& clientDirectory,
                                  const std::wstring& folder);

}  // namespace kx

// Linux programs and Linux paths from a Windows test under Wine. Wine starts a Linux program through
// CreateProcessW, but hands back no handle that can be waited on: callers learn its outcome from the files
// it leaves.
#pragma once

#include <string>

namespace kx::test {

// The Linux path of a Windows path, through Wine's own mapping. Empty when not running under Wine.
std::wstring UnixPath(const std::wstring& windowsPath);

// Starts a Linux program (its Windows path, e.g. Z:\usr\bin\python3) with this argument text. Empty when it
// was started; otherwise why not.
std::string StartLinuxProgram(const std::wstring& program, const std::wstring& arguments);

}  // namespace kx::test

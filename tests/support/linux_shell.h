// The output of a Linux shell command run from a Windows test under Wine (xdotool, addr2line). Wine hands
// back no handle of a Linux program, so the output is moved into place whole and waited for (bounded).
#pragma once

#include <windows.h>

#include <string>

#include "support/linux_programs.h"
#include "support/service_harness.h"
#include "support/test_files.h"

namespace kx::test {

// Standard output and error of `command`, by way of a file in `folder`; empty when it did not run.
inline std::string LinuxShellOutput(const std::string& command, const std::wstring& folder) {
  static int count = 0;
  const std::wstring out = folder + L"\\shell-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                           std::to_wstring(count++) + L".txt";
  const std::wstring target = L"'" + UnixPath(out) + L"'";
  const std::wstring line = L"(" + std::wstring(command.begin(), command.end()) + L") > " + target +
                            L".part 2>&1; mv " + target + L".part " + target;
  if (!StartLinuxProgram(L"Z:\\bin\\sh", L"-c " + QuoteWord(line)).empty()) return "";
  for (int i = 0; i < 300 && !IsFile(out); ++i) ::Sleep(100);
  const std::string text = ReadFileBytes(out).value_or("");
  ::DeleteFileW(out.c_str());
  return text;
}

}  // namespace kx::test

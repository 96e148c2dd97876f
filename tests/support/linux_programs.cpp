#include "support/linux_programs.h"

#include <windows.h>

#include <cstring>

#include "support/service_harness.h"

namespace kx::test {

std::wstring UnixPath(const std::wstring& windowsPath) {
  using ToUnix = char* (*)(const wchar_t*);
  // Through void(*)(): the one function pointer type that converts to any other without a warning.
  const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* path = toUnix ? toUnix(windowsPath.c_str()) : nullptr;
  if (!path) return {};
  const std::wstring result(path, path + std::strlen(path));  // the tests' paths are ASCII
  ::HeapFree(::GetProcessHeap(), 0, path);
  return result;
}

std::string StartLinuxProgram(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = QuoteWord(program) + L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    return "cannot start it: " + Win32ErrorText(::GetLastError());
  }
  // Whatever handles came are of no use for a Linux program.
  if (process.hThread) ::CloseHandle(process.hThread);
  if (process.hProcess) ::CloseHandle(process.hProcess);
  return "";
}

}  // namespace kx::test

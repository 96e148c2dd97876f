#include "support/linux_programs.h"

#include <windows.h>

#include <cstring>
#include <filesystem>

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

bool MakeSelfLink(const std::wstring& path) {
  // Wine maps only paths whose folder exists.
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
  const std::wstring unixPath = UnixPath(path);
  const size_t slash = unixPath.rfind(L'/');
  if (slash == std::wstring::npos) return false;
  const std::wstring name = unixPath.substr(slash + 1);
  if (!StartLinuxProgram(L"Z:\\bin\\ln", L"-s " + QuoteWord(name) + L" " + QuoteWord(unixPath)).empty()) {
    return false;
  }
  for (int waited = 0; waited < 200; ++waited) {
    if (::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES &&
        ::GetLastError() == ERROR_CANT_RESOLVE_FILENAME) {
      return true;
    }
    ::Sleep(50);
  }
  return false;
}

}  // namespace kx::test

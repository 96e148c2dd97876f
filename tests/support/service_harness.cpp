#include "support/service_harness.h"

#include <vector>

namespace kx::test {

std::wstring ThisProgramFolder() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      std::wstring path(buffer.data(), length);
      return path.substr(0, path.find_last_of(L'\\'));
    }
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ServicePath() { return ThisProgramFolder() + L"\\KXWindowsClientService.exe"; }

std::wstring QuoteWord(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\n\v\"") == std::wstring::npos) return word;
  std::wstring quoted = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : word) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    // Backslashes before a quote are doubled, and the quote itself escaped.
    quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(c);
  }
  // Backslashes before the closing quote are doubled so that it stays a closing quote.
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

ServiceRun RunService(std::initializer_list<std::wstring> words, DWORD timeoutMs) {
  std::wstring arguments;
  for (const std::wstring& word : words) {
    if (!arguments.empty()) arguments.push_back(L' ');
    arguments += QuoteWord(word);
  }
  return RunServiceWithArguments(arguments, timeoutMs);
}

ServiceRun RunServiceWithArguments(const std::wstring& arguments, DWORD timeoutMs) {
  return RunProgram(ServicePath(), arguments, timeoutMs);
}

ServiceRun RunProgram(const std::wstring& path, const std::wstring& arguments, DWORD timeoutMs) {
  ServiceRun run;
  std::wstring commandLine = QuoteWord(path);
  if (!arguments.empty()) commandLine += L" " + arguments;

  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
    const std::string text = Win32ErrorText(::GetLastError());
    run.error.assign(text.begin(), text.end());
    return run;
  }
  ::CloseHandle(process.hThread);
  if (::WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
    run.finished = true;
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
  } else {
    ::TerminateProcess(process.hProcess, 1);
    ::WaitForSingleObject(process.hProcess, 10000);
  }
  ::CloseHandle(process.hProcess);
  return run;
}

std::string Win32ErrorText(DWORD error) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = "error " + std::to_string(error);
  if (length != 0 && text != nullptr) result += ": " + std::string(text, length);
  ::LocalFree(text);
  while (!result.empty() && (result.back() == '\n' || result.back() == '\r')) result.pop_back();
  return result;
}

}  // namespace kx::test

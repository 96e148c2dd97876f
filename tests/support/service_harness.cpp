#include "support/service_harness.h"

#include <atomic>

#include "handler/child_process.h"
#include "handler/crash_message.h"

namespace kx::test {

std::wstring ThisProgramFolder() { return kx::ThisProgramFolder(); }

std::wstring ServicePath() { return ThisProgramFolder() + L"\\KXWindowsClientService.exe"; }

std::wstring QuoteWord(const std::wstring& word) { return QuoteCommandWord(word); }

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
  const ChildRun child = RunChildWithArguments(path, arguments, timeoutMs);
  ServiceRun run;
  run.finished = child.finished;
  run.exitCode = child.exitCode;
  if (!child.started) {
    const std::string text = Win32ErrorText(child.startError);
    run.error.assign(text.begin(), text.end());
  }
  return run;
}

std::string UniqueCrashIdentifier() {
  static std::atomic<int> counter{0};
  return "kxtest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
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

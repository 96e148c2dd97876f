#include "support/service_harness.h"

#include <atomic>
#include <thread>
#include <vector>

#include "handler/crash_message.h"

namespace kx::test {

std::wstring ThisProgramFolder() { return kx::ThisProgramFolder(); }

std::wstring ServicePath() { return ThisProgramFolder() + L"\\KXWindowsClientService.exe"; }

std::wstring QuoteWord(const std::wstring& word) { return QuoteCommandWord(word); }

ServiceRun RunService(std::initializer_list<std::wstring> words, DWORD timeoutMs) {
  return RunChild(ServicePath(), words, timeoutMs);
}

ServiceRun RunProgram(const std::wstring& path, const std::wstring& arguments, DWORD timeoutMs) {
  return RunChildWithArguments(path, arguments, timeoutMs);
}

bool RunTogether(const std::wstring& path, const std::wstring& arguments, int count) {
  std::atomic<int> finished{0};
  std::vector<std::thread> runs;
  for (int i = 0; i < count; ++i) {
    runs.emplace_back([&] { finished += RunProgram(path, arguments, 180000).finished ? 1 : 0; });
  }
  for (std::thread& run : runs) run.join();
  return finished == count;
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

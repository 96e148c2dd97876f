#include "support/service_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "common/command_word.h"

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

ServiceRun RunProgramToFile(const std::wstring& path, const std::wstring& arguments, const std::wstring& output,
                            DWORD timeoutMs) {
  ServiceRun run;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  const UniqueFileHandle file(::CreateFileW(output.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  std::wstring commandLine = QuoteCommandWord(path) + L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = file.get();
  startup.hStdError = file.get();
  PROCESS_INFORMATION info = {};
  if (!file || !::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                 &startup, &info)) {
    run.startError = ::GetLastError();
    return run;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  run.started = true;
  run.finished = ::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
  if (!run.finished) ::TerminateProcess(process.get(), ERROR_TIMEOUT);
  ::GetExitCodeProcess(process.get(), &run.exitCode);
  return run;
}

bool RunTogether(const std::wstring& path, const std::wstring& arguments, int count) {
  std::vector<ServiceRun> results(static_cast<size_t>(count));
  std::vector<std::thread> runs;
  for (int i = 0; i < count; ++i) {
    runs.emplace_back([&, i] { results[static_cast<size_t>(i)] = RunProgram(path, arguments, 180000); });
  }
  for (std::thread& run : runs) run.join();
  bool all = true;
  // Said here, on the test's thread: a run that could not start says why.
  for (const ServiceRun& run : results) {
    if (!run.started) ADD_FAILURE() << "could not start: " << Describe(run);
    all = all && run.finished;
  }
  return all;
}

StartedProgram::StartedProgram(const std::wstring& path, const std::vector<std::wstring>& words) {
  std::wstring commandLine = CommandLineOf(path, words);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;  // whatever it prints goes nowhere
  PROCESS_INFORMATION info = {};
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
    ADD_FAILURE() << "cannot start " << std::string(path.begin(), path.end()) << ": "
                  << Win32ErrorText(::GetLastError());
    return;
  }
  process.reset(info.hProcess);
  thread.reset(info.hThread);
  processId = info.dwProcessId;
  threadId = info.dwThreadId;
}

DWORD StartedProgram::End(bool kill) const {
  if (kill) ::TerminateProcess(process.get(), 1);
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process.get(), 60000) == WAIT_OBJECT_0)
    ::GetExitCodeProcess(process.get(), &code);
  return code;
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

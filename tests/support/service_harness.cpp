#include "support/service_harness.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <vector>

#include "common/command_word.h"
#include "support/waiting.h"

namespace kx::test {
namespace {

// For notes and messages: the text's ASCII as it is, anything else as '?'.
std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (const wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

}  // namespace

std::wstring ThisProgramFolder() { return kx::ThisProgramFolder(); }

std::wstring ServicePath() { return ThisProgramFolder() + L"\\KXWindowsClientService.exe"; }

std::wstring QuoteWord(const std::wstring& word) { return QuoteCommandWord(word); }

ServiceRun RunService(std::initializer_list<std::wstring> words, DWORD timeoutMs) {
  const WaitNote noted("the service to end: " + Narrow(CommandLineOf(ServicePath(), words)));
  return RunChild(ServicePath(), words, timeoutMs);
}

ServiceRun RunProgram(const std::wstring& path, const std::wstring& arguments, DWORD timeoutMs) {
  const WaitNote noted("a program to end: " + Narrow(path + L" " + arguments));
  return RunChildWithArguments(path, arguments, timeoutMs);
}

UniqueHandle JobHolding(HANDLE process, DWORD limitFlags) {
  UniqueHandle job(::CreateJobObjectW(nullptr, nullptr));
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = limitFlags;
  if (!job || !::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits)) ||
      !::AssignProcessToJobObject(job.get(), process)) {
    return UniqueHandle();
  }
  return job;
}

ServiceRun RunProgramToFile(const std::wstring& path, const std::wstring& arguments, const std::wstring& output,
                            DWORD timeoutMs, DWORD jobLimits, const std::function<void(DWORD)>& beforeStart) {
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
  if (!file || !::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_SUSPENDED, nullptr, nullptr, &startup, &info)) {
    run.startError = ::GetLastError();
    return run;
  }
  const UniqueHandle process(info.hProcess);
  const UniqueHandle thread(info.hThread);
  if (beforeStart) beforeStart(info.dwProcessId);
  const UniqueHandle job = jobLimits != 0 ? JobHolding(process.get(), jobLimits) : UniqueHandle();
  if ((jobLimits != 0 && !job) || ::ResumeThread(thread.get()) == DWORD(-1)) {
    run.startError = ::GetLastError();
    ::TerminateProcess(process.get(), ERROR_TIMEOUT);
    return run;
  }
  run.started = true;
  const WaitNote noted("a program to end: " + Narrow(commandLine));
  run.finished = ::WaitForSingleObject(process.get(), timeoutMs) == WAIT_OBJECT_0;
  if (!run.finished) ::TerminateProcess(process.get(), ERROR_TIMEOUT);
  ::GetExitCodeProcess(process.get(), &run.exitCode);
  return run;
}

bool RunTogether(const std::wstring& path, const std::wstring& arguments, int count) {
  std::vector<std::future<ServiceRun>> runs;
  const WaitNote noted(std::to_string(count) + " runs at once to end: " + Narrow(path + L" " + arguments));
  for (int i = 0; i < count; ++i)
    runs.push_back(
        std::async(std::launch::async, [&] { return RunChildWithArguments(path, arguments, kProgramLimitMs); }));
  bool all = true;
  for (std::future<ServiceRun>& future : runs) {
    const ServiceRun run = future.get();
    // Said here, on the test's thread: a run that could not start says why.
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
  const WaitNote noted("a started program (process " + std::to_string(processId) + ") to end");
  DWORD code = STILL_ACTIVE;
  if (::WaitForSingleObject(process.get(), kProgramLimitMs) == WAIT_OBJECT_0) {
    ::GetExitCodeProcess(process.get(), &code);
  } else {
    ADD_FAILURE() << "gave up after " << kProgramLimitMs / 1000 << " s waiting for process " << processId
                  << " to end; it still runs";
  }
  return code;
}

std::string UniqueCrashIdentifier() {
  static std::atomic<int> counter{0};
  return "kxtest-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(counter++);
}

std::string Win32ErrorText(DWORD error) {
  char text[512] = "";
  DWORD length = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                  text, sizeof(text), nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  return "error " + std::to_string(error) + (length > 0 ? ": " + std::string(text, length) : "");
}

}  // namespace kx::test

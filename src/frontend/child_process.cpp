#include "frontend/child_process.h"

#include "common/command_word.h"
#include "common/win_handles.h"

namespace kx {
namespace {

// Time a terminated child gets to be gone before its handle is let go.
constexpr DWORD kTerminateWaitMs = 5000;

struct Started {
  UniqueHandle process;
  DWORD error = ERROR_SUCCESS;
};

Started Start(const std::wstring& program, const std::wstring& arguments, DWORD flags = 0) {
  std::wstring commandLine = QuoteCommandWord(program);
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  Started started;
  // The program is named by its full path, never looked up: a crashed application must not start whatever
  // a search path offers.
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr,
                        &startup, &info)) {
    started.error = ::GetLastError();
    return started;
  }
  const UniqueHandle thread(info.hThread);
  started.process.reset(info.hProcess);
  return started;
}

std::wstring ArgumentsOf(const std::vector<std::wstring>& words) {
  std::wstring arguments;
  for (const std::wstring& word : words) {
    if (!arguments.empty()) arguments.push_back(L' ');
    arguments += QuoteCommandWord(word);
  }
  return arguments;
}

}  // namespace

std::string Describe(const ChildRun& run) {
  if (!run.started && run.startError == ERROR_SUCCESS)
    return "was not started: its pipe could not be created";
  if (!run.started) return "could not be started (error " + std::to_string(run.startError) + ")";
  if (!run.finished) return "did not end in time and was terminated";
  return "ended with exit code " + std::to_string(run.exitCode);
}

std::wstring CommandLineOf(const std::wstring& program, const std::vector<std::wstring>& words) {
  const std::wstring arguments = ArgumentsOf(words);
  return QuoteCommandWord(program) + (arguments.empty() ? L"" : L" " + arguments);
}

ChildRun RunChild(const std::wstring& program, const std::vector<std::wstring>& words, DWORD limitMs) {
  return RunChildWithArguments(program, ArgumentsOf(words), limitMs);
}

ChildRun RunChildWithArguments(const std::wstring& program, const std::wstring& arguments, DWORD limitMs) {
  ChildRun run;
  const Started child = Start(program, arguments);
  run.startError = child.error;
  if (!child.process) return run;
  run.started = true;
  if (::WaitForSingleObject(child.process.get(), limitMs) == WAIT_OBJECT_0) {
    run.finished = true;
    ::GetExitCodeProcess(child.process.get(), &run.exitCode);
  } else {
    ::TerminateProcess(child.process.get(), ERROR_TIMEOUT);
    ::WaitForSingleObject(child.process.get(), kTerminateWaitMs);
  }
  return run;
}

DWORD StartDetached(const std::wstring& program, const std::vector<std::wstring>& words) {
  // A job that kills its processes when it closes (a launcher's, a test runner's) would take the program with
  // the application. A job that allows no breakaway refuses the flag with ERROR_ACCESS_DENIED: the program
  // then starts in the job, and the next sweep (report_sweep.h) finds what it leaves.
  const std::wstring arguments = ArgumentsOf(words);
  const DWORD error = Start(program, arguments, CREATE_BREAKAWAY_FROM_JOB).error;
  return error == ERROR_ACCESS_DENIED ? Start(program, arguments).error : error;
}

std::wstring ThisProgramPath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) return buffer.substr(0, length);
    buffer.resize(buffer.size() * 2);
  }
}

std::wstring ThisProgramFolder() {
  const std::wstring path = ThisProgramPath();
  return path.substr(0, path.find_last_of(L'\\'));
}

}  // namespace kx

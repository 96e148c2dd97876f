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

Started Start(const std::wstring& program, const std::wstring& arguments) {
  std::wstring commandLine = QuoteCommandWord(program);
  if (!arguments.empty()) commandLine += L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  Started started;
  // The program is named by its full path, never looked up: a crashed application must not start whatever
  // a search path offers.
  if (!::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
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
  return Start(program, ArgumentsOf(words)).error;
}

std::wstring ThisProgramFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return {};
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer.substr(0, buffer.find_last_of(L'\\'));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace kx

// Starts the real KXWindowsClientService.exe (it sits next to the test program), or another program,
// and waits for it.
#pragma once

#include <windows.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "common/win_handles.h"
#include "frontend/child_process.h"

namespace kx::test {

// finished is false when the program did not end within the time-out and was terminated.
using ServiceRun = ChildRun;

std::wstring ThisProgramFolder();
std::wstring ServicePath();

// Quotes one word so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteWord(const std::wstring& word);

// How long a test lets a program of ours run that should end by itself in a second: a busy machine makes
// Wine's process starts many times slower, and these waits end with the program, not with the limit.
constexpr DWORD kProgramLimitMs = 180000;

// Runs the service with these words after its own path.
ServiceRun RunService(std::initializer_list<std::wstring> words, DWORD timeoutMs = kProgramLimitMs);
// Runs any program with this argument text (for command lines the quoting helper cannot express).
ServiceRun RunProgram(const std::wstring& path, const std::wstring& arguments, DWORD timeoutMs = kProgramLimitMs);
// The same, output to `output`; in a job with `jobLimits` when given; `beforeStart` gets its id while suspended.
ServiceRun RunProgramToFile(const std::wstring& path, const std::wstring& arguments, const std::wstring& output,
                            DWORD timeoutMs, DWORD jobLimits = 0,
                            const std::function<void(DWORD)>& beforeStart = {});
// A job holding `process`, with these JOB_OBJECT_LIMIT_* flags; empty when it could not be made.
UniqueHandle JobHolding(HANDLE process, DWORD limitFlags);
// Runs the program `count` times at once; true when every run ended in time.
bool RunTogether(const std::wstring& path, const std::wstring& arguments, int count);

// A program started and left running, with its first thread; killed, if still running, when this ends.
struct StartedProgram {
  StartedProgram(const std::wstring& path, const std::vector<std::wstring>& words);
  ~StartedProgram() { End(true); }
  // Kills it first when asked, waits (bounded) for it to end and gives its exit code.
  DWORD End(bool kill) const;

  UniqueHandle process, thread;
  DWORD processId = 0, threadId = 0;
};

// A crash identifier that no other crash of this test run uses; plain ASCII, so it widens byte for byte.
std::string UniqueCrashIdentifier();
inline std::wstring WideId(const std::string& id) { return std::wstring(id.begin(), id.end()); }

// FormatMessage text of a Win32 error, for failure messages.
std::string Win32ErrorText(DWORD error);

}  // namespace kx::test

// Starting the service (and other helper programs) from a crashed application: no window, no inherited
// handles, and every wait bounded.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kx {

struct ChildRun {
  bool started = false;
  bool finished = false;  // false: it did not end within the limit and was terminated
  DWORD exitCode = 0;
  DWORD startError = ERROR_SUCCESS;  // GetLastError of CreateProcessW when it could not be started
};

// How a run went, for progress lines: "ended with exit code 0", "could not be started (error 2)", ...
std::string Describe(const ChildRun& run);

// "<program> <word> <word> ...", each word quoted as CommandLineToArgvW reads it back.
std::wstring CommandLineOf(const std::wstring& program, const std::vector<std::wstring>& words);

// Runs the program and waits at most limitMs for it; one that is still running then is terminated.
ChildRun RunChild(const std::wstring& program, const std::vector<std::wstring>& words, DWORD limitMs);
// The same with a ready-made argument text.
ChildRun RunChildWithArguments(const std::wstring& program, const std::wstring& arguments, DWORD limitMs);

// Starts the program and lets it run on its own, out of this process's job where the job allows it. Returns
// the CreateProcessW error, ERROR_SUCCESS when started.
DWORD StartDetached(const std::wstring& program, const std::vector<std::wstring>& words);

// The folder of this process's executable, without a trailing backslash.
std::wstring ThisProgramFolder();
// The full path of this process's executable.
std::wstring ThisProgramPath();

}  // namespace kx

// Starts the real KXWindowsClientService.exe (it sits next to the test program), or another program,
// and waits for it.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

namespace kx::test {

struct ServiceRun {
  bool finished = false;  // false: it did not end within the time-out and was terminated
  DWORD exitCode = 0;
  std::wstring error;  // why it could not be started, if it could not
};

std::wstring ThisProgramFolder();
std::wstring ServicePath();

// Quotes one word so that CommandLineToArgvW gives it back unchanged.
std::wstring QuoteWord(const std::wstring& word);

// Runs the service with these words after its own path. A service that does not end within the time-out
// is terminated and reported as unfinished.
ServiceRun RunService(std::initializer_list<std::wstring> words, DWORD timeoutMs = 60000);
// The same with a ready-made argument text (for command lines the quoting helper cannot express).
ServiceRun RunServiceWithArguments(const std::wstring& arguments, DWORD timeoutMs = 60000);

// Runs any program with this argument text and waits for it in the same way.
ServiceRun RunProgram(const std::wstring& path, const std::wstring& arguments, DWORD timeoutMs = 60000);

// A crash identifier that no other crash of this test run uses; plain ASCII, so it widens byte for byte.
std::string UniqueCrashIdentifier();
inline std::wstring WideId(const std::string& id) { return std::wstring(id.begin(), id.end()); }

// FormatMessage text of a Win32 error, for failure messages.
std::string Win32ErrorText(DWORD error);

}  // namespace kx::test

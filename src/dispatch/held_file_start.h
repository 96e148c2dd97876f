// Starting the very program file that the caller holds open (and checked), not whatever a path names by the
// time the platform opens it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace kx {

// The path of an open file with every junction and symbolic link resolved, in "\\?\" form. Nothing when the
// platform cannot say (GetLastError tells why).
std::optional<std::wstring> FinalPathOf(HANDLE file);

struct HeldStart {
  enum class Outcome {
    kStarted,     // running: its image is the held file
    kNotStarted,  // the platform refused the start (error)
    kOtherFile,   // the started image was not the held file (or could not be compared): ended before it ran
  } outcome = Outcome::kNotStarted;
  DWORD error = ERROR_SUCCESS;
  std::wstring image;  // the started image's path, for kOtherFile
};

// Starts `path` (the final path of `held`) with this command line, hidden, without handle inheritance and
// suspended; lets it run only when its image is the file `held` refers to, otherwise ends it before any of
// its code runs. Never waits for it. `held` must stay open until this returns.
HeldStart StartHeldProgram(HANDLE held, const std::wstring& path, std::wstring commandLine);

}  // namespace kx

// KXWindowsClientService: one task per process, chosen by the command word. Never opens a window and always
// exits with code 0; failures are reported only in the components' diagnostic logs.
#include <windows.h>

#include <optional>

#include "app/command_line.h"
#include "app/run_steps.h"
#include "common/system_libraries.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // Before anything else: the libraries of the task are loaded at its first call into each of them.
  kx::RestrictLibraryLoadsToSystem32();
  try {
    if (const std::optional<kx::Invocation> invocation = kx::ReadInvocation(::GetCommandLineW())) {
      kx::RunInvocation(*invocation);
    }
  } catch (...) {
    // Nothing to report to: the exit code stays 0 whatever happened.
  }
  return 0;
}

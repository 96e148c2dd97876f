// kxconsumer: installs the crash handler, then ends normally or, asked to, crashes.
//
//   kxconsumer           prints one line and ends with 0
//   kxconsumer crash     an access violation: reported, sent, and the process ends with 0xC0000005
//
// The handler's steps are printed as lines starting "[handler] ". The client directory is this program's
// folder: kx_win_client_config.cfg there names the servers.
#include <windows.h>

#include <cstring>
#include <string>

#include "kx/crash_handler.h"

namespace {

// Straight to the standard output handle: the crashed thread may hold the C runtime's stream lock.
void Say(const std::string& line) {
  const std::string text = line + "\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

void LogLine(const std::string& line) { Say("[handler] " + line); }

}  // namespace

int main(int argc, char** argv) {
  kx::CrashHandlerOptions options;
  options.productName = "kxconsumer";
  options.productVersion = "1.0";
  options.productBuild = "1";
  options.policy = kx::ReportPolicy::kSend;
  options.progress = LogLine;
  if (!kx::CrashHandler::Install(options)) return 3;

  if (argc == 2 && std::strcmp(argv[1], "crash") == 0) {
    volatile int* volatile address = reinterpret_cast<int*>(0x10);  // the first page is never mapped
    *address = 1;
  }
  Say("kxconsumer ran without crashing");
  return 0;
}

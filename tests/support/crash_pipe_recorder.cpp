// Stands in for the service in the tests of crashing_front_end. Started as the service is,
// "<client folder> createdump <crash identifier>", it takes the crash data message from the crash's pipe and,
// while the front end still waits for it, checks that the process and thread the message names are running.
// It reports in %TEMP%\kx-recorded-<crash identifier>.txt:
//
//   arguments: <its three words, joined by blanks>
//   process alive: 0|1
//   thread alive: 0|1
//   <an empty line>
//   <the message as received, without its NUL>
//
// Lines end with "\n". Exit code 0, or 1 when the command line or the pipe was not as expected.
#include <windows.h>

#include <shellapi.h>

#include <optional>
#include <string>

#include "common/win_handles.h"
#include "intake/crash_data_message.h"
#include "support/test_files.h"
#include "support/test_pipe_server.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return narrow;
}

std::string ReceiveMessage(HANDLE pipe) {
  std::string message;
  char chunk[65536];
  DWORD got = 0;
  while (message.find('\0') == std::string::npos && ::ReadFile(pipe, chunk, sizeof(chunk), &got, nullptr)) {
    message.append(chunk, got);
  }
  return message.substr(0, message.find('\0'));
}

template <typename Open, typename ExitCodeOf>
bool IsRunning(const std::optional<std::uint32_t>& id, Open open, ExitCodeOf exitCodeOf) {
  if (!id) return false;
  const kx::UniqueHandle handle(open(*id));
  DWORD exitCode = 0;
  return handle && exitCodeOf(handle.get(), &exitCode) && exitCode == STILL_ACTIVE;
}

int Record(int argc, wchar_t** argv) {
  if (argc != 4) return 1;
  const kx::UniqueFileHandle pipe(::CreateFileW(kx::test::CrashPipeName(Narrow(argv[3])).c_str(),
                                                GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                                nullptr));
  if (!pipe) return 1;
  const std::string message = ReceiveMessage(pipe.get());

  auto records = kx::ReadCrashRecords(message);
  const bool processAlive = IsRunning(
      kx::ReadCrashNumber(records["ProcessId"]),
      [](DWORD id) { return ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id); },
      [](HANDLE handle, DWORD* code) { return ::GetExitCodeProcess(handle, code) != FALSE; });
  const bool threadAlive = IsRunning(
      kx::ReadCrashNumber(records["ThreadId"]),
      [](DWORD id) { return ::OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, id); },
      [](HANDLE handle, DWORD* code) { return ::GetExitCodeThread(handle, code) != FALSE; });

  wchar_t temp[MAX_PATH + 1] = L"";
  ::GetTempPathW(MAX_PATH + 1, temp);
  kx::test::WriteFileBytes(std::wstring(temp) + L"kx-recorded-" + argv[3] + L".txt",
                           "arguments: " + Narrow(argv[1]) + " " + Narrow(argv[2]) + " " + Narrow(argv[3]) +
                               "\nprocess alive: " + (processAlive ? "1" : "0") +
                               "\nthread alive: " + (threadAlive ? "1" : "0") + "\n\n" + message);
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  const kx::UniqueLocalMem<wchar_t*> argv(::CommandLineToArgvW(::GetCommandLineW(), &argc));
  return argv ? Record(argc, argv.get()) : 1;
}
